// The rules of the backend API and of the update server, independent of HTTP.
#include "service.h"

#include "console.h"
#include "secrets.h"
#include "store.h"

#include <QDateTime>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonParseError>

namespace vennacott::refsvc {
namespace {

constexpr qsizetype kMaxEmailLength = 254;
constexpr qsizetype kMaxPasswordLength = 1024;
constexpr qsizetype kMaxLinkLength = 512;
constexpr qsizetype kMaxTokenLength = 256;
constexpr int kTokenBytes = 32;
constexpr int kUpdateKeyBytes = 16;

const QString kLinkPrefix = QStringLiteral("/update/");

std::optional<QJsonObject> parseObject(const QByteArray &body, QString *problem)
{
    if (body.trimmed().isEmpty()) {
        *problem = QStringLiteral("the request needs a JSON object as its body");
        return std::nullopt;
    }
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(body, &error);
    if (error.error != QJsonParseError::NoError) {
        *problem =
            QStringLiteral("the body is not valid JSON: %1 at offset %2").arg(error.errorString()).arg(error.offset);
        return std::nullopt;
    }
    if (!document.isObject()) {
        *problem = QStringLiteral("the body must be a JSON object");
        return std::nullopt;
    }
    return document.object();
}

bool isEmailAddress(const QString &email)
{
    if (email.size() < 3 || email.size() > kMaxEmailLength)
        return false;
    const qsizetype at = email.lastIndexOf(QLatin1Char('@'));
    if (at <= 0 || at == email.size() - 1)
        return false;
    for (const QChar c : email) {
        if (c.isSpace() || c.category() == QChar::Other_Control)
            return false;
    }
    return true;
}

qsizetype characterCount(const QString &text)
{
    return text.toUcs4().size();
}

// The link is handed back as a JSON string whose quotes the client strips without decoding escapes, so only
// characters that JSON writes unescaped are stored.
bool isStorableLink(const QString &link)
{
    if (link.isEmpty() || link.size() > kMaxLinkLength)
        return false;
    for (const QChar c : link) {
        const char16_t u = c.unicode();
        if (u <= 0x20 || u >= 0x7f || u == '"' || u == '\\')
            return false;
    }
    return true;
}

QString addressText(const QHostAddress &address)
{
    bool mapped = false;
    const quint32 v4 = address.toIPv4Address(&mapped);
    return mapped ? QHostAddress(v4).toString() : address.toString();
}

// 429 with Retry-After in whole seconds.
Reply tooMany(std::chrono::milliseconds wait, const QString &what)
{
    const auto seconds = std::chrono::ceil<std::chrono::seconds>(wait).count();
    Reply reply = Reply::error(429, QStringLiteral("%1; try again in %2 seconds").arg(what).arg(seconds));
    reply.headers.append(qMakePair(QByteArray("Retry-After"), QByteArray::number(seconds)));
    return reply;
}

} // namespace

Reply Reply::json(const QJsonObject &object, int status)
{
    return Reply{status, "application/json", QJsonDocument(object).toJson(QJsonDocument::Compact), {}};
}

Reply Reply::error(int status, const QString &message)
{
    return json(QJsonObject{{QStringLiteral("code"), status}, {QStringLiteral("error"), message}}, status);
}

bool isValidHostName(QStringView name)
{
    if (name.isEmpty() || name.size() > 63 || name.front() == QLatin1Char('-') || name.back() == QLatin1Char('-'))
        return false;
    for (const QChar c : name) {
        const char16_t u = c.unicode();
        const bool ok = (u >= 'a' && u <= 'z') || (u >= 'A' && u <= 'Z') || (u >= '0' && u <= '9') || u == '-';
        if (!ok)
            return false;
    }
    return true;
}

ReferenceService::ReferenceService(Store &store, SignInLimits signInLimits)
    : m_store(store)
    , m_failuresPerAddress(signInLimits.perAddress)
    , m_failuresPerAccount(signInLimits.perAccount)
    , m_newAccounts(signInLimits.newAccounts)
{}

Reply ReferenceService::login(const QByteArray &body, const QHostAddress &caller)
{
    QString problem;
    const std::optional<QJsonObject> object = parseObject(body, &problem);
    if (!object)
        return Reply::error(400, problem);
    const QJsonValue emailValue = object->value(QStringLiteral("Email"));
    const QJsonValue passwordValue = object->value(QStringLiteral("Password"));
    if (!emailValue.isString() || !passwordValue.isString())
        return Reply::error(400, QStringLiteral("the body must hold the texts \"Email\" and \"Password\""));
    const QString email = emailValue.toString();
    const QString password = passwordValue.toString();
    if (!isEmailAddress(email))
        return Reply::error(400, QStringLiteral("\"Email\" must be an e-mail address (name@domain) of at most %1 "
                                                "characters, without blanks")
                                     .arg(kMaxEmailLength));
    if (characterCount(password) > kMaxPasswordLength)
        return Reply::error(400, QStringLiteral("\"Password\" must be at most %1 characters").arg(kMaxPasswordLength));

    // Checked before the password, so that refused guesses cost no password hashing.
    const QString emailKey = email.toLower();
    const QString address = addressText(caller);
    const QString pairKey = emailKey + QLatin1Char(' ') + address;
    const std::chrono::milliseconds fromHere = m_failuresPerAddress.refusedFor(pairKey);
    const std::chrono::milliseconds fromAnywhere = m_failuresPerAccount.refusedFor(emailKey);
    if (fromHere > std::chrono::milliseconds::zero() || fromAnywhere > std::chrono::milliseconds::zero())
        return tooMany(std::max(fromHere, fromAnywhere),
                       fromHere >= fromAnywhere
                           ? QStringLiteral("too many failed sign-ins for this e-mail address from "
                                            "your address")
                           : QStringLiteral("too many failed sign-ins for this e-mail address"));
    bool wrongPassword = false;
    Reply reply = signIn(email, emailKey, password, address, &wrongPassword);
    if (wrongPassword) {
        m_failuresPerAddress.record(pairKey);
        m_failuresPerAccount.record(emailKey);
    } else if (reply.status == 200) {
        m_failuresPerAddress.forget(pairKey);
        m_failuresPerAccount.forget(emailKey);
    }
    return reply;
}

Reply ReferenceService::signIn(const QString &email, const QString &emailKey, const QString &password,
                               const QString &caller, bool *wrongPassword)
{
    std::optional<Account> account;
    if (!m_store.findAccount(emailKey, &account))
        return internalError();
    if (account) {
        *wrongPassword = !verifyPassword(password, account->passwordHash);
        if (*wrongPassword)
            return Reply::error(401, QStringLiteral("wrong password for this e-mail address"));
        return issueToken(account->id);
    }

    // First sign-in with this address: it creates the account, as a local demo service may. A password too
    // short for a new account is a refused sign-in (401), which is how the client reads it; it guesses
    // nothing, so it is not counted.
    if (characterCount(password) < kMinNewPasswordLength)
        return Reply::error(401, QStringLiteral("there is no account for this e-mail address yet; a new account "
                                                "needs a password of at least %1 characters")
                                     .arg(kMinNewPasswordLength));
    const std::chrono::milliseconds wait = m_newAccounts.refusedFor(caller);
    if (wait > std::chrono::milliseconds::zero())
        return tooMany(wait, QStringLiteral("too many new accounts from your address"));
    const QString token = randomHex(kTokenBytes);
    switch (m_store.createAccount(email, emailKey, hashPassword(password), fingerprint(token))) {
    case Store::Outcome::Done:
        m_newAccounts.record(caller);
        return Reply::json({{QStringLiteral("token"), token}, {QStringLiteral("created"), true}});
    case Store::Outcome::Conflict:
        return Reply::error(409, QStringLiteral("this account was created a moment ago; sign in again"));
    case Store::Outcome::Failed:
        break;
    }
    return internalError();
}

Reply ReferenceService::issueToken(qint64 accountId)
{
    const QString token = randomHex(kTokenBytes);
    if (!m_store.addToken(accountId, fingerprint(token)))
        return internalError();
    return Reply::json({{QStringLiteral("token"), token}});
}

std::optional<qint64> ReferenceService::authorize(const QByteArray &authorization, Reply *refusal)
{
    static const QByteArray scheme = "bearer ";
    const QByteArray token = authorization.left(scheme.size()).toLower() == scheme
                                 ? authorization.mid(scheme.size()).trimmed()
                                 : QByteArray();
    const auto refuse = [refusal](const QString &message) {
        *refusal = Reply::error(401, message);
        refusal->headers.append(qMakePair(QByteArray("WWW-Authenticate"), QByteArray("Bearer")));
        return std::nullopt;
    };
    if (token.isEmpty())
        return refuse(QStringLiteral("sign in first: the request carries no bearer token"));
    std::optional<qint64> account;
    if (token.size() <= kMaxTokenLength &&
        !m_store.accountForToken(fingerprint(QString::fromLatin1(token)), &account)) {
        *refusal = internalError();
        return std::nullopt;
    }
    if (!account)
        return refuse(QStringLiteral("the bearer token is not valid; sign in again"));
    return account;
}

Reply ReferenceService::saveDns(const QByteArray &authorization, const QByteArray &body)
{
    Reply refusal;
    const std::optional<qint64> account = authorize(authorization, &refusal);
    if (!account)
        return refusal;
    QString problem;
    const std::optional<QJsonObject> object = parseObject(body, &problem);
    if (!object)
        return Reply::error(400, problem);
    const QJsonValue key = object->value(QStringLiteral("Key"));
    if (!key.isString())
        return Reply::error(400, QStringLiteral("the body must hold the update link as the text \"Key\""));
    const QString link = key.toString();
    if (!isStorableLink(link))
        return Reply::error(400, QStringLiteral("\"Key\" must be an update link: 1 to %1 printable ASCII characters "
                                                "without blanks, quotes or backslashes")
                                     .arg(kMaxLinkLength));
    if (!m_store.setSavedLink(*account, link))
        return internalError();
    return Reply::json({{QStringLiteral("saved"), true}});
}

Reply ReferenceService::getDns(const QByteArray &authorization)
{
    Reply refusal;
    const std::optional<qint64> account = authorize(authorization, &refusal);
    if (!account)
        return refusal;
    std::optional<QString> link;
    if (!m_store.savedLink(*account, &link))
        return internalError();
    if (!link)
        return Reply::error(404, QStringLiteral("no update link is saved for this account"));
    // The reply is the link as a bare JSON string, which QJsonDocument cannot write at top level.
    const QByteArray array = QJsonDocument(QJsonArray{*link}).toJson(QJsonDocument::Compact);
    return Reply{200, "application/json", array.mid(1, array.size() - 2), {}};
}

Reply ReferenceService::registerHost(const QString &name)
{
    if (!isValidHostName(name))
        return Reply::error(400, QStringLiteral("not a valid host name: use 1 to 63 letters (a-z), digits and "
                                                "hyphens, not starting or ending with a hyphen"));
    const QString key = randomHex(kUpdateKeyBytes);
    switch (m_store.createHost(name, name.toLower(), fingerprint(key))) {
    case Store::Outcome::Done:
        return Reply::json({{QStringLiteral("update_link"), kLinkPrefix + name + QLatin1Char('/') + key}});
    case Store::Outcome::Conflict:
        return Reply::error(409, QStringLiteral("the host name \"%1\" is taken").arg(name));
    case Store::Outcome::Failed:
        break;
    }
    return internalError();
}

Reply ReferenceService::updateHost(const QString &name, const QString &key, const QHostAddress &caller)
{
    std::optional<Host> host;
    if (isValidHostName(name) && !m_store.findHost(name.toLower(), &host))
        return internalError();
    if (!host)
        return Reply::error(404, QStringLiteral("no such host is registered"));
    if (!equalInConstantTime(fingerprint(key).toLatin1(), host->keyHash.toLatin1()))
        return Reply::error(403, QStringLiteral("wrong update key for this host"));
    const QString address = addressText(caller);
    if (!m_store.recordUpdate(host->id, address, QDateTime::currentDateTimeUtc()))
        return internalError();
    return Reply::json({{QStringLiteral("host"), host->name}, {QStringLiteral("ip"), address}});
}

Reply ReferenceService::statusPage()
{
    QList<Host> hosts;
    qint64 total = 0;
    if (!m_store.hosts(kStatusPageRows, &hosts, &total))
        return internalError();

    QString rows;
    for (const Host &host : hosts) {
        const QString when = host.updatedAt.isValid()
                                 ? host.updatedAt.toUTC().toString(QStringLiteral("yyyy-MM-dd hh:mm:ss"))
                                 : QStringLiteral("never");
        const auto family = [](const QString &address, const QDateTime &at) {
            return address.isEmpty()
                       ? QStringLiteral("&mdash;")
                       : QStringLiteral("%1 (%2)").arg(address.toHtmlEscaped(),
                                                       at.toUTC().toString(QStringLiteral("yyyy-MM-dd hh:mm:ss")));
        };
        rows +=
            QStringLiteral("<tr><td>%1</td><td>%2</td><td>%3</td><td>%4</td><td>%5</td><td>%6</td></tr>\n")
                .arg(host.name.toHtmlEscaped(),
                     host.address.isEmpty() ? QStringLiteral("&mdash;") : host.address.toHtmlEscaped(), when,
                     QString::number(host.updateCount), family(host.ipv4, host.ipv4At), family(host.ipv6, host.ipv6At));
    }
    QString summary =
        total == 1 ? QStringLiteral("1 host is registered.") : QStringLiteral("%1 hosts are registered.").arg(total);
    if (total > hosts.size())
        summary += QStringLiteral(" The first %1 by name are shown.").arg(hosts.size());

    const QString page =
        QStringLiteral("<!DOCTYPE html>\n<html lang=\"en\"><head><meta charset=\"utf-8\">\n"
                       "<meta http-equiv=\"refresh\" content=\"5\">\n"
                       "<title>Vennacott reference service</title>\n"
                       "<style>body{font-family:sans-serif;margin:2em}table{border-collapse:collapse}"
                       "th,td{padding:.3em .9em;border-bottom:1px solid #ccc;text-align:left}</style>\n"
                       "</head><body>\n<h1>Registered hosts</h1>\n<p>%1 This page reloads every 5 seconds.</p>\n"
                       "<table><thead><tr><th>Host</th><th>Last address</th><th>Last update (UTC)</th>"
                       "<th>Updates</th><th>Last IPv4 (UTC)</th><th>Last IPv6 "
                       "(UTC)</th></tr></thead>\n<tbody>\n%2</tbody></table>\n</body></html>\n")
            .arg(summary, rows);
    Reply reply{200, "text/html; charset=utf-8", page.toUtf8(), {}};
    reply.headers.append(
        qMakePair(QByteArray("Content-Security-Policy"), QByteArray("default-src 'none'; style-src 'unsafe-inline'")));
    return reply;
}

Reply ReferenceService::internalError()
{
    console::logLine(QStringLiteral("vennacott-refsvc: database error: ") + m_store.lastError());
    return Reply::error(500, QStringLiteral("internal error; the service's log says more"));
}

} // namespace vennacott::refsvc
