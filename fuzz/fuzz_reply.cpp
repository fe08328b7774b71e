// A reply body through decoding, the sign-in and registration decisions and the lines printed for it:
// never a crash, one line per print, never a token or an update key in a printed line.
#include "api.h"
#include "fuzzsupport.h"
#include "transport.h"

#include <QJsonDocument>

using namespace vennacott;

namespace {

// Planted in the token and the update key; an input that shows it anywhere of its own is skipped.
const QString kSecret = QStringLiteral("c0ffee5ecret");

void check(const ResponseValue &reply)
{
    const RegistrationOutcome registration = registrationOutcome(reply);
    FUZZ_CHECK(!registration.success || (reply.isObject() && !registration.text.isEmpty()));
    const LoginOutcome login = loginOutcome(reply);
    FUZZ_CHECK(login.token.isEmpty() || login.token == reply.stringMember(QStringLiteral("token")));
    fuzz::printedLines().clear();
    console::printLine(printedReply(reply));
    console::printLine(login.codeLine);
    for (const QByteArray &line : fuzz::printedLines())
        FUZZ_CHECK(!line.contains(kSecret.toLatin1()));
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    fuzz::keepPrintedLines();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray body(reinterpret_cast<const char *>(data), static_cast<qsizetype>(size));
    const DecodedBody decoded = decodeBody(body);
    const QString text = textOfBody(body);
    if ((body + text.toUtf8() + QJsonDocument(decoded.object).toJson() + decoded.error.toUtf8())
            .contains(kSecret.toLatin1()))
        return 0;
    if (decoded.kind == DecodedBody::Kind::Object) {
        check(ResponseValue::object(decoded.object));
    } else if (decoded.kind == DecodedBody::Kind::Undecodable) {
        console::printLine(decoded.error);  // the reader's error, printed by a GET
        check(ResponseValue::falseValue()); // what a GET delivers
        check(ResponseValue::text(text));   // what a POST delivers
    }
    // The secret inside the body's text as the token and as the update key, beside the body's own members.
    QJsonObject planted = decoded.object;
    planted.insert(QStringLiteral("token"), text + kSecret + text);
    planted.insert(QStringLiteral("update_link"), "/update/" + text + '/' + kSecret + QString(text).remove(u'/'));
    check(ResponseValue::object(planted));
    return 0;
}
