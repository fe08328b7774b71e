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

class ReferenceService final
{
public:
    ReferenceService(Store &store, SignInThrottle::Limits signInLimits);

    // Backend API. Sign-ins are counted per account and caller address (see SignInThrottle): once refused,
    // the reply is 429 with Retry-After, whatever the password, and no password is checked.
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
    Reply signIn(const QString &email, const QString &emailKey, const QString &password);
    Reply issueToken(qint64 accountId);
    Reply internalError();

    Store &m_store;
    SignInThrottle m_signIns;
};

} // namespace vennacott::refsvc
