// The local object store over SQLite.
#include "persistentcontainer.h"

#include <QDir>
#include <QFileInfo>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QStandardPaths>

#include <atomic>

namespace vennacott {
namespace {

// Written into the file's user_version; a file of another version is refused rather than guessed at.
constexpr int kModelVersion = 1;

Error storeError(StoreErrorCode code, const QString &text)
{
    return Error{kStoreErrorDomain, static_cast<int>(code), text};
}

QString storeFolder()
{
    const QString data = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
    return data.isEmpty() ? QString() : data + QStringLiteral("/vennacott-ddns");
}

QString uniqueConnectionName()
{
    static std::atomic<int> next{0};
    return QStringLiteral("vennacott-store-%1").arg(next++);
}

void closeConnection(const QString &connectionName)
{
    {
        QSqlDatabase database = QSqlDatabase::database(connectionName, false);
        database.close();
    }
    QSqlDatabase::removeDatabase(connectionName);
}

} // namespace

void ManagedObjectContext::objectDidBeginEditing(Editor *editor)
{
    if (!m_editors.contains(editor))
        m_editors.append(editor);
}

void ManagedObjectContext::objectDidEndEditing(Editor *editor)
{
    m_editors.removeAll(editor);
}

bool ManagedObjectContext::commitEditing()
{
    // Every editor is asked, also after a refusal, so that whatever can be committed is.
    bool allCommitted = true;
    const QList<Editor *> editors = m_editors;
    for (Editor *editor : editors) {
        if (editor->commitEditing())
            objectDidEndEditing(editor);
        else
            allCommitted = false;
    }
    return allCommitted;
}

void ManagedObjectContext::setValue(const QString &name, const QString &value)
{
    m_pending.insert(name, value);
}

std::optional<QString> ManagedObjectContext::value(const QString &name) const
{
    if (const auto pending = m_pending.constFind(name); pending != m_pending.constEnd())
        return *pending;
    if (m_connectionName.isEmpty())
        return std::nullopt;
    QSqlQuery query(QSqlDatabase::database(m_connectionName, false));
    query.prepare(QStringLiteral("SELECT value FROM Entry WHERE name = ?"));
    query.addBindValue(name);
    if (!query.exec() || !query.next())
        return std::nullopt;
    return query.value(0).toString();
}

std::optional<Error> ManagedObjectContext::save()
{
    if (!hasChanges())
        return std::nullopt;
    if (m_connectionName.isEmpty())
        return storeError(StoreErrorCode::NoStore, QStringLiteral("The changes could not be saved: no store is open."));
    if (m_pending.contains(QString()))
        return storeError(StoreErrorCode::Validation,
                          QStringLiteral("The changes could not be saved: an entry has no name."));

    QSqlDatabase database = QSqlDatabase::database(m_connectionName, false);
    const auto failed = [&database](const QSqlError &cause) {
        database.rollback();
        return storeError(StoreErrorCode::SaveFailed,
                          QStringLiteral("The changes could not be saved: %1").arg(cause.text()));
    };
    if (!database.transaction())
        return failed(database.lastError());
    QSqlQuery query(database);
    if (!query.prepare(QStringLiteral("INSERT OR REPLACE INTO Entry (name, value) VALUES (?, ?)")))
        return failed(query.lastError());
    for (auto change = m_pending.constBegin(); change != m_pending.constEnd(); ++change) {
        query.bindValue(0, change.key());
        query.bindValue(1, change.value());
        if (!query.exec())
            return failed(query.lastError());
    }
    query.finish();
    if (!database.commit())
        return failed(database.lastError());
    m_pending.clear();
    return std::nullopt;
}

PersistentContainer::PersistentContainer(QString name)
    : m_name(std::move(name))
    , m_storeFilePath(storeFolder().isEmpty() ? QString()
                                              : storeFolder() + QLatin1Char('/') + m_name + QStringLiteral(".sqlite"))
{}

PersistentContainer::~PersistentContainer()
{
    if (!m_viewContext.m_connectionName.isEmpty())
        closeConnection(m_viewContext.m_connectionName);
}

void PersistentContainer::loadPersistentStores(const LoadCompletion &completion)
{
    if (!m_viewContext.m_connectionName.isEmpty()) {
        completion(storeError(StoreErrorCode::AlreadyLoaded,
                              QStringLiteral("The store at %1 is already open.").arg(m_storeFilePath)));
        return;
    }
    const QString connectionName = uniqueConnectionName();
    if (std::optional<Error> error = openStore(connectionName)) {
        closeConnection(connectionName);
        completion(error);
        return;
    }
    m_viewContext.m_connectionName = connectionName;
    completion(std::nullopt);
}

std::optional<Error> PersistentContainer::openStore(const QString &connectionName)
{
    const auto cannotOpen = [this](const QString &why) {
        return storeError(StoreErrorCode::CannotOpen,
                          QStringLiteral("The store at %1 could not be opened: %2").arg(m_storeFilePath, why));
    };
    if (m_storeFilePath.isEmpty())
        return cannotOpen(QStringLiteral("there is no data folder (neither XDG_DATA_HOME nor HOME is set)"));
    // mkpath fails when a file, not a folder, is in the way.
    if (!QDir().mkpath(QFileInfo(m_storeFilePath).path()))
        return cannotOpen(QStringLiteral("its folder cannot be created"));
    if (!QSqlDatabase::isDriverAvailable(QStringLiteral("QSQLITE")))
        return cannotOpen(QStringLiteral("the SQLite driver of Qt SQL is not installed"));

    QSqlDatabase database = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), connectionName);
    database.setDatabaseName(m_storeFilePath);
    if (!database.open())
        return cannotOpen(database.lastError().text());

    // SQLite reads the file only at the first statement: this is where a file that is no database fails.
    QSqlQuery query(database);
    if (!query.exec(QStringLiteral("PRAGMA user_version")) || !query.next())
        return cannotOpen(query.lastError().text());
    const int version = query.value(0).toInt();
    if (version != 0 && version != kModelVersion) {
        return storeError(StoreErrorCode::IncompatibleModel,
                          QStringLiteral("The store at %1 was written for model version %2; this program reads "
                                         "version %3.")
                              .arg(m_storeFilePath, QString::number(version), QString::number(kModelVersion)));
    }
    if (!query.exec(QStringLiteral("CREATE TABLE IF NOT EXISTS Entry (name TEXT PRIMARY KEY NOT NULL, value TEXT "
                                   "NOT NULL)")) ||
        !query.exec(QStringLiteral("PRAGMA user_version = %1").arg(kModelVersion)))
        return cannotOpen(query.lastError().text());
    return std::nullopt;
}

} // namespace vennacott
