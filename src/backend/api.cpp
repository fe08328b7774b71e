// The account and host API: sign in, register a host name, save and fetch the saved update link.
#include "api.h"

#include "console.h"
#include "endpoints.h"
#include "settingskeys.h"
#include "transport.h"
#include "urlsession.h"
#include "userdefaults.h"

#include <QJsonDocument>

namespace vennacott {
namespace {

constexpr qint64 kRefusedCode = 401;

QString redacted(const QString &secret)
{
    return secret.isEmpty() ? QString() : kRedacted;
}

// The reply as printed: the token, if the backend sent one, never reaches the terminal or the journal.
QString redactedDescription(const ResponseValue &value)
{
    const std::optional<QString> token = value.stringMember(QStringLiteral("token"));
    if (!token || token->isEmpty())
        return value.description();
    QJsonObject object = value.objectValue();
    object.insert(QStringLiteral("token"), kRedacted);
    return ResponseValue::object(object).description();
}

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
    console::printLine(email + QLatin1Char(' ') + redacted(password));
    sendPost(endpoints::apiBaseUrl() + QStringLiteral("/login"), body,
             [callback = std::move(callback)](const ResponseValue &value) {
                 console::printLine(redactedDescription(value));
                 const std::optional<QString> token = value.stringMember(QStringLiteral("token"));
                 const std::optional<qint64> code = value.integerMember(QStringLiteral("code"));
                 console::printLine(
                     QStringLiteral("3 %1 %2").arg(redacted(token.value_or(QString()))).arg(code.value_or(1)));

                 if (code == kRefusedCode || !token || token->isEmpty()) {
                     callback(false);
                     return;
                 }
                 if (!isUsableToken(*token)) {
                     console::logLine(u"vennacott-ddns: the sign-in reply holds a token that cannot be sent; ignored");
                     callback(false);
                     return;
                 }
                 UserDefaults::standard().setObject(*token, keys::kToken);
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
                console::printLine(value.description());
                const QString error = value.stringMember(QStringLiteral("error")).value_or(QString());
                if (!error.isEmpty()) {
                    callback(false, error);
                    return;
                }
                callback(true, value.stringMember(QStringLiteral("update_link")).value_or(QString()));
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
