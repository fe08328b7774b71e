// The local object store: where it lives, what a save keeps, and the ways opening or saving fails. The
// delegate's tests cover the entry without a name and the store created once.
#include "persistentcontainer.h"
#include "testsupport.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTest>

using namespace vennacott;
using namespace vennacott::test;

namespace {

const QString kName = QStringLiteral("Vennacott_DDNS");

// Another program on the same file, beside the container's own connection.
class RawStore final
{
public:
    explicit RawStore(const QString &path)
    {
        QSqlDatabase database = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), kConnection);
        database.setDatabaseName(path);
        database.open();
    }
    ~RawStore() { QSqlDatabase::removeDatabase(kConnection); }
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

std::optional<Error> load(PersistentContainer &container)
{
    int calls = 0;
    std::optional<Error> result;
    container.loadPersistentStores([&](const std::optional<Error> &error) {
        result = error;
        ++calls;
    });
    if (calls != 1)
        qFatal("the load completion ran %d times", calls);
    return result;
}

class ScriptedEditor final : public Editor
{
public:
    ScriptedEditor(ManagedObjectContext &context, bool commits)
        : m_context(context)
        , m_commits(commits)
    {}
    bool commitEditing() override
    {
        ++asked;
        if (m_commits)
            m_context.setValue(QStringLiteral("typed"), QStringLiteral("yes"));
        return m_commits;
    }
    int asked = 0;

private:
    ManagedObjectContext &m_context;
    bool m_commits;
};

} // namespace

class PersistentContainerTest final : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();

    void store_isCreatedOnLoadAndKeepsWhatIsSaved();
    void unusableStore_failsToLoad_data();
    void unusableStore_failsToLoad();
    void lockedDatabase_savesNothingUntilItIsFree();
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

void PersistentContainerTest::store_isCreatedOnLoadAndKeepsWhatIsSaved()
{
    {
        PersistentContainer container(kName);
        const QString expected = m_dataHome + QStringLiteral("/vennacott-ddns/Vennacott_DDNS.sqlite");
        QCOMPARE(container.storeFilePath(), expected);
        QVERIFY(!QFile::exists(expected)); // nothing happens on disk before the load
        QCOMPARE(load(container), std::nullopt);
        QVERIFY(QFile::exists(expected));
        ManagedObjectContext &context = container.viewContext();
        QCOMPARE(context.save(), std::nullopt); // nothing to save is no failure
        context.setValue(QStringLiteral("a"), QStringLiteral("1"));
        context.setValue(QStringLiteral("b"), QStringLiteral("2"));
        QCOMPARE(context.save(), std::nullopt);
        QVERIFY(!context.hasChanges());
        // A second load is refused and leaves the open store usable.
        const std::optional<Error> again = load(container);
        QVERIFY(again);
        QCOMPARE(again->code, int(StoreErrorCode::AlreadyLoaded));
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
    QTest::newRow("data folder is a file") << QStringLiteral("file") << int(StoreErrorCode::CannotOpen);
    QTest::newRow("store is not a database") << QStringLiteral("garbage") << int(StoreErrorCode::CannotOpen);
    QTest::newRow("store of another model") << QStringLiteral("newer") << int(StoreErrorCode::IncompatibleModel);
}

void PersistentContainerTest::unusableStore_failsToLoad()
{
    QFETCH(QString, inTheWay);
    QFETCH(int, code);
    const QString folder = m_dataHome + QStringLiteral("/vennacott-ddns");
    const QString store = folder + QStringLiteral("/Vennacott_DDNS.sqlite");
    QVERIFY(inTheWay == u"file" || QDir().mkpath(folder));
    QFile file(inTheWay == u"file" ? folder : store);
    if (inTheWay == u"newer") {
        QVERIFY(RawStore(store).exec(QStringLiteral("PRAGMA user_version = 7")));
    } else {
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(QByteArray(4096, 'x'));
        file.close();
    }

    PersistentContainer container(kName);
    const std::optional<Error> error = load(container);
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

void PersistentContainerTest::lockedDatabase_savesNothingUntilItIsFree()
{
    PersistentContainer container(kName);
    QCOMPARE(load(container), std::nullopt);
    ManagedObjectContext &context = container.viewContext();
    RawStore other(container.storeFilePath());
    context.setValue(QStringLiteral("a"), QStringLiteral("1"));
    context.setValue(QStringLiteral("b"), QStringLiteral("2"));
    QVERIFY(other.exec(QStringLiteral("BEGIN EXCLUSIVE")));

    const std::optional<Error> error = context.save();
    QVERIFY(error);
    QCOMPARE(error->code, int(StoreErrorCode::SaveFailed));
    QVERIFY(!error->localizedDescription.isEmpty());
    QVERIFY(context.hasChanges());
    QVERIFY(other.exec(QStringLiteral("ROLLBACK")));
    QCOMPARE(other.names(), QStringList()); // the transaction was rolled back whole
    // Once the other program lets go, the same changes save.
    QCOMPARE(context.save(), std::nullopt);
    QCOMPARE(other.names(), (QStringList{QStringLiteral("a"), QStringLiteral("b")}));
}

void PersistentContainerTest::commitEditing_asksEveryEditor()
{
    PersistentContainer container(kName);
    QCOMPARE(load(container), std::nullopt);
    ManagedObjectContext &context = container.viewContext();
    QVERIFY(context.commitEditing()); // no editor
    ScriptedEditor refusing(context, false);
    ScriptedEditor committing(context, true);
    context.objectDidBeginEditing(&refusing);
    context.objectDidBeginEditing(&committing);

    // A refusal does not stop the others; one that committed has ended editing, one that refused is asked again.
    QVERIFY(!context.commitEditing());
    QCOMPARE(context.value(QStringLiteral("typed")), QStringLiteral("yes"));
    QVERIFY(!context.commitEditing());
    QCOMPARE(refusing.asked, 2);
    QCOMPARE(committing.asked, 1);
    context.objectDidEndEditing(&refusing);
}

VENNACOTT_TEST_MAIN(PersistentContainerTest, QCoreApplication)
#include "tst_persistentcontainer.moc"
