// The saved-host reply through the cut and the check of its form: never a crash; what would be stored is a
// link of the update server's form within its limits, and the quotes of a JSON string never end up in it.
#include "fuzzsupport.h"
#include "savedhost.h"
#include "transport.h"

#include <QJsonArray>
#include <QJsonDocument>

using namespace vennacott;

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    fuzz::keepPrintedLines();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray body(reinterpret_cast<const char *>(data), static_cast<qsizetype>(size));
    // As getSavedHost delivers it: a body that does not decode as JSON arrives as its text.
    if (decodeBody(body).kind != DecodedBody::Kind::Undecodable)
        return 0;
    const QString text = textOfBody(body);
    const std::optional<SavedHost> cut = cutSavedHost(text);
    const std::optional<SavedHost> accepted = acceptedSavedHost(text);
    FUZZ_CHECK(!accepted || (cut && accepted->link == cut->link && accepted->hostname == cut->hostname));
    if (accepted) {
        FUZZ_CHECK(accepted->link.startsWith(QStringLiteral("/update/") + accepted->hostname + QLatin1Char('/')));
        FUZZ_CHECK(accepted->link.size() <= 512 && !accepted->hostname.isEmpty());
    }
    if (!cut)
        return 0;
    FUZZ_CHECK(cut->link.contains(cut->hostname) && cut->link.size() <= text.size());
    // A text that is one JSON string is cut from its value: its quotes belong to the JSON, not to the link.
    const QJsonDocument json = QJsonDocument::fromJson('[' + text.toUtf8() + ']');
    if (json.array().size() == 1 && json.array().at(0).isString())
        FUZZ_CHECK(cut->link == json.array().at(0).toString());
    return 0;
}
