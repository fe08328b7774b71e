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

#include <memory>

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

// What an operation decided from its reply, carried from its reply callback to the end of the exchange.
// Both run on the delivery thread, one after the other.
using Decision = std::shared_ptr<std::optional<OperationEnd>>;

OperationEnd refused(const QString &why)
{
    return {OperationEnd::Kind::Refused, why};
}

// The transport's observer for an operation: tells `ended` what the reply callback decided or, when the
// callback never ran, why not.
ExchangeObserver endOf(const Decision &decision, EndObserver ended)
{
    if (!ended)
        return {};
    return [decision, ended = std::move(ended)](const Exchange &exchange) {
        if (*decision) {
            ended(**decision);
            return;
        }
        switch (exchange.end) {
        case Exchange::End::NoAnswer:
        case Exchange::End::Cancelled:
            ended({OperationEnd::Kind::NoAnswer, {}});
            return;
        case Exchange::End::NotSent:
            ended(refused(QStringLiteral("the request address is not valid")));
            return;
        case Exchange::End::Answered:
            break;
        }
        // A reply the operation cannot read (a JSON array) gives no callback.
        ended(refused(refusalOf(exchange).value_or(QStringLiteral("the reply is not a JSON object"))));
    };
}

} // namespace

std::optional<QString> refusalOf(const Exchange &exchange)
{
    const QJsonValue error = exchange.decoded.object.value(QStringLiteral("error"));
    if (exchange.decoded.kind == DecodedBody::Kind::Object && error.isString() && !error.toString().isEmpty())
        return error.toString();
    if (exchange.httpStatus < 200 || exchange.httpStatus >= 300)
        return QStringLiteral("HTTP status %1").arg(exchange.httpStatus);
    return std::nullopt;
}

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
    if (code == kRefusedCode || !token || token->isEmpty()) {
        const QString error = reply.stringMember(QStringLiteral("error")).value_or(QString());
        outcome.refusal = !error.isEmpty()       ? error
                          : code == kRefusedCode ? QStringLiteral("the e-mail address or the password was refused")
                          : token                ? QStringLiteral("the sign-in reply holds an empty token")
                                                 : QStringLiteral("the sign-in reply holds no token");
        return outcome;
    }
    if (!isUsableToken(*token)) {
        outcome.unusableToken = true;
        outcome.refusal = QStringLiteral("the sign-in reply holds a token that cannot be sent");
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

void login(const QString &email, const QString &password, SuccessCallback callback, EndObserver ended)
{
    const QMap<QString, QString> body{{QStringLiteral("Email"), email}, {QStringLiteral("Password"), password}};
    console::printLine(email + QLatin1Char(' ') + redactedSecret(password));
    const auto decision = std::make_shared<std::optional<OperationEnd>>();
    sendPost(
        endpoints::apiBaseUrl() + QStringLiteral("/login"), body,
        UserDefaults::standard().stringForKey(keys::kToken).value_or(QString()),
        [callback = std::move(callback), decision](const ResponseValue &value) {
            const LoginOutcome outcome = loginOutcome(value);
            console::printLine(printedReply(value));
            console::printLine(outcome.codeLine);
            if (outcome.unusableToken)
                console::logLine(u"vennacott-ddns: the sign-in reply holds a token that cannot be sent; ignored");
            if (outcome.token.isEmpty()) {
                *decision = refused(outcome.refusal);
                callback(false);
                return;
            }
            UserDefaults::standard().setObject(outcome.token, keys::kToken);
            *decision = OperationEnd{OperationEnd::Kind::Done, {}};
            callback(true);
        },
        endOf(decision, std::move(ended)));
}

void registerHost(const QString &name, SuccessTextCallback callback, EndObserver ended)
{
    const QString problem = hostNameProblem(name);
    if (!problem.isEmpty()) {
        // Answered like the server would, on the delivery thread and after this call has returned.
        UrlSession::shared().deliver([callback = std::move(callback), ended = std::move(ended), problem] {
            callback(false, problem);
            if (ended)
                ended(refused(problem));
        });
        return;
    }
    const auto decision = std::make_shared<std::optional<OperationEnd>>();
    sendGet(
        endpoints::updateBaseUrl() + QStringLiteral("/new/") + name,
        [callback = std::move(callback), decision](const ResponseValue &value) {
            console::printLine(printedReply(value));
            const RegistrationOutcome outcome = registrationOutcome(value);
            *decision = outcome.success ? OperationEnd{OperationEnd::Kind::Done, {}} : refused(outcome.text);
            callback(outcome.success, outcome.text);
        },
        endOf(decision, std::move(ended)));
}

void setSavedHost(const QString &hostLink, SuccessCallback callback, EndObserver ended)
{
    ExchangeObserver observer;
    if (ended) {
        // The callback reports any answer; whether the backend saved the link shows in the exchange.
        ExchangeObserver unanswered = endOf(std::make_shared<std::optional<OperationEnd>>(), ended);
        observer = [ended = std::move(ended), unanswered = std::move(unanswered)](const Exchange &exchange) {
            if (exchange.end != Exchange::End::Answered) {
                unanswered(exchange);
                return;
            }
            const std::optional<QString> refusal = refusalOf(exchange);
            ended(refusal ? refused(*refusal) : OperationEnd{OperationEnd::Kind::Done, {}});
        };
    }
    sendPost(
        endpoints::apiBaseUrl() + QStringLiteral("/secure/api/save_dns"), {{QStringLiteral("Key"), hostLink}},
        UserDefaults::standard().stringForKey(keys::kToken).value_or(QString()),
        [callback = std::move(callback)](const ResponseValue &) { callback(true); }, std::move(observer));
}

void getSavedHost(SuccessTextCallback callback, EndObserver ended)
{
    const auto decision = std::make_shared<std::optional<OperationEnd>>();
    sendPost(
        endpoints::apiBaseUrl() + QStringLiteral("/secure/api/get_dns"), {},
        UserDefaults::standard().stringForKey(keys::kToken).value_or(QString()),
        [callback = std::move(callback), decision](const ResponseValue &value) {
            if (value.isText()) {
                *decision = OperationEnd{OperationEnd::Kind::Done, {}};
                callback(true, value.textValue());
            } else {
                const QString error = value.stringMember(QStringLiteral("error")).value_or(QString());
                *decision = refused(!error.isEmpty() ? error : QStringLiteral("the reply holds no saved link"));
                callback(false, QString());
            }
        },
        endOf(decision, std::move(ended)));
}

} // namespace vennacott
