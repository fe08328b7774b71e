// The local object store: named text values in an SQLite file, opened on request, changed through one
// main-thread context that keeps edits pending until they are saved.
#pragma once

#include "error.h"

#include <QList>
#include <QMap>
#include <QString>

#include <functional>
#include <optional>

namespace vennacott {

inline const QString kStoreErrorDomain = QStringLiteral("VennacottStoreErrorDomain");

enum class StoreErrorCode {
    CannotOpen = 1,        // the folder or the file cannot be made, opened or read as a database
    IncompatibleModel = 2, // the file was written for another model version
    AlreadyLoaded = 3,     // the container's store is open already
    NoStore = 4,           // saving before a store was loaded
    Validation = 5,        // a pending change breaks a rule of the model
    SaveFailed = 6,        // the database refused the write; nothing of it was kept
};

// Something that holds input not yet handed to the context (a field being typed in, say). The context
// asks it to commit before a save; it may refuse, for instance when the input is not valid yet.
class Editor
{
public:
    virtual ~Editor() = default;
    // Hands the pending input to the context; false when it cannot be committed now.
    virtual bool commitEditing() = 0;
};

class PersistentContainer;

// The main-thread context. Edits stay pending, readable through value(), until save() writes them all
// in one transaction; a failed save writes none of them and keeps them all pending.
class ManagedObjectContext final
{
public:
    ManagedObjectContext(const ManagedObjectContext &) = delete;
    ManagedObjectContext &operator=(const ManagedObjectContext &) = delete;

    // An editor registers while it holds uncommitted input and must end editing before it goes away.
    void objectDidBeginEditing(Editor *editor);
    void objectDidEndEditing(Editor *editor);
    // Asks every registered editor to commit; those that do end editing. False if any refused.
    bool commitEditing();

    // The model: one entity of name and value, the name unique and not empty.
    void setValue(const QString &name, const QString &value);
    // The pending value if there is one, else the saved one.
    std::optional<QString> value(const QString &name) const;

    bool hasChanges() const { return !m_pending.isEmpty(); }
    std::optional<Error> save();

private:
    friend class PersistentContainer;
    ManagedObjectContext() = default;

    QString m_connectionName; // empty while no store is loaded
    QMap<QString, QString> m_pending;
    QList<Editor *> m_editors;
};

class PersistentContainer final
{
public:
    // The store file is $XDG_DATA_HOME/vennacott-ddns/<name>.sqlite.
    explicit PersistentContainer(QString name);
    ~PersistentContainer();
    PersistentContainer(const PersistentContainer &) = delete;
    PersistentContainer &operator=(const PersistentContainer &) = delete;

    QString name() const { return m_name; }
    QString storeFilePath() const { return m_storeFilePath; }

    // Opens the store, creating its folder and file when missing, and calls `completion` once, before it
    // returns, with the error if the store could not be opened.
    using LoadCompletion = std::function<void(const std::optional<Error> &error)>;
    void loadPersistentStores(const LoadCompletion &completion);

    // Main thread only, like the database connection behind it.
    ManagedObjectContext &viewContext() { return m_viewContext; }

private:
    std::optional<Error> openStore(const QString &connectionName);

    const QString m_name;
    const QString m_storeFilePath;
    ManagedObjectContext m_viewContext;
};

} // namespace vennacott
