// The saved-host reply through the cut and the check of its form: never a crash; what would be stored is a
// link of the update server's form within its limits, and the quotes of a JSON string never end up in it.
#include "fuzzsupport.h"
#include "savedhost.h"
#include "transport.h"

#include <QJsonArray>
#include <QJsonDocument>

using namespace vennacott;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray body(reinterpret_cast<const char *>(data), static_cast<qsizetype>(size));
    if (decodeBody(body).kind != DecodedBody::Kind::Undecodable) // getSavedHost delivers such a body as its text
        return 0;
    const QString text = textOfBody(body);
    const std::optional<SavedHost> cut = cutSavedHost(text), accepted = acceptedSavedHost(text);
    FUZZ_CHECK(!accepted || (cut && accepted->link == cut->link && accepted->hostname == cut->hostname));
    FUZZ_CHECK(!accepted || (accepted->link.startsWith("/update/" + accepted->hostname + '/') &&
                             accepted->link.size() <= 512 && !accepted->hostname.isEmpty()));
    if (!cut)
        return 0;
    FUZZ_CHECK(cut->link.contains(cut->hostname) && cut->link.size() <= text.size());
    // A text that is one JSON string is cut from its value: its quotes belong to the JSON, not to the link.
    const QJsonArray json = QJsonDocument::fromJson('[' + text.toUtf8() + ']').array();
    FUZZ_CHECK(json.size() != 1 || !json.at(0).isString() || cut->link == json.at(0).toString());
    return 0;
}
