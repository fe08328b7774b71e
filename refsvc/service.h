// The rules of the backend API and of the update server, independent of HTTP.
#pragma once

#include "signinthrottle.h"

#include <QByteArray>
#include <QHostAddress>
#include <QJsonObject>
#include <QList>
#include <QPair>
#include <QString>

#include <optional>

namespace vennacott::refsvc {

class Store;

// The largest request body an endpoint reads; sign-in data and an update link are far smaller.
inline constexpr qsizetype kMaxBodyBytes = 16 * 1024;
inline constexpr int kMinNewPasswordLength = 8;

struct Reply
{
    int status = 200;
    QByteArray contentType = "application/json";
    QByteArray body;
    QList<QPair<QByteArray, QByteArray>> headers;

    static Reply json(const QJsonObject &object, int status = 200);
    // Every error, on both origins, is {"code": <HTTP status>, "error": <text for a person>}.
    static Reply error(int status, const QString &message);
};

// A DNS label: 1 to 63 ASCII letters, digits and hyphens, neither starting nor ending with a hyphen.
bool isValidHostName(QStringView name);

struct SignInLimits
{
    // Wrong passwords for one account from one caller address.
    SignInThrottle::Limits perAddress;
    // Wrong passwords for one account from any address: a caller may pick any of 127.0.0.0/8.
    SignInThrottle::Limits perAccount{kDefaultAccountSignInFailures, kDefaultAccountSignInLockout};
    // Accounts created from one caller address.
    SignInThrottle::Limits newAccounts{kDefaultNewAccountsPerAddress, kNewAccountWindow};
};

class ReferenceService final
{
public:
    ReferenceService(Store &store, SignInLimits signInLimits);

    // Backend API. Wrong passwords are counted per account and caller address and per account (see
    // SignInThrottle): once either is over its limit, the reply is 429 with Retry-After, whatever the
    // password, and no password is checked. So is a new account from an address that made its share.
    Reply login(const QByteArray &body, const QHostAddress &caller);
    Reply saveDns(const QByteArray &authorization, const QByteArray &body);
    Reply getDns(const QByteArray &authorization);

    // Update server.
    Reply registerHost(const QString &name);
    Reply updateHost(const QString &name, const QString &key, const QHostAddress &caller);
    Reply statusPage();

    static constexpr int kStatusPageRows = 500;

private:
    std::optional<qint64> authorize(const QByteArray &authorization, Reply *refusal);
    Reply signIn(const QString &email, const QString &emailKey, const QString &password, const QString &caller,
                 bool *wrongPassword);
    Reply issueToken(qint64 accountId);
    Reply internalError();

    Store &m_store;
    SignInThrottle m_failuresPerAddress;
    SignInThrottle m_failuresPerAccount;
    SignInThrottle m_newAccounts;
};

} // namespace vennacott::refsvc
