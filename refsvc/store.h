// The service's state: accounts, their sign-in tokens and saved links, and the registered hosts, in SQLite.
#pragma once

#include <QDateTime>
#include <QList>
#include <QSqlDatabase>
#include <QString>

#include <optional>

namespace vennacott::refsvc {

struct Account
{
    qint64 id = 0;
    QString passwordHash;
};

struct Host
{
    qint64 id = 0;
    QString name;    // as registered
    QString keyHash; // fingerprint of the update key
    QString address; // last caller of the update link; empty before the first update
    QDateTime updatedAt;
    qint64 updateCount = 0;
    // The last caller of each family, each with its time: a dual-stack client updates over both.
    QString ipv4;
    QDateTime ipv4At;
    QString ipv6;
    QDateTime ipv6At;
};

// Every method is one statement or one transaction, so a request either changes the state completely or
// not at all. Methods returning bool report a database failure with false; lastError() says which.
class Store final
{
public:
    Store();
    ~Store();
    Store(const Store &) = delete;
    Store &operator=(const Store &) = delete;

    bool open(const QString &path);
    QString lastError() const { return m_error; }

    enum class Outcome { Done, Conflict, Failed };

    bool findAccount(const QString &emailKey, std::optional<Account> *account);
    // Creates the account and its first token together.
    Outcome createAccount(const QString &email, const QString &emailKey, const QString &passwordHash,
                          const QString &tokenHash);
    // Keeps the newest tokens of the account only, so repeated sign-ins do not grow the database forever.
    bool addToken(qint64 accountId, const QString &tokenHash);
    bool accountForToken(const QString &tokenHash, std::optional<qint64> *accountId);
    bool setSavedLink(qint64 accountId, const QString &link);
    bool savedLink(qint64 accountId, std::optional<QString> *link);

    Outcome createHost(const QString &name, const QString &nameKey, const QString &keyHash);
    bool findHost(const QString &nameKey, std::optional<Host> *host);
    bool recordUpdate(qint64 hostId, const QString &address, const QDateTime &when);
    // Hosts by name, at most `limit` of them, and how many there are in all.
    bool hosts(int limit, QList<Host> *hosts, qint64 *total);

    static constexpr int kTokensPerAccount = 16;

private:
    bool exec(const QString &statement);
    bool fail(const QString &what, const QString &error);

    QString m_connection;
    QString m_error;
};

} // namespace vennacott::refsvc
