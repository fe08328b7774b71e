// The local object store: where it lives, what a save keeps, and every way opening or saving fails.
#include "persistentcontainer.h"
#include "testsupport.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTest>

#include <memory>
#include <vector>

using namespace vennacott;
using namespace vennacott::test;

namespace {

const QString kName = QStringLiteral("Vennacott_DDNS");

// Reads a table straight from the file, beside the container's own connection.
class RawStore final
{
public:
    explicit RawStore(const QString &path)
    {
        QSqlDatabase database = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), kConnection);
        database.setDatabaseName(path);
        database.open();
    }
    ~RawStore()
    {
        QSqlDatabase::database(kConnection, false).close();
        QSqlDatabase::removeDatabase(kConnection);
    }
    bool exec(const QString &statement) { return QSqlQuery(QSqlDatabase::database(kConnection)).exec(statement); }
    QStringList names()
    {
        QSqlQuery query(QSqlDatabase::database(kConnection));
        QStringList found;
        if (query.exec(QStringLiteral("SELECT name FROM Entry ORDER BY name")))
            while (query.next())
                found.append(query.value(0).toString());
        return found;
    }

private:
    static inline const QString kConnection = QStringLiteral("raw-store");
};

class ScriptedEditor final : public Editor
{
public:
    ScriptedEditor(ManagedObjectContext &context, QString name, bool commits)
        : m_context(context)
        , m_name(std::move(name))
        , m_commits(commits)
    {}
    bool commitEditing() override
    {
        ++asked;
        if (m_commits)
            m_context.setValue(m_name, QStringLiteral("typed"));
        return m_commits;
    }
    int asked = 0;

private:
    ManagedObjectContext &m_context;
    QString m_name;
    bool m_commits;
};

std::optional<Error> load(PersistentContainer &container, int *calls = nullptr)
{
    std::optional<Error> result;
    container.loadPersistentStores([&](const std::optional<Error> &error) {
        result = error;
        if (calls)
            ++*calls;
    });
    return result;
}

} // namespace

class PersistentContainerTest final : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();

    void load_createsTheStoreInTheDataFolder();
    void save_keepsValuesForTheNextLaunch();
    void unusableStore_failsToLoad_data();
    void unusableStore_failsToLoad();
    void secondLoad_isRefusedAndTheStoreStaysUsable();
    void failedSave_keepsEveryChangePendingAndWritesNone_data();
    void failedSave_keepsEveryChangePendingAndWritesNone();
    void commitEditing_asksEveryEditor_data();
    void commitEditing_asksEveryEditor();

private:
    QString m_dataHome;
    int m_run = 0;
};

void PersistentContainerTest::init()
{
    // A fresh data folder per test: the store file is found by the environment, as in the program.
    m_dataHome = temporaryRoot() + QStringLiteral("/store-%1").arg(++m_run);
    QVERIFY(QDir().mkpath(m_dataHome));
    qputenv("XDG_DATA_HOME", QFile::encodeName(m_dataHome));
}

void PersistentContainerTest::load_createsTheStoreInTheDataFolder()
{
    PersistentContainer container(kName);
    const QString expected = m_dataHome + QStringLiteral("/vennacott-ddns/Vennacott_DDNS.sqlite");
    QCOMPARE(container.storeFilePath(), expected);
    QVERIFY(!QFile::exists(expected)); // nothing happens on disk before the load
    int calls = 0;
    QCOMPARE(load(container, &calls), std::nullopt);
    QCOMPARE(calls, 1);
    QVERIFY(QFile::exists(expected));
    QVERIFY(!container.viewContext().hasChanges());
}

void PersistentContainerTest::save_keepsValuesForTheNextLaunch()
{
    {
        PersistentContainer container(kName);
        QCOMPARE(load(container), std::nullopt);
        ManagedObjectContext &context = container.viewContext();
        QCOMPARE(context.save(), std::nullopt); // nothing to save is no failure
        context.setValue(QStringLiteral("a"), QStringLiteral("1"));
        context.setValue(QStringLiteral("b"), QStringLiteral("2"));
        QVERIFY(context.hasChanges());
        QCOMPARE(context.save(), std::nullopt);
        QVERIFY(!context.hasChanges());
        context.setValue(QStringLiteral("a"), QStringLiteral("one"));
        QCOMPARE(context.save(), std::nullopt);
    }
    PersistentContainer later(kName);
    QCOMPARE(load(later), std::nullopt);
    QCOMPARE(later.viewContext().value(QStringLiteral("a")), QStringLiteral("one"));
    QCOMPARE(later.viewContext().value(QStringLiteral("b")), QStringLiteral("2"));
    QCOMPARE(later.viewContext().value(QStringLiteral("c")), std::nullopt);
}

void PersistentContainerTest::unusableStore_failsToLoad_data()
{
    QTest::addColumn<QString>("inTheWay");
    QTest::addColumn<int>("code");
    QTest::newRow("data folder is a file") << QStringLiteral("folder-is-file") << int(StoreErrorCode::CannotOpen);
    QTest::newRow("store is a folder") << QStringLiteral("store-is-folder") << int(StoreErrorCode::CannotOpen);
    QTest::newRow("store is not a database") << QStringLiteral("garbage") << int(StoreErrorCode::CannotOpen);
    QTest::newRow("store of another model") << QStringLiteral("newer-model") << int(StoreErrorCode::IncompatibleModel);
}

void PersistentContainerTest::unusableStore_failsToLoad()
{
    QFETCH(QString, inTheWay);
    QFETCH(int, code);
    const QString folder = m_dataHome + QStringLiteral("/vennacott-ddns");
    const QString store = folder + QStringLiteral("/Vennacott_DDNS.sqlite");
    if (inTheWay == u"folder-is-file") {
        QFile file(folder);
        QVERIFY(file.open(QIODevice::WriteOnly));
    } else if (inTheWay == u"store-is-folder") {
        QVERIFY(QDir().mkpath(store));
    } else {
        QVERIFY(QDir().mkpath(folder));
        if (inTheWay == u"garbage") {
            QFile file(store);
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write(QByteArray(4096, 'x'));
        } else {
            RawStore raw(store);
            QVERIFY(raw.exec(QStringLiteral("PRAGMA user_version = 7")));
        }
    }

    PersistentContainer container(kName);
    int calls = 0;
    const std::optional<Error> error = load(container, &calls);
    QCOMPARE(calls, 1);
    QVERIFY(error);
    QCOMPARE(error->domain, kStoreErrorDomain);
    QCOMPARE(error->code, code);
    QVERIFY2(error->description().contains(store), qPrintable(error->description()));
    // Without a store nothing can be saved, and the failure says so rather than pretending to succeed.
    container.viewContext().setValue(QStringLiteral("a"), QStringLiteral("1"));
    const std::optional<Error> saved = container.viewContext().save();
    QVERIFY(saved);
    QCOMPARE(saved->code, int(StoreErrorCode::NoStore));
    QVERIFY(container.viewContext().hasChanges());
}

void PersistentContainerTest::secondLoad_isRefusedAndTheStoreStaysUsable()
{
    PersistentContainer container(kName);
    QCOMPARE(load(container), std::nullopt);
    const std::optional<Error> again = load(container);
    QVERIFY(again);
    QCOMPARE(again->code, int(StoreErrorCode::AlreadyLoaded));
    container.viewContext().setValue(QStringLiteral("a"), QStringLiteral("1"));
    QCOMPARE(container.viewContext().save(), std::nullopt);
    QCOMPARE(RawStore(container.storeFilePath()).names(), QStringList{QStringLiteral("a")});
}

void PersistentContainerTest::failedSave_keepsEveryChangePendingAndWritesNone_data()
{
    QTest::addColumn<QString>("fault");
    QTest::addColumn<int>("code");
    QTest::newRow("entry without a name") << QStringLiteral("unnamed") << int(StoreErrorCode::Validation);
    QTest::newRow("database locked by another program") << QStringLiteral("locked") << int(StoreErrorCode::SaveFailed);
}

void PersistentContainerTest::failedSave_keepsEveryChangePendingAndWritesNone()
{
    QFETCH(QString, fault);
    QFETCH(int, code);
    PersistentContainer container(kName);
    QCOMPARE(load(container), std::nullopt);
    ManagedObjectContext &context = container.viewContext();
    RawStore other(container.storeFilePath());
    context.setValue(QStringLiteral("a"), QStringLiteral("1"));
    context.setValue(QStringLiteral("b"), QStringLiteral("2"));
    if (fault == u"unnamed")
        context.setValue(QString(), QStringLiteral("3"));
    else
        QVERIFY(other.exec(QStringLiteral("BEGIN EXCLUSIVE")));

    const std::optional<Error> error = context.save();
    QVERIFY(error);
    QCOMPARE(error->code, code);
    QVERIFY(!error->localizedDescription.isEmpty());
    QVERIFY(context.hasChanges());
    QCOMPARE(context.value(QStringLiteral("a")), QStringLiteral("1"));
    if (fault == u"locked") {
        QVERIFY(other.exec(QStringLiteral("ROLLBACK")));
        QCOMPARE(other.names(), QStringList()); // the transaction was rolled back whole
        // Once the other program lets go, the same changes save.
        QCOMPARE(context.save(), std::nullopt);
        QCOMPARE(other.names(), (QStringList{QStringLiteral("a"), QStringLiteral("b")}));
    } else {
        QCOMPARE(other.names(), QStringList());
    }
}

void PersistentContainerTest::commitEditing_asksEveryEditor_data()
{
    QTest::addColumn<QList<bool>>("editorsCommit");
    QTest::addColumn<bool>("committed");
    QTest::addColumn<QStringList>("changes");
    QTest::newRow("no editor") << QList<bool>{} << true << QStringList{};
    QTest::newRow("one commits") << QList<bool>{true} << true << QStringList{QStringLiteral("e0")};
    QTest::newRow("one refuses") << QList<bool>{false} << false << QStringList{};
    QTest::newRow("a refusal does not stop the others")
        << QList<bool>{false, true} << false << QStringList{QStringLiteral("e1")};
}

void PersistentContainerTest::commitEditing_asksEveryEditor()
{
    QFETCH(QList<bool>, editorsCommit);
    QFETCH(bool, committed);
    QFETCH(QStringList, changes);
    PersistentContainer container(kName);
    QCOMPARE(load(container), std::nullopt);
    ManagedObjectContext &context = container.viewContext();
    std::vector<std::unique_ptr<ScriptedEditor>> editors;
    for (qsizetype i = 0; i < editorsCommit.size(); ++i) {
        editors.push_back(std::make_unique<ScriptedEditor>(context, QStringLiteral("e%1").arg(i), editorsCommit.at(i)));
        context.objectDidBeginEditing(editors.back().get());
    }

    QCOMPARE(context.commitEditing(), committed);
    QCOMPARE(context.hasChanges(), !changes.isEmpty());
    for (const QString &name : changes)
        QCOMPARE(context.value(name), QStringLiteral("typed"));
    // An editor that committed has ended editing; one that refused is asked again next time.
    context.commitEditing();
    for (qsizetype i = 0; i < editorsCommit.size(); ++i)
        QCOMPARE(editors.at(i)->asked, editorsCommit.at(i) ? 1 : 2);
    for (const auto &editor : editors)
        context.objectDidEndEditing(editor.get());
}

VENNACOTT_TEST_MAIN(PersistentContainerTest, QCoreApplication)
#include "tst_persistentcontainer.moc"
