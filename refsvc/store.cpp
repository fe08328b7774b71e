// The service's state: accounts, their sign-in tokens and saved links, and the registered hosts, in SQLite.
#include "store.h"

#include <QFile>
#include <QStringList>
#include <QSqlError>
#include <QSqlQuery>
#include <QUuid>
#include <QVariant>

namespace vennacott::refsvc {
namespace {

// Text timestamps in UTC sort and read well in the sqlite3 shell.
QString toText(const QDateTime &when)
{
    return when.toUTC().toString(Qt::ISODate);
}

QDateTime fromText(const QString &text)
{
    return text.isEmpty() ? QDateTime() : QDateTime::fromString(text, Qt::ISODate);
}

QString now()
{
    return toText(QDateTime::currentDateTimeUtc());
}

// A broken UNIQUE constraint: SQLITE_CONSTRAINT (19), or its extended codes for UNIQUE (2067) and PRIMARY KEY (1555).
bool isUniqueViolation(const QSqlError &error)
{
    const QString code = error.nativeErrorCode();
    return code == QLatin1String("2067") || code == QLatin1String("1555") || code == QLatin1String("19");
}

const char *const kSchema[] = {
    "CREATE TABLE IF NOT EXISTS accounts ("
    " id INTEGER PRIMARY KEY,"
    " email TEXT NOT NULL,"
    " email_key TEXT NOT NULL UNIQUE,"
    " password_hash TEXT NOT NULL,"
    " saved_link TEXT,"
    " created_at TEXT NOT NULL)",
    "CREATE TABLE IF NOT EXISTS tokens ("
    " token_hash TEXT PRIMARY KEY,"
    " account_id INTEGER NOT NULL REFERENCES accounts(id) ON DELETE CASCADE,"
    " created_at TEXT NOT NULL)",
    "CREATE INDEX IF NOT EXISTS tokens_by_account ON tokens(account_id, created_at)",
    "CREATE TABLE IF NOT EXISTS hosts ("
    " id INTEGER PRIMARY KEY,"
    " name TEXT NOT NULL,"
    " name_key TEXT NOT NULL UNIQUE,"
    " key_hash TEXT NOT NULL,"
    " created_at TEXT NOT NULL,"
    " address TEXT,"
    " updated_at TEXT,"
    " update_count INTEGER NOT NULL DEFAULT 0)",
};

// Added later: a database made before them gets them when it opens (the error for a column already there is
// expected).
const char *const kAddedColumns[] = {
    "ALTER TABLE hosts ADD COLUMN ipv4 TEXT",
    "ALTER TABLE hosts ADD COLUMN ipv4_at TEXT",
    "ALTER TABLE hosts ADD COLUMN ipv6 TEXT",
    "ALTER TABLE hosts ADD COLUMN ipv6_at TEXT",
};

const QString kHostColumns =
    QStringLiteral("id, name, key_hash, address, updated_at, update_count, ipv4, ipv4_at, ipv6, ipv6_at");

// A row of kHostColumns.
Host hostOf(const QSqlQuery &query)
{
    return Host{query.value(0).toLongLong(),        query.value(1).toString(),           query.value(2).toString(),
                query.value(3).toString(),          fromText(query.value(4).toString()), query.value(5).toLongLong(),
                query.value(6).toString(),          fromText(query.value(7).toString()), query.value(8).toString(),
                fromText(query.value(9).toString())};
}

} // namespace

Store::Store()
    : m_connection(QStringLiteral("refsvc-") + QUuid::createUuid().toString(QUuid::WithoutBraces))
{}

Store::~Store()
{
    {
        QSqlDatabase db = QSqlDatabase::database(m_connection, false);
        if (db.isOpen())
            db.close();
    }
    QSqlDatabase::removeDatabase(m_connection);
}

bool Store::open(const QString &path)
{
    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), m_connection);
    db.setDatabaseName(path);
    // Another program (the sqlite3 shell, say) may hold the file for a moment.
    db.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=5000"));
    if (!db.open())
        return fail(QStringLiteral("cannot open %1").arg(path), db.lastError().text());
    QFile::setPermissions(path, QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    // FULL: an answered request has reached the disk, so nothing the client was told is lost on a crash.
    for (const char *pragma : {"PRAGMA journal_mode=WAL", "PRAGMA synchronous=FULL", "PRAGMA foreign_keys=ON"}) {
        if (!exec(QLatin1String(pragma)))
            return false;
    }
    for (const char *statement : kSchema) {
        if (!exec(QLatin1String(statement)))
            return false;
    }
    QSqlQuery columns(QSqlDatabase::database(m_connection));
    if (!columns.exec(QStringLiteral("PRAGMA table_info(hosts)")))
        return fail(QStringLiteral("read the hosts table"), columns.lastError().text());
    QStringList present;
    while (columns.next())
        present.append(columns.value(1).toString());
    for (const char *statement : kAddedColumns) {
        const QString column = QString::fromLatin1(statement).section(u' ', -2, -2);
        if (!present.contains(column) && !exec(QLatin1String(statement)))
            return false;
    }
    return true;
}

bool Store::exec(const QString &statement)
{
    QSqlQuery query(QSqlDatabase::database(m_connection));
    if (!query.exec(statement))
        return fail(statement.left(40), query.lastError().text());
    return true;
}

bool Store::fail(const QString &what, const QString &error)
{
    m_error = what + QStringLiteral(": ") + error;
    return false;
}

bool Store::findAccount(const QString &emailKey, std::optional<Account> *account)
{
    QSqlQuery query(QSqlDatabase::database(m_connection));
    query.prepare(QStringLiteral("SELECT id, password_hash FROM accounts WHERE email_key = ?"));
    query.addBindValue(emailKey);
    if (!query.exec())
        return fail(QStringLiteral("find account"), query.lastError().text());
    account->reset();
    if (query.next())
        *account = Account{query.value(0).toLongLong(), query.value(1).toString()};
    return true;
}

Store::Outcome Store::createAccount(const QString &email, const QString &emailKey, const QString &passwordHash,
                                    const QString &tokenHash)
{
    QSqlDatabase db = QSqlDatabase::database(m_connection);
    if (!db.transaction()) {
        fail(QStringLiteral("begin"), db.lastError().text());
        return Outcome::Failed;
    }
    QSqlQuery query(db);
    query.prepare(QStringLiteral("INSERT INTO accounts (email, email_key, password_hash, created_at) "
                                 "VALUES (?, ?, ?, ?)"));
    query.addBindValue(email);
    query.addBindValue(emailKey);
    query.addBindValue(passwordHash);
    query.addBindValue(now());
    if (!query.exec()) {
        const QSqlError error = query.lastError();
        db.rollback();
        if (isUniqueViolation(error))
            return Outcome::Conflict;
        fail(QStringLiteral("create account"), error.text());
        return Outcome::Failed;
    }
    const qint64 id = query.lastInsertId().toLongLong();
    if (!addToken(id, tokenHash)) {
        db.rollback();
        return Outcome::Failed;
    }
    if (!db.commit()) {
        fail(QStringLiteral("commit"), db.lastError().text());
        db.rollback();
        return Outcome::Failed;
    }
    return Outcome::Done;
}

bool Store::addToken(qint64 accountId, const QString &tokenHash)
{
    QSqlDatabase db = QSqlDatabase::database(m_connection);
    // Nested inside createAccount's transaction, SQLite refuses a second BEGIN; a savepoint nests.
    if (!exec(QStringLiteral("SAVEPOINT add_token")))
        return false;
    QSqlQuery insert(db);
    insert.prepare(QStringLiteral("INSERT INTO tokens (token_hash, account_id, created_at) VALUES (?, ?, ?)"));
    insert.addBindValue(tokenHash);
    insert.addBindValue(accountId);
    insert.addBindValue(now());
    QSqlQuery prune(db);
    prune.prepare(QStringLiteral("DELETE FROM tokens WHERE account_id = ? AND token_hash NOT IN "
                                 "(SELECT token_hash FROM tokens WHERE account_id = ? "
                                 "ORDER BY created_at DESC, rowid DESC LIMIT ?)"));
    prune.addBindValue(accountId);
    prune.addBindValue(accountId);
    prune.addBindValue(kTokensPerAccount);
    if (!insert.exec() || !prune.exec()) {
        const QString error = (insert.lastError().isValid() ? insert.lastError() : prune.lastError()).text();
        exec(QStringLiteral("ROLLBACK TO add_token"));
        exec(QStringLiteral("RELEASE add_token"));
        return fail(QStringLiteral("add token"), error);
    }
    return exec(QStringLiteral("RELEASE add_token"));
}

bool Store::accountForToken(const QString &tokenHash, std::optional<qint64> *accountId)
{
    QSqlQuery query(QSqlDatabase::database(m_connection));
    query.prepare(QStringLiteral("SELECT account_id FROM tokens WHERE token_hash = ?"));
    query.addBindValue(tokenHash);
    if (!query.exec())
        return fail(QStringLiteral("find token"), query.lastError().text());
    accountId->reset();
    if (query.next())
        *accountId = query.value(0).toLongLong();
    return true;
}

bool Store::setSavedLink(qint64 accountId, const QString &link)
{
    QSqlQuery query(QSqlDatabase::database(m_connection));
    query.prepare(QStringLiteral("UPDATE accounts SET saved_link = ? WHERE id = ?"));
    query.addBindValue(link);
    query.addBindValue(accountId);
    if (!query.exec())
        return fail(QStringLiteral("save link"), query.lastError().text());
    return true;
}

bool Store::savedLink(qint64 accountId, std::optional<QString> *link)
{
    QSqlQuery query(QSqlDatabase::database(m_connection));
    query.prepare(QStringLiteral("SELECT saved_link FROM accounts WHERE id = ? AND saved_link IS NOT NULL"));
    query.addBindValue(accountId);
    if (!query.exec())
        return fail(QStringLiteral("read link"), query.lastError().text());
    link->reset();
    if (query.next())
        *link = query.value(0).toString();
    return true;
}

Store::Outcome Store::createHost(const QString &name, const QString &nameKey, const QString &keyHash)
{
    QSqlQuery query(QSqlDatabase::database(m_connection));
    query.prepare(QStringLiteral("INSERT INTO hosts (name, name_key, key_hash, created_at) VALUES (?, ?, ?, ?)"));
    query.addBindValue(name);
    query.addBindValue(nameKey);
    query.addBindValue(keyHash);
    query.addBindValue(now());
    if (query.exec())
        return Outcome::Done;
    if (isUniqueViolation(query.lastError()))
        return Outcome::Conflict;
    fail(QStringLiteral("create host"), query.lastError().text());
    return Outcome::Failed;
}

bool Store::findHost(const QString &nameKey, std::optional<Host> *host)
{
    QSqlQuery query(QSqlDatabase::database(m_connection));
    query.prepare(QStringLiteral("SELECT %1 FROM hosts WHERE name_key = ?").arg(kHostColumns));
    query.addBindValue(nameKey);
    if (!query.exec())
        return fail(QStringLiteral("find host"), query.lastError().text());
    host->reset();
    if (query.next())
        *host = hostOf(query);
    return true;
}

bool Store::recordUpdate(qint64 hostId, const QString &address, const QDateTime &when)
{
    // The one write that does not wait for the disk: the next update renews it seconds later, and a wait per
    // update (a few milliseconds, one request at a time) would cap the service at a few hundred updates a
    // second. The write-ahead log stays in order, so a crash of the service loses nothing; a power cut may
    // lose the last few update records, never an account, a token, a saved link or a host.
    if (!exec(QStringLiteral("PRAGMA synchronous=NORMAL")))
        return false;
    QSqlQuery query(QSqlDatabase::database(m_connection));
    const QString family = address.contains(u':') ? QStringLiteral("ipv6") : QStringLiteral("ipv4");
    query.prepare(QStringLiteral("UPDATE hosts SET address = ?, updated_at = ?, update_count = update_count + 1, "
                                 "%1 = ?, %1_at = ? WHERE id = ?")
                      .arg(family));
    query.addBindValue(address);
    query.addBindValue(toText(when));
    query.addBindValue(address);
    query.addBindValue(toText(when));
    query.addBindValue(hostId);
    const bool done = query.exec();
    const QString error = query.lastError().text();
    if (!exec(QStringLiteral("PRAGMA synchronous=FULL")))
        return false;
    return done || fail(QStringLiteral("record update"), error);
}

bool Store::hosts(int limit, QList<Host> *hosts, qint64 *total)
{
    QSqlQuery count(QSqlDatabase::database(m_connection));
    if (!count.exec(QStringLiteral("SELECT COUNT(*) FROM hosts")) || !count.next())
        return fail(QStringLiteral("count hosts"), count.lastError().text());
    *total = count.value(0).toLongLong();

    QSqlQuery query(QSqlDatabase::database(m_connection));
    query.prepare(QStringLiteral("SELECT %1 FROM hosts ORDER BY name_key LIMIT ?").arg(kHostColumns));
    query.addBindValue(limit);
    if (!query.exec())
        return fail(QStringLiteral("list hosts"), query.lastError().text());
    hosts->clear();
    while (query.next())
        hosts->append(hostOf(query));
    return true;
}

} // namespace vennacott::refsvc
