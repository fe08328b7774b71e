// The local object store: the ways opening fails. Nothing in the program writes to the store; the delegate's
// tests cover where it lives, what a save keeps, the refused commit, the failing save and the store made once.
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

// Marks a store file as written for another model version, as a newer program would.
bool markAsNewerModel(const QString &path)
{
    bool marked = false;
    {
        QSqlDatabase database = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("newer"));
        database.setDatabaseName(path);
        marked = database.open() && QSqlQuery(database).exec(QStringLiteral("PRAGMA user_version = 7"));
    }
    QSqlDatabase::removeDatabase(QStringLiteral("newer"));
    return marked;
}

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

} // namespace

class PersistentContainerTest final : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();

    void unusableStore_failsToLoad_data();
    void unusableStore_failsToLoad();

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

void PersistentContainerTest::unusableStore_failsToLoad_data()
{
    QTest::addColumn<QString>("inTheWay");
    QTest::addColumn<int>("code");
    QTest::addColumn<QString>("dataFolder"); // under the test's own folder
    const QString plain = QStringLiteral("data");
    const auto cannotOpen = int(StoreErrorCode::CannotOpen);
    const auto incompatible = int(StoreErrorCode::IncompatibleModel);
    QTest::newRow("data folder is a file") << QStringLiteral("file") << cannotOpen << plain;
    QTest::newRow("store is not a database") << QStringLiteral("garbage") << cannotOpen << plain;
    QTest::newRow("store of another model") << QStringLiteral("newer") << incompatible << plain;
    // The message is printed as the fatal line: a "%" in a path must come out as it stands.
    QTest::newRow("another model, %1%2 in the path")
        << QStringLiteral("newer") << incompatible << QStringLiteral("a%1%2");
}

void PersistentContainerTest::unusableStore_failsToLoad()
{
    QFETCH(QString, inTheWay);
    QFETCH(int, code);
    QFETCH(QString, dataFolder);
    const QString dataHome = m_dataHome + QLatin1Char('/') + dataFolder;
    qputenv("XDG_DATA_HOME", QFile::encodeName(dataHome));
    const QString folder = dataHome + QStringLiteral("/vennacott-ddns");
    const QString store = folder + QStringLiteral("/Vennacott_DDNS.sqlite");
    QVERIFY(QDir().mkpath(inTheWay == u"file" ? dataHome : folder));
    QFile file(inTheWay == u"file" ? folder : store);
    if (inTheWay == u"newer") {
        QVERIFY(markAsNewerModel(store));
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

VENNACOTT_TEST_MAIN(PersistentContainerTest, QCoreApplication)
#include "tst_persistentcontainer.moc"
