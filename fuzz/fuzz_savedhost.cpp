// The saved-host reply through the cut and into the settings store: never a crash; what is stored is what
// the cut found and the quotes of a JSON string never end up in the link. (That any text the store writes reads
// back unchanged, fuzz_settings shows.)
#include "fuzzsupport.h"
#include "savedhost.h"
#include "settingskeys.h"
#include "transport.h"
#include "userdefaults.h"

#include <QJsonArray>
#include <QJsonDocument>

using namespace vennacott;

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    // UserDefaults::standard() keeps its file under $XDG_CONFIG_HOME.
    qputenv("XDG_CONFIG_HOME", fuzz::scratchFolder().toLocal8Bit());
    fuzz::keepPrintedLines();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray body(reinterpret_cast<const char *>(data), static_cast<qsizetype>(size));
    // As getSavedHost delivers it: a body that does not decode as JSON arrives as its text.
    const bool isText = decodeBody(body).kind == DecodedBody::Kind::Undecodable;
    const QString text = isText ? textOfBody(body) : QString();
    UserDefaults &store = UserDefaults::standard();
    const auto stored = [&store] {
        return qMakePair(store.stringForKey(keys::kHostname), store.stringForKey(keys::kDnsLink));
    };
    const auto before = stored();
    fuzz::printedLines().clear();
    storeSavedHost(isText, text);
    FUZZ_CHECK(fuzz::printedLines().isEmpty()); // every write reached the disk

    const std::optional<SavedHost> cut = isText && !text.isEmpty() ? cutSavedHost(text) : std::nullopt;
    if (!cut) {
        FUZZ_CHECK(stored() == before);
        return 0;
    }
    const QString hostname = store.stringForKey(keys::kHostname).value_or(QStringLiteral("(none)"));
    const QString link = store.stringForKey(keys::kDnsLink).value_or(QStringLiteral("(none)"));
    FUZZ_CHECK(hostname == cut->hostname && link == cut->link);
    FUZZ_CHECK(link.contains(hostname) && link.size() <= text.size());
    // A text that is one JSON string is stored as its value: its quotes belong to the JSON, not to the link.
    const QJsonDocument json = QJsonDocument::fromJson('[' + text.toUtf8() + ']');
    if (json.array().size() == 1 && json.array().at(0).isString())
        FUZZ_CHECK(link == json.array().at(0).toString());
    return 0;
}
