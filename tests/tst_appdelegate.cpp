// The delegate's local store, save action and quit decision, with the store's faults injected.
#include "appdelegate.h"
#include "application.h"
#include "dispatch.h"
#include "persistentcontainer.h"
#include "settingskeys.h"
#include "testserver.h"
#include "testsupport.h"
#include "urlsession.h"
#include "userdefaults.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>

#include <cstdio>
#include <functional>

using namespace vennacott;
using namespace vennacott::test;
using namespace std::chrono_literals;

Q_DECLARE_METATYPE(vennacott::TerminateReply)
Q_DECLARE_METATYPE(vennacott::ModalResponse)

namespace {

constexpr auto kInterval = 50ms;
const QString kStoreFolder = QStringLiteral("/vennacott-ddns");
const QString kStoreFile = QStringLiteral("/vennacott-ddns/Vennacott_DDNS.sqlite");

const QString kQuestion = QStringLiteral("Could not save changes while quitting. Quit anyway?");
const QString kInformation =
    QStringLiteral("Quitting now will lose any changes you have made since the last successful save");
const QString kCommitBeforeSaving = QStringLiteral("Vennacott_DDNS.AppDelegate unable to commit editing before saving");
const QString kCommitToTerminate = QStringLiteral("Vennacott_DDNS.AppDelegate unable to commit editing to terminate");

class RefusingEditor final : public Editor
{
public:
    bool commitEditing() override { return false; }
};

class ScriptedErrorPresenter final : public ErrorPresenter
{
public:
    bool presentError(const Error &error) override
    {
        errors.append(error);
        return resolves;
    }
    bool resolves = false;
    QList<Error> errors;
};

class ScriptedAlertRunner final : public AlertRunner
{
public:
    ModalResponse runModal(const Alert &alert) override
    {
        alerts.append(alert);
        return answer;
    }
    ModalResponse answer = ModalResponse::FirstButton;
    QList<Alert> alerts;
};

// What is in the context before the action.
enum class Change { None, Valid, Unsavable };

} // namespace

Q_DECLARE_METATYPE(Change)

namespace {

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

// Answers the message boxes that come up, in turn, by a bounded poll of the active modal widget.
class MessageBoxAnswerer final : public QObject
{
public:
    using Answer = std::function<void(QMessageBox &)>;
    explicit MessageBoxAnswerer(QList<Answer> answers)
        : m_answers(std::move(answers))
    {
        connect(&m_poll, &QTimer::timeout, this, &MessageBoxAnswerer::poll);
        m_poll.start(10);
    }
    int answered() const { return m_answered; }

private:
    void poll()
    {
        if (++m_polls > 2000 || m_answered == m_answers.size()) {
            m_poll.stop();
            return;
        }
        auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
        if (!box || box == m_last || !box->isVisible())
            return;
        m_last = box;
        m_answers.at(m_answered++)(*box);
    }

    QList<Answer> m_answers;
    QTimer m_poll;
    QPointer<QMessageBox> m_last;
    int m_answered = 0;
    int m_polls = 0;
};

int childMain(const QString &role)
{
    // Anything shown instead of ending would be visible to the parent on standard output.
    struct Shout final : ErrorPresenter, AlertRunner
    {
        bool presentError(const Error &) override
        {
            std::puts("presented");
            return false;
        }
        ModalResponse runModal(const Alert &) override
        {
            std::puts("alert");
            return ModalResponse::FirstButton;
        }
    } shout;
    Application::shared().setErrorPresenter(&shout);
    Application::shared().setAlertRunner(&shout);
    AppDelegate delegate;
    if (role == u"save")
        delegate.saveAction();
    else
        delegate.applicationShouldTerminate(Application::shared());
    std::puts("went on");
    return 0;
}

} // namespace

class AppDelegateTest final : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void cleanup();

    void decision_logsPresentsAndReplies_data();
    void decision_logsPresentsAndReplies();
    void persistentContainer_isCreatedOnFirstReadOnly();
    void cancelledQuit_keepsTheUpdaterTicking_data();
    void cancelledQuit_keepsTheUpdaterTicking();
    void unusableStore_endsTheProcessAtOnce_data();
    void unusableStore_endsTheProcessAtOnce();
    void quitAlert_onARealMessageBox_data();
    void quitAlert_onARealMessageBox();

private:
    QString m_dataHome;
    int m_run = 0;
    ScriptedErrorPresenter m_presenter;
    ScriptedAlertRunner m_runner;
};

void AppDelegateTest::init()
{
    m_dataHome = temporaryRoot() + QStringLiteral("/delegate-%1").arg(++m_run);
    QVERIFY(QDir().mkpath(m_dataHome));
    qputenv("XDG_DATA_HOME", QFile::encodeName(m_dataHome));
    m_presenter = ScriptedErrorPresenter();
    m_runner = ScriptedAlertRunner();
    Application::shared().setErrorPresenter(&m_presenter);
    Application::shared().setAlertRunner(&m_runner);
    clearSettings();
}

void AppDelegateTest::cleanup()
{
    Application::shared().setDelegate(nullptr);
    Application::shared().setErrorPresenter(nullptr);
    Application::shared().setAlertRunner(nullptr);
}

void AppDelegateTest::decision_logsPresentsAndReplies_data()
{
    QTest::addColumn<bool>("quit"); // the quit decision, else the save action
    QTest::addColumn<bool>("refuseCommit");
    QTest::addColumn<Change>("change");
    QTest::addColumn<bool>("resolves");
    QTest::addColumn<ModalResponse>("answer");
    QTest::addColumn<TerminateReply>("reply");
    QTest::addColumn<QStringList>("log");
    QTest::addColumn<int>("presented");
    QTest::addColumn<bool>("alerted");
    QTest::addColumn<bool>("saved");

    using M = ModalResponse;
    using R = TerminateReply;
    const QStringList none;
    const auto F = M::FirstButton;
    // clang-format off
    QTest::newRow("quit: untouched store")          << true << false << Change::None << false << F << R::Now << none << 0 << false << false;
    QTest::newRow("quit: change saved")             << true << false << Change::Valid << false << F << R::Now << none << 0 << false << true;
    QTest::newRow("quit: commit refused")           << true << true << Change::None << false << F << R::Cancel << QStringList{kCommitToTerminate} << 0 << false << false;
    QTest::newRow("quit: commit refused, unsaved")  << true << true << Change::Valid << false << F << R::Cancel << QStringList{kCommitToTerminate} << 0 << false << false;
    QTest::newRow("quit: save fails, resolved")     << true << false << Change::Unsavable << true << F << R::Cancel << none << 1 << false << false;
    QTest::newRow("quit: save fails, quit anyway")  << true << false << Change::Unsavable << false << F << R::Now << none << 1 << true << false;
    QTest::newRow("quit: save fails, cancel")       << true << false << Change::Unsavable << false << M::SecondButton << R::Cancel << none << 1 << true << false;
    QTest::newRow("quit: save fails, no answer")    << true << false << Change::Unsavable << false << M::Abort << R::Now << none << 1 << true << false;
    QTest::newRow("save: no changes")               << false << false << Change::None << false << F << R::Now << none << 0 << false << false;
    QTest::newRow("save: change saved")             << false << false << Change::Valid << false << F << R::Now << none << 0 << false << true;
    QTest::newRow("save: commit refused")           << false << true << Change::None << false << F << R::Now << QStringList{kCommitBeforeSaving} << 0 << false << false;
    QTest::newRow("save: commit refused, saved")    << false << true << Change::Valid << false << F << R::Now << QStringList{kCommitBeforeSaving} << 0 << false << true;
    QTest::newRow("save: fails, resolved")          << false << false << Change::Unsavable << true << F << R::Now << none << 1 << false << false;
    QTest::newRow("save: fails, not resolved")      << false << false << Change::Unsavable << false << F << R::Now << none << 1 << false << false;
    // clang-format on
}

void AppDelegateTest::decision_logsPresentsAndReplies()
{
    QFETCH(bool, quit);
    QFETCH(bool, refuseCommit);
    QFETCH(Change, change);
    QFETCH(bool, resolves);
    QFETCH(ModalResponse, answer);
    QFETCH(TerminateReply, reply);
    QFETCH(QStringList, log);
    QFETCH(int, presented);
    QFETCH(bool, alerted);
    QFETCH(bool, saved);
    m_presenter.resolves = resolves;
    m_runner.answer = answer;
    RefusingEditor editor;
    AppDelegate delegate;
    prepare(delegate, change, refuseCommit, editor);

    ConsoleCapture console;
    if (quit)
        QCOMPARE(int(delegate.applicationShouldTerminate(Application::shared())), int(reply));
    else
        delegate.saveAction();

    QCOMPARE(console.errors(), log);
    QCOMPARE(console.output(), QStringList());
    QCOMPARE(m_presenter.errors.size(), presented);
    if (presented > 0)
        QCOMPARE(m_presenter.errors.constFirst().code, int(StoreErrorCode::Validation));
    QCOMPARE(m_runner.alerts.size(), alerted ? 1 : 0);
    if (alerted) {
        const Alert &alert = m_runner.alerts.constFirst();
        QCOMPARE(alert.messageText(), kQuestion);
        QCOMPARE(alert.informativeText(), kInformation);
        QCOMPARE(alert.buttonTitles(), (QStringList{QStringLiteral("Quit anyway"), QStringLiteral("Cancel")}));
        QCOMPARE(alert.alertStyle(), Alert::Style::Warning);
    }
    // Whatever was not saved stays in the context; the store exists once either action has run.
    QVERIFY(QFile::exists(m_dataHome + kStoreFile));
    QCOMPARE(delegate.persistentContainer().viewContext().hasChanges(), change != Change::None && !saved);
    QCOMPARE(noteIsSaved(), saved);
    delegate.persistentContainer().viewContext().objectDidEndEditing(&editor);
}

void AppDelegateTest::persistentContainer_isCreatedOnFirstReadOnly()
{
    AppDelegate delegate(UpdaterOptions{kInterval, QStringLiteral("https://127.0.0.1:9")});
    delegate.applicationDidFinishLaunching();
    QSignalSpy ticks(delegate.findChild<QTimer *>(), &QTimer::timeout);
    QVERIFY(ticks.wait(5000));
    QVERIFY(!QFile::exists(m_dataHome + kStoreFolder)); // launch and ticks leave the store alone

    PersistentContainer &first = delegate.persistentContainer();
    QVERIFY(QFile::exists(m_dataHome + kStoreFile));
    first.viewContext().setValue(QStringLiteral("note"), QStringLiteral("pending"));
    // Loading again would fail (the store is open) and end the process; a new container would drop the edit.
    ConsoleCapture console;
    PersistentContainer &second = delegate.persistentContainer();
    QCOMPARE(&second, &first);
    QVERIFY(second.viewContext().hasChanges());
    QCOMPARE(console.all(), QString());
}

void AppDelegateTest::cancelledQuit_keepsTheUpdaterTicking_data()
{
    QTest::addColumn<bool>("refuseCommit");
    QTest::addColumn<bool>("resolves");
    QTest::addColumn<ModalResponse>("answer");
    QTest::addColumn<bool>("keepsRunning");
    QTest::newRow("commit refused") << true << false << ModalResponse::FirstButton << true;
    QTest::newRow("error resolved") << false << true << ModalResponse::FirstButton << true;
    QTest::newRow("alert cancelled") << false << false << ModalResponse::SecondButton << true;
    QTest::newRow("quit anyway") << false << false << ModalResponse::FirstButton << false;
}

void AppDelegateTest::cancelledQuit_keepsTheUpdaterTicking()
{
    QFETCH(bool, refuseCommit);
    QFETCH(bool, resolves);
    QFETCH(ModalResponse, answer);
    QFETCH(bool, keepsRunning);
    constexpr int kStillTicking = 7;
    constexpr int kGaveUp = 99;
    m_presenter.resolves = resolves;
    m_runner.answer = answer;
    TestServer server;
    UserDefaults::standard().setObject(QStringLiteral("/update/host/k3y"), keys::kDnsLink);
    ConsoleCapture console;
    RefusingEditor editor;
    AppDelegate delegate(UpdaterOptions{kInterval, server.baseUrl()});
    prepare(delegate, refuseCommit ? Change::Valid : Change::Unsavable, refuseCommit, editor);
    Application::shared().setDelegate(&delegate);

    // In the running event loop: one tick's request, then the quit request, then two more ticks' requests.
    int requestsAtQuit = -1;
    connect(&server, &TestServer::requestReceived, this, [&] {
        if (requestsAtQuit < 0) {
            requestsAtQuit = server.requestCount();
            Application::shared().terminate();
        } else if (server.requestCount() >= requestsAtQuit + 2) {
            QCoreApplication::exit(kStillTicking);
        }
    });
    QTimer watchdog;
    watchdog.setSingleShot(true);
    connect(&watchdog, &QTimer::timeout, this, [] { QCoreApplication::exit(kGaveUp); });
    watchdog.start(30'000);
    QTimer::singleShot(0, &delegate, &AppDelegate::applicationDidFinishLaunching);
    const quint64 finishedBefore = UrlSession::shared().finishedTaskCount();
    const int end = QCoreApplication::exec();
    server.disconnect(this);

    // Let the requests of the last ticks finish while their lines are still captured.
    delegate.findChild<QTimer *>()->stop();
    dispatch::drainBackground();
    const QString url = server.baseUrl() + QStringLiteral("/update/host/k3y");
    const auto urlLines = [&] { return console.output().count(url); };
    QTRY_COMPARE_WITH_TIMEOUT(UrlSession::shared().finishedTaskCount() - finishedBefore, quint64(urlLines()), 10'000);

    QCOMPARE(end, keepsRunning ? kStillTicking : 0);
    QVERIFY(requestsAtQuit > 0);
    delegate.persistentContainer().viewContext().objectDidEndEditing(&editor);
}

void AppDelegateTest::unusableStore_endsTheProcessAtOnce_data()
{
    QTest::addColumn<QString>("role");
    QTest::newRow("save action") << QStringLiteral("save");
    QTest::newRow("quit decision") << QStringLiteral("quit");
}

void AppDelegateTest::unusableStore_endsTheProcessAtOnce()
{
    QFETCH(QString, role);
    // A file where the store's folder should be.
    QFile inTheWay(m_dataHome + kStoreFolder);
    QVERIFY(inTheWay.open(QIODevice::WriteOnly));
    inTheWay.close();

    const ChildResult child = runChild(role, {QStringLiteral("XDG_DATA_HOME=") + m_dataHome});
    QCOMPARE(child.exitStatus, QProcess::NormalExit);
    QCOMPARE(child.exitCode, 1);
    QCOMPARE(child.out, QByteArray()); // no alert, no error presentation, nothing after the end
    const QString err = QString::fromUtf8(child.err);
    QVERIFY2(err.startsWith(QStringLiteral("Fatal error: Unresolved error Error Domain=VennacottStoreErrorDomain")),
             qPrintable(err));
    QVERIFY2(err.contains(m_dataHome + kStoreFile), qPrintable(err));
    QVERIFY(err.endsWith(u'\n') && err.count(u'\n') == 1);
}

void AppDelegateTest::quitAlert_onARealMessageBox_data()
{
    QTest::addColumn<QString>("answer");
    QTest::addColumn<TerminateReply>("reply");
    QTest::newRow("Quit anyway clicked") << QStringLiteral("Quit anyway") << TerminateReply::Now;
    QTest::newRow("Cancel clicked") << QStringLiteral("Cancel") << TerminateReply::Cancel;
    QTest::newRow("Return") << QStringLiteral("Return") << TerminateReply::Now;
    QTest::newRow("Escape") << QStringLiteral("Escape") << TerminateReply::Cancel;
}

void AppDelegateTest::quitAlert_onARealMessageBox()
{
    QFETCH(QString, answer);
    QFETCH(TerminateReply, reply);
    // The message boxes themselves: the default error presentation first, then the quit alert.
    Application::shared().setErrorPresenter(nullptr);
    Application::shared().setAlertRunner(nullptr);
    RefusingEditor unused;
    AppDelegate delegate;
    prepare(delegate, Change::Unsavable, false, unused);

    QString errorText;
    QStringList errorButtons;
    QString question;
    QString information;
    QList<QPair<QString, QMessageBox::ButtonRole>> buttons;
    QString defaultButton;
    QString escapeButton;
    MessageBoxAnswerer answerer({
        [&](QMessageBox &box) {
            errorText = box.text();
            for (QAbstractButton *button : box.buttons())
                errorButtons.append(button->text());
            box.buttons().constFirst()->click();
        },
        [&](QMessageBox &box) {
            question = box.text();
            information = box.informativeText();
            for (QAbstractButton *button : box.buttons())
                buttons.append({button->text(), box.buttonRole(button)});
            defaultButton = box.defaultButton() ? box.defaultButton()->text() : QString();
            escapeButton = box.escapeButton() ? box.escapeButton()->text() : QString();
            if (answer == u"Return")
                QTest::keyClick(&box, Qt::Key_Return);
            else if (answer == u"Escape")
                QTest::keyClick(&box, Qt::Key_Escape);
            else
                for (QAbstractButton *button : box.buttons())
                    if (button->text() == answer)
                        button->click();
        },
    });

    QCOMPARE(int(delegate.applicationShouldTerminate(Application::shared())), int(reply));
    QCOMPARE(answerer.answered(), 2);
    QCOMPARE(errorText, QStringLiteral("The changes could not be saved: an entry has no name."));
    QCOMPARE(errorButtons.size(), 1);
    QCOMPARE(question, kQuestion);
    QCOMPARE(information, kInformation);
    // The first button is the default one (Return), the second the one Escape and closing choose.
    QCOMPARE(buttons.size(), 2);
    QVERIFY(buttons.contains({QStringLiteral("Quit anyway"), QMessageBox::AcceptRole}));
    QVERIFY(buttons.contains({QStringLiteral("Cancel"), QMessageBox::RejectRole}));
    QCOMPARE(defaultButton, QStringLiteral("Quit anyway"));
    QCOMPARE(escapeButton, QStringLiteral("Cancel"));
}

VENNACOTT_TEST_MAIN_WITH_CHILD(AppDelegateTest, QApplication, childMain)
#include "tst_appdelegate.moc"
