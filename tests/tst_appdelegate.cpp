// The delegate's local store, save action and quit decision, with the store's faults injected: a store
// that cannot be opened, a save that fails, an edit that will not commit.
#include "appdelegate.h"
#include "application.h"
#include "core.h"
#include "persistentcontainer.h"
#include "testsupport.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QTest>
#include <QTimer>

using namespace vennacott;
using namespace vennacott::test;

namespace {

const QString kStoreFile = QStringLiteral("/vennacott-ddns/Vennacott_DDNS.sqlite");
const QString kCommitBeforeSaving = QStringLiteral("Vennacott_DDNS.AppDelegate unable to commit editing before saving");
const QString kCommitToTerminate = QStringLiteral("Vennacott_DDNS.AppDelegate unable to commit editing to terminate");

class RefusingEditor final : public Editor
{
public:
    bool commitEditing() override { return false; }
};

constexpr int kStillRunning = 7;

// The person in front of the screen: answers error presentations and alerts as scripted, once asked to.
class ScriptedUser final : public ErrorPresenter, public AlertRunner
{
public:
    void presentError(const Error &error, ErrorHandler handler) override
    {
        errors.append(error);
        pending.append([this, handler] { handler(resolves); });
    }
    void open(const Alert &alert, AlertHandler handler) override
    {
        alerts.append(alert);
        pending.append([this, handler] { handler(answer); });
    }
    void respond() // answers what is shown, and what comes up after it, in turn
    {
        while (!pending.isEmpty())
            pending.takeFirst()();
    }
    bool resolves = false;
    ModalResponse answer = ModalResponse::FirstButton;
    QList<Error> errors;
    QList<Alert> alerts;
    QList<std::function<void()>> pending;
};

enum class Change { None, Valid, Unsavable }; // what the context holds before the action

// Puts the change into the delegate's context (creating the container, so only when there is one).
void prepare(AppDelegate &delegate, Change change, bool refuseCommit, RefusingEditor &editor)
{
    if (change == Change::None && !refuseCommit)
        return;
    ManagedObjectContext &context = delegate.persistentContainer().viewContext();
    if (change != Change::None)
        context.setValue(QStringLiteral("note"), QStringLiteral("kept"));
    if (change == Change::Unsavable)
        context.setValue(QString(), QStringLiteral("an entry without a name cannot be saved"));
    if (refuseCommit)
        context.objectDidBeginEditing(&editor);
}

bool noteIsSaved()
{
    PersistentContainer reader(QStringLiteral("Vennacott_DDNS"));
    bool loaded = false;
    reader.loadPersistentStores([&](const std::optional<Error> &error) { loaded = !error; });
    return loaded && reader.viewContext().value(QStringLiteral("note")).has_value();
}

// A child on an unusable store: the process must end inside the action, before anything is shown.
int childMain(const QString &role)
{
    ScriptedUser user;
    Application::shared().setErrorPresenter(&user);
    Application::shared().setAlertRunner(&user);
    Core core(Core::Options{});
    AppDelegate delegate(core);
    if (role == u"save")
        delegate.saveAction();
    else
        delegate.applicationShouldTerminate(Application::shared());
    console::printLine(u"went on");
    return 0;
}

// One row of the decision table: the action, what the context holds, the user's answers and what follows.
struct Decision
{
    bool quit; // the quit decision, else the save action
    bool refuseCommit;
    Change change;
    bool resolves;        // the error presentation's outcome
    ModalResponse answer; // to the quit alert
    TerminateReply reply;
    QString log; // the one line on standard error, if any
    bool presented, alerted, saved;
};

} // namespace

Q_DECLARE_METATYPE(Decision)

class AppDelegateTest final : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() { quietPlatformWarnings(); }

    void init()
    {
        m_dataHome = temporaryRoot() + QStringLiteral("/delegate-%1").arg(++m_run);
        QVERIFY(QDir().mkpath(m_dataHome));
        qputenv("XDG_DATA_HOME", QFile::encodeName(m_dataHome));
        m_user = ScriptedUser();
        Application::shared().setErrorPresenter(&m_user);
        Application::shared().setAlertRunner(&m_user);
    }

    void cleanup()
    {
        Application::shared().setDelegate(nullptr);
        Application::shared().setErrorPresenter(nullptr);
        Application::shared().setAlertRunner(nullptr);
    }

    void decision_logsPresentsAndReplies_data()
    {
        QTest::addColumn<Decision>("row");
        using C = Change;
        using R = TerminateReply;
        const auto F = ModalResponse::FirstButton;
        const QString none;
        // clang-format off
        QTest::newRow("quit: untouched store")         << Decision{true, false, C::None, false, F, R::Now, none, false, false, false};
        QTest::newRow("quit: change saved")            << Decision{true, false, C::Valid, false, F, R::Now, none, false, false, true};
        QTest::newRow("quit: commit refused, unsaved") << Decision{true, true, C::Valid, false, F, R::Cancel, kCommitToTerminate, false, false, false};
        QTest::newRow("quit: save fails, resolved")    << Decision{true, false, C::Unsavable, true, F, R::Cancel, none, true, false, false};
        QTest::newRow("quit: save fails, quit anyway") << Decision{true, false, C::Unsavable, false, F, R::Now, none, true, true, false};
        QTest::newRow("quit: save fails, cancel")      << Decision{true, false, C::Unsavable, false, ModalResponse::SecondButton, R::Cancel, none, true, true, false};
        QTest::newRow("save: commit refused, saved")   << Decision{false, true, C::Valid, false, F, R::Now, kCommitBeforeSaving, false, false, true};
        QTest::newRow("save: fails, not resolved")     << Decision{false, false, C::Unsavable, false, F, R::Now, none, true, false, false};
        // clang-format on
    }

    void decision_logsPresentsAndReplies()
    {
        QFETCH(Decision, row);
        m_user.resolves = row.resolves;
        m_user.answer = row.answer;
        RefusingEditor editor;
        Core core(Core::Options{});
        AppDelegate delegate(core);
        prepare(delegate, row.change, row.refuseCommit, editor);
        QList<bool> pauses;
        delegate.setUpdatePause([&](bool paused) { pauses.append(paused); });

        ConsoleCapture console;
        const bool now = row.reply == TerminateReply::Now;
        if (row.quit) {
            // Through the termination route, in the event loop: the user answers after the question is up, and a
            // second request meanwhile is ignored.
            QObject scope;
            Application::shared().setDelegate(&delegate);
            QTimer::singleShot(0, &scope, [&] {
                Application::shared().terminate();
                if (!m_user.pending.isEmpty())
                    Application::shared().terminate();
                m_user.respond();
                QTimer::singleShot(0, &scope, [] { QCoreApplication::exit(kStillRunning); });
            });
            QCOMPARE(QCoreApplication::exec(), now ? 0 : kStillRunning);
            // No update while the user decides; they resume when the program goes on.
            QCOMPARE(pauses, (!row.presented ? QList<bool>() : now ? QList<bool>{true} : QList<bool>{true, false}));
        } else {
            delegate.saveAction();
            m_user.respond();
        }

        QCOMPARE(console.errors(), row.log.isEmpty() ? QStringList() : QStringList{row.log});
        QCOMPARE(console.output(), QStringList());
        QCOMPARE(m_user.errors.size(), row.presented ? 1 : 0);
        QCOMPARE(m_user.alerts.size(), row.alerted ? 1 : 0);
        if (row.quit && row.presented && !now) { // the question is over: a new request asks again
            Application::shared().terminate();
            m_user.respond();
            QCOMPARE(m_user.errors.size(), 2);
        }
        // Whatever was not saved stays in the context; the store exists once either action has run.
        QVERIFY(QFile::exists(m_dataHome + kStoreFile));
        QCOMPARE(delegate.persistentContainer().viewContext().hasChanges(), row.change != Change::None && !row.saved);
        QCOMPARE(noteIsSaved(), row.saved);
        delegate.persistentContainer().viewContext().objectDidEndEditing(&editor);
    }

    void unusableStore_endsTheProcessAtOnce_data()
    {
        QTest::addColumn<QString>("role");      // the action the child runs
        QTest::addColumn<bool>("folderIsFile"); // else the store is not a database
        QTest::newRow("save, data folder is a file") << QStringLiteral("save") << true;
        QTest::newRow("quit, store is not a database") << QStringLiteral("quit") << false;
    }

    void unusableStore_endsTheProcessAtOnce()
    {
        QFETCH(QString, role);
        QFETCH(bool, folderIsFile);
        // The message is printed as the fatal line: a "%" in the path must come out as it stands.
        const QString dataHome = m_dataHome + QStringLiteral("/a%1%2");
        qputenv("XDG_DATA_HOME", QFile::encodeName(dataHome));
        const QString store = dataHome + kStoreFile;
        const QString folder = QFileInfo(store).path();
        QVERIFY(QDir().mkpath(folderIsFile ? dataHome : folder));
        QFile file(folderIsFile ? folder : store);
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write(QByteArray(4096, 'x')) == 4096 && file.flush());

        const ChildResult child = runChild(role);
        QCOMPARE(child.exitStatus, QProcess::NormalExit);
        QCOMPARE(child.exitCode, 1);
        QCOMPARE(child.out, QByteArray()); // nothing after the end
        const QString err = QString::fromUtf8(child.err);
        const QString start = QStringLiteral("Fatal error: Unresolved error Error Domain=%1 Code=%2 ");
        QVERIFY2(err.startsWith(start.arg(kStoreErrorDomain, QString::number(int(StoreErrorCode::CannotOpen)))),
                 qPrintable(err));
        QVERIFY2(err.contains(store), qPrintable(err));
        QVERIFY(err.endsWith(u'\n') && err.count(u'\n') == 1);
    }

private:
    QString m_dataHome;
    int m_run = 0;
    ScriptedUser m_user;
};

VENNACOTT_TEST_MAIN_WITH_CHILD(AppDelegateTest, QApplication, childMain)
#include "tst_appdelegate.moc"
