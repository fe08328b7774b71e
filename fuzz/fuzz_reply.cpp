// A reply body through decoding, the sign-in and registration decisions and the lines printed for it:
// never a crash, one line per print, never a token or an update key in a printed line.
#include "api.h"
#include "fuzzsupport.h"
#include "transport.h"

#include <QJsonArray>
#include <QJsonDocument>

using namespace vennacott;

namespace {

// The lines the account and host API prints for a reply (the reply, then the sign-in's code line), each
// checked to be one line as it is printed.
QList<QByteArray> linesFor(const ResponseValue &reply)
{
    fuzz::printedLines().clear();
    console::printLine(printedReply(reply));
    console::printLine(loginOutcome(reply).codeLine);
    return fuzz::printedLines();
}

// How `secret` could show in a printed line: as it is, or written as a JSON string.
QList<QByteArray> printedForms(const QString &secret)
{
    const QByteArray json = QJsonDocument(QJsonArray{secret}).toJson(QJsonDocument::Compact);
    fuzz::printedLines().clear();
    console::printLine(secret);
    console::printLine(QString::fromUtf8(json.mid(2, json.size() - 4)));
    QList<QByteArray> forms = fuzz::printedLines();
    for (QByteArray &form : forms)
        form.chop(1);
    return forms;
}

// The reply with its secrets, the token and the update key (the link's last segment), replaced by "x".
ResponseValue withoutSecrets(const ResponseValue &reply, QStringList *secrets)
{
    QJsonObject object = reply.objectValue();
    if (const std::optional<QString> token = reply.stringMember(QStringLiteral("token"))) {
        secrets->append(*token);
        object.insert(QStringLiteral("token"), QStringLiteral("x"));
    }
    if (std::optional<QString> link = reply.stringMember(QStringLiteral("update_link"))) {
        while (link->endsWith(QLatin1Char('/')))
            link->chop(1);
        const qsizetype slash = link->lastIndexOf(QLatin1Char('/'));
        secrets->append(link->mid(slash + 1));
        object.insert(QStringLiteral("update_link"), link->left(slash + 1) + QStringLiteral("x"));
    }
    return reply.isObject() ? ResponseValue::object(object) : reply;
}

void checkReply(const ResponseValue &reply)
{
    const RegistrationOutcome registration = registrationOutcome(reply);
    FUZZ_CHECK(!registration.success || (reply.isObject() && !registration.text.isEmpty()));
    const LoginOutcome login = loginOutcome(reply);
    FUZZ_CHECK(login.token.isEmpty() || login.token == reply.stringMember(QStringLiteral("token")));

    QStringList secrets;
    const QList<QByteArray> innocent = linesFor(withoutSecrets(reply, &secrets));
    const QList<QByteArray> lines = linesFor(reply);
    for (const QString &secret : secrets) {
        if (secret.size() < 4)
            continue;
        // A secret that the same reply without it would print anyway is no leak ("oken" is in "token").
        for (const QByteArray &form : printedForms(secret)) {
            for (qsizetype i = 0; i < lines.size(); ++i)
                FUZZ_CHECK(innocent.at(i).contains(form) || !lines.at(i).contains(form));
        }
    }
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
    if (decoded.kind == DecodedBody::Kind::Object) {
        checkReply(ResponseValue::object(decoded.object));
    } else if (decoded.kind == DecodedBody::Kind::Undecodable) {
        console::printLine(decoded.error);       // the reader's error, printed by a GET
        checkReply(ResponseValue::falseValue()); // what a GET delivers
        checkReply(ResponseValue::text(text));   // what a POST delivers
    }
    // The body's text as the token and as the update key, whatever it holds.
    QJsonObject planted = decoded.object;
    planted.insert(QStringLiteral("token"), text);
    planted.insert(QStringLiteral("update_link"), QStringLiteral("/update/myhost/") + text);
    checkReply(ResponseValue::object(planted));
    return 0;
}
