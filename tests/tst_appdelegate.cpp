// The delegate's local store, save action and quit decision, with the store's faults injected: a store
// that cannot be opened, a save that fails, an edit that will not commit.
#include "appdelegate.h"
#include "application.h"
#include "core.h"
#include "persistentcontainer.h"
#include "storyboard.h"
#include "testsupport.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QMessageBox>
#include <QPushButton>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTest>
#include <QTimer>

using namespace vennacott;
using namespace vennacott::test;

Q_DECLARE_METATYPE(vennacott::TerminateReply)
Q_DECLARE_METATYPE(vennacott::ModalResponse)

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
    // Answers what is shown, and what comes up after it, in turn.
    void respond()
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

// What is in the context before the action.
enum class Change { None, Valid, Unsavable };

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

} // namespace

Q_DECLARE_METATYPE(Change)

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
        QTest::addColumn<bool>("quit"); // the quit decision, else the save action
        QTest::addColumn<bool>("refuseCommit");
        QTest::addColumn<Change>("change");
        QTest::addColumn<bool>("resolves");
        QTest::addColumn<ModalResponse>("answer");
        QTest::addColumn<TerminateReply>("reply");
        QTest::addColumn<QString>("log"); // the one line on standard error, if any
        QTest::addColumn<bool>("presented");
        QTest::addColumn<bool>("alerted");
        QTest::addColumn<bool>("saved");

        using M = ModalResponse;
        using R = TerminateReply;
        const QString none;
        const auto F = M::FirstButton;
        // clang-format off
        QTest::newRow("quit: untouched store")          << true << false << Change::None << false << F << R::Now << none << false << false << false;
        QTest::newRow("quit: change saved")             << true << false << Change::Valid << false << F << R::Now << none << false << false << true;
        QTest::newRow("quit: commit refused, unsaved")  << true << true << Change::Valid << false << F << R::Cancel << kCommitToTerminate << false << false << false;
        QTest::newRow("quit: save fails, resolved")     << true << false << Change::Unsavable << true << F << R::Cancel << none << true << false << false;
        QTest::newRow("quit: save fails, quit anyway")  << true << false << Change::Unsavable << false << F << R::Now << none << true << true << false;
        QTest::newRow("quit: save fails, cancel")       << true << false << Change::Unsavable << false << M::SecondButton << R::Cancel << none << true << true << false;
        QTest::newRow("quit: save fails, no answer")    << true << false << Change::Unsavable << false << M::Abort << R::Now << none << true << true << false;
        QTest::newRow("save: change saved")             << false << false << Change::Valid << false << F << R::Now << none << false << false << true;
        QTest::newRow("save: commit refused, saved")    << false << true << Change::Valid << false << F << R::Now << kCommitBeforeSaving << false << false << true;
        QTest::newRow("save: fails, not resolved")      << false << false << Change::Unsavable << false << F << R::Now << none << true << false << false;
        // clang-format on
    }

    void decision_logsPresentsAndReplies()
    {
        QFETCH(bool, quit);
        QFETCH(bool, refuseCommit);
        QFETCH(Change, change);
        QFETCH(bool, resolves);
        QFETCH(ModalResponse, answer);
        QFETCH(TerminateReply, reply);
        QFETCH(QString, log);
        QFETCH(bool, presented);
        QFETCH(bool, alerted);
        QFETCH(bool, saved);
        m_user.resolves = resolves;
        m_user.answer = answer;
        RefusingEditor editor;
        Core core(Core::Options{});
        AppDelegate delegate(core);
        prepare(delegate, change, refuseCommit, editor);

        QList<bool> pauses;
        delegate.setUpdatePause([&](bool paused) { pauses.append(paused); });

        ConsoleCapture console;
        if (quit) {
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
            QCOMPARE(QCoreApplication::exec(), reply == TerminateReply::Now ? 0 : kStillRunning);
            // No update while the user decides; they resume when the program goes on.
            const QList<bool> expected = reply == TerminateReply::Now ? QList<bool>{true} : QList<bool>{true, false};
            QCOMPARE(pauses, presented ? expected : QList<bool>());
        } else {
            delegate.saveAction();
            m_user.respond();
        }

        QCOMPARE(console.errors(), log.isEmpty() ? QStringList() : QStringList{log});
        QCOMPARE(console.output(), QStringList());
        QCOMPARE(m_user.errors.size(), presented ? 1 : 0);
        if (presented)
            QCOMPARE(m_user.errors.constFirst().code, int(StoreErrorCode::Validation));
        // What the alert says and its buttons: on the real message box below.
        QCOMPARE(m_user.alerts.size(), alerted ? 1 : 0);
        if (quit && presented && reply == TerminateReply::Cancel) { // the question is over: a new request asks again
            Application::shared().terminate();
            m_user.respond();
            QCOMPARE(m_user.errors.size(), 2);
        }
        // Whatever was not saved stays in the context; the store exists once either action has run.
        QVERIFY(QFile::exists(m_dataHome + kStoreFile));
        QCOMPARE(delegate.persistentContainer().viewContext().hasChanges(), change != Change::None && !saved);
        QCOMPARE(noteIsSaved(), saved);
        delegate.persistentContainer().viewContext().objectDidEndEditing(&editor);
    }

    void unusableStore_endsTheProcessAtOnce_data()
    {
        QTest::addColumn<QString>("role"); // the action the child runs
        QTest::addColumn<QString>("damage");
        QTest::addColumn<int>("code");
        const int cannotOpen = int(StoreErrorCode::CannotOpen);
        const int incompatible = int(StoreErrorCode::IncompatibleModel);
        // clang-format off
        QTest::newRow("save, data folder is a file")   << QStringLiteral("save") << QStringLiteral("file") << cannotOpen;
        QTest::newRow("quit, store is not a database") << QStringLiteral("quit") << QStringLiteral("garbage") << cannotOpen;
        QTest::newRow("save, store of another model")  << QStringLiteral("save") << QStringLiteral("newer") << incompatible;
        // clang-format on
    }

    void unusableStore_endsTheProcessAtOnce()
    {
        QFETCH(QString, role);
        QFETCH(QString, damage);
        QFETCH(int, code);
        // The message is printed as the fatal line: a "%" in the path must come out as it stands.
        const QString dataHome = m_dataHome + QStringLiteral("/a%1%2");
        qputenv("XDG_DATA_HOME", QFile::encodeName(dataHome));
        const QString store = dataHome + kStoreFile;
        const QString folder = QFileInfo(store).path();
        QVERIFY(QDir().mkpath(damage == u"file" ? dataHome : folder));
        if (damage == u"newer") {
            QVERIFY(markAsNewerModel(store));
        } else {
            QFile file(damage == u"file" ? folder : store);
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write(QByteArray(4096, 'x'));
        }

        const ChildResult child = runChild(role);
        QCOMPARE(child.exitStatus, QProcess::NormalExit);
        QCOMPARE(child.exitCode, 1);
        QCOMPARE(child.out, QByteArray()); // nothing after the end
        const QString err = QString::fromUtf8(child.err);
        const QString start = QStringLiteral("Fatal error: Unresolved error Error Domain=%1 Code=%2 ");
        QVERIFY2(err.startsWith(start.arg(kStoreErrorDomain, QString::number(code))), qPrintable(err));
        QVERIFY2(err.contains(store), qPrintable(err));
        QVERIFY(err.endsWith(u'\n') && err.count(u'\n') == 1);
    }

    void quitAlert_onARealMessageBox_data()
    {
        QTest::addColumn<QString>("click");
        QTest::addColumn<TerminateReply>("reply");
        QTest::addColumn<bool>("withWindow"); // the application's window is on screen
        QTest::newRow("Quit anyway, no window") << QStringLiteral("Quit anyway") << TerminateReply::Now << false;
        QTest::newRow("Cancel, on the window") << QStringLiteral("Cancel") << TerminateReply::Cancel << true;
    }

    void quitAlert_onARealMessageBox()
    {
        QFETCH(QString, click);
        QFETCH(TerminateReply, reply);
        QFETCH(bool, withWindow);
        StoryboardWindow window(Storyboard{});
        if (withWindow) {
            window.show();
            QApplication::setActiveWindow(&window);
        }
        // The message boxes themselves: the default error presentation first, then the quit alert.
        Application::shared().setErrorPresenter(nullptr);
        Application::shared().setAlertRunner(nullptr);
        RefusingEditor unused;
        Core core(Core::Options{});
        AppDelegate delegate(core);
        prepare(delegate, Change::Unsavable, false, unused);

        // Each box that comes up is recorded as its buttons (title:role, sorted), default and Escape buttons, parent
        // and modality; then answered: the error with its only button, the alert with
        // `click`.
        QStringList boxes;
        QTimer poll;
        connect(&poll, &QTimer::timeout, this, [&] {
            auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
            if (!box || !box->isVisible() || box->property("answered").toBool())
                return;
            box->setProperty("answered", true);
            QStringList buttons;
            QAbstractButton *choice = box->buttons().constFirst();
            for (QAbstractButton *button : box->buttons()) {
                buttons.append(button->text() + QStringLiteral(":%1").arg(box->buttonRole(button)));
                choice = button->text() == click ? button : choice;
            }
            buttons.sort();
            const auto title = [](QAbstractButton *button) { return button ? button->text() : QStringLiteral("-"); };
            const QString parent = box->parentWidget() == &window ? "window" : box->parentWidget() ? "other" : "none";
            boxes.append(QStringList{buttons.join(u','), title(box->defaultButton()), title(box->escapeButton()),
                                     parent, QString::number(box->windowModality())}
                             .join(u' '));
            choice->click();
        });
        poll.start(10);

        // The program goes on (updates resume) or the loop ends through the termination route.
        QObject scope;
        delegate.setUpdatePause([&](bool paused) {
            if (!paused)
                QTimer::singleShot(0, &scope, [] { QCoreApplication::exit(kStillRunning); });
        });
        Application::shared().setDelegate(&delegate);
        QTimer::singleShot(0, &scope, [] { Application::shared().terminate(); });
        QTimer::singleShot(30'000, &scope, [] { QCoreApplication::exit(-1); }); // a box that never came
        QCOMPARE(QCoreApplication::exec(), reply == TerminateReply::Now ? 0 : kStillRunning);
        QCOMPARE(boxes.size(), 2);
        // Modal on the window alone when there is one; Return chooses the first button, Escape and closing the second.
        const QString where = withWindow ? QStringLiteral("window %1").arg(Qt::WindowModal)
                                         : QStringLiteral("none %1").arg(Qt::ApplicationModal);
        QVERIFY2(boxes[0].count(u':') == 1 && boxes[0].endsWith(where), qPrintable(boxes[0]));
        QCOMPARE(boxes[1],
                 QStringLiteral("Cancel:%1,Quit anyway:%2 Quit anyway Cancel %3")
                     .arg(QString::number(QMessageBox::RejectRole), QString::number(QMessageBox::AcceptRole), where));
    }

private:
    QString m_dataHome;
    int m_run = 0;
    ScriptedUser m_user;
};

VENNACOTT_TEST_MAIN_WITH_CHILD(AppDelegateTest, QApplication, childMain)
#include "tst_appdelegate.moc"
