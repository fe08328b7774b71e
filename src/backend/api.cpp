// The account and host API: sign in, register a host name, save and fetch the saved update link.
#include "api.h"

#include "console.h"
#include "endpoints.h"
#include "redaction.h"
#include "settingskeys.h"
#include "transport.h"
#include "urlsession.h"
#include "userdefaults.h"

#include <QJsonDocument>

namespace vennacott {
namespace {

constexpr qint64 kRefusedCode = 401;
const QString kUpdateLinkMember = QStringLiteral("update_link");

// A token is sent in a header: one with control characters could inject headers and is refused.
bool isUsableToken(const QString &token)
{
    for (const QChar c : token) {
        if (c.unicode() < 0x20 || c.unicode() == 0x7f)
            return false;
    }
    return true;
}

} // namespace

QString printedReply(const ResponseValue &reply)
{
    if (!reply.isObject())
        return reply.description();
    QJsonObject object = reply.objectValue();
    const std::optional<QString> token = reply.stringMember(QStringLiteral("token"));
    if (token && !token->isEmpty())
        object.insert(QStringLiteral("token"), kRedacted);
    const std::optional<QString> link = reply.stringMember(kUpdateLinkMember);
    if (link && !link->isEmpty())
        object.insert(kUpdateLinkMember, redactedLink(*link));
    return ResponseValue::object(object).description();
}

LoginOutcome loginOutcome(const ResponseValue &reply)
{
    LoginOutcome outcome;
    const std::optional<QString> token = reply.stringMember(QStringLiteral("token"));
    const std::optional<qint64> code = reply.integerMember(QStringLiteral("code"));
    outcome.codeLine = QStringLiteral("3 ") + redactedSecret(token.value_or(QString())) + QLatin1Char(' ') +
                       QString::number(code.value_or(1));
    if (code == kRefusedCode || !token || token->isEmpty())
        return outcome;
    if (!isUsableToken(*token)) {
        outcome.unusableToken = true;
        return outcome;
    }
    outcome.token = *token;
    return outcome;
}

RegistrationOutcome registrationOutcome(const ResponseValue &reply)
{
    if (!reply.isObject())
        return {false, QStringLiteral("the update server's reply is not JSON")};
    const QString error = reply.stringMember(QStringLiteral("error")).value_or(QString());
    if (!error.isEmpty())
        return {false, error};
    const QString link = reply.stringMember(kUpdateLinkMember).value_or(QString());
    if (link.isEmpty())
        return {false, QStringLiteral("the update server's reply holds no update link")};
    return {true, link};
}

QString hostNameProblem(const QString &name)
{
    if (name == QLatin1String(".") || name == QLatin1String(".."))
        return QStringLiteral("a host name cannot be \".\" or \"..\"");
    for (const QChar c : name) {
        const char16_t u = c.unicode();
        if (u <= 0x20 || u >= 0x7f)
            return QStringLiteral("a host name may only hold printable ASCII characters, without blanks");
        if (u == '/' || u == '?' || u == '#' || u == '%')
            return QStringLiteral("a host name cannot hold \"/\", \"?\", \"#\" or \"%\"");
    }
    return QString();
}

void login(const QString &email, const QString &password, SuccessCallback callback)
{
    const QMap<QString, QString> body{{QStringLiteral("Email"), email}, {QStringLiteral("Password"), password}};
    console::printLine(email + QLatin1Char(' ') + redactedSecret(password));
    sendPost(endpoints::apiBaseUrl() + QStringLiteral("/login"), body,
             [callback = std::move(callback)](const ResponseValue &value) {
                 const LoginOutcome outcome = loginOutcome(value);
                 console::printLine(printedReply(value));
                 console::printLine(outcome.codeLine);
                 if (outcome.unusableToken)
                     console::logLine(u"vennacott-ddns: the sign-in reply holds a token that cannot be sent; ignored");
                 if (outcome.token.isEmpty()) {
                     callback(false);
                     return;
                 }
                 UserDefaults::standard().setObject(outcome.token, keys::kToken);
                 callback(true);
             });
}

void registerHost(const QString &name, SuccessTextCallback callback)
{
    const QString problem = hostNameProblem(name);
    if (!problem.isEmpty()) {
        // Answered like the server would, on the delivery thread and after this call has returned.
        UrlSession::shared().deliver([callback = std::move(callback), problem] { callback(false, problem); });
        return;
    }
    sendGet(endpoints::updateBaseUrl() + QStringLiteral("/new/") + name,
            [callback = std::move(callback)](const ResponseValue &value) {
                console::printLine(printedReply(value));
                const RegistrationOutcome outcome = registrationOutcome(value);
                callback(outcome.success, outcome.text);
            });
}

void setSavedHost(const QString &hostLink, SuccessCallback callback)
{
    sendPost(endpoints::apiBaseUrl() + QStringLiteral("/secure/api/save_dns"), {{QStringLiteral("Key"), hostLink}},
             [callback = std::move(callback)](const ResponseValue &) { callback(true); });
}

void getSavedHost(SuccessTextCallback callback)
{
    sendPost(endpoints::apiBaseUrl() + QStringLiteral("/secure/api/get_dns"), {},
             [callback = std::move(callback)](const ResponseValue &value) {
                 if (value.isText())
                     callback(true, value.textValue());
                 else
                     callback(false, QString());
             });
}

} // namespace vennacott
