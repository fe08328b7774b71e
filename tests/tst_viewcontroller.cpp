// The setup window driven through its real widgets against the local test server.
#include "appdelegate.h"
#include "appearance.h"
#include "dispatch.h"
#include "endpoints.h"
#include "mainstoryboard.h"
#include "savedhost.h"
#include "settingskeys.h"
#include "storyboard.h"
#include "testserver.h"
#include "testsupport.h"
#include "translations.h"
#include "updater.h"
#include "urlsession.h"
#include "userdefaults.h"
#include "viewcontroller.h"

#include <QApplication>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QLibraryInfo>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>

using namespace vennacott;
using namespace vennacott::test;
using namespace std::chrono_literals;

namespace {

// Lets everything already posted to the main queue run, including segues that loading screens post.
void settle()
{
    for (int round = 0; round < 4; ++round) {
        bool reached = false;
        dispatch::mainAsync([&reached] { reached = true; });
        QVERIFY(QTest::qWaitFor([&reached] { return reached; }, 10'000));
    }
}

void store(const QString &key, const std::optional<QString> &value)
{
    if (value)
        UserDefaults::standard().setObject(*value, key);
    else
        UserDefaults::standard().removeObjectForKey(key);
}

ViewController &controllerOf(const StoryboardWindow &window)
{
    return static_cast<ViewController &>(*window.currentController());
}

template<typename Widget>
Widget *child(const StoryboardWindow &window, const char *name)
{
    return window.currentController()->findChild<Widget *>(QLatin1String(name));
}

int requestsTo(const TestServer &server, const QByteArray &targetStart)
{
    const QList<RecordedRequest> requests = server.requests();
    return int(std::count_if(requests.cbegin(), requests.cend(),
                             [&](const RecordedRequest &request) { return request.target.startsWith(targetStart); }));
}

// A window on `screen` directly, for screens that are otherwise reached only through others.
std::unique_ptr<StoryboardWindow> windowOn(const QString &screen)
{
    Storyboard storyboard = mainStoryboard();
    storyboard.initialScreen = screen;
    auto window = std::make_unique<StoryboardWindow>(storyboard);
    window->showInitialScreen();
    window->show();
    return window;
}

// A child that clicks Close on the done screen: the process must end there, with status 0.
int childMain(const QString &)
{
    auto window = windowOn(screens::kDone);
    QTest::mouseClick(child<QPushButton>(*window, "CloseButtonDone"), Qt::LeftButton);
    console::printLine(u"still running");
    return 3;
}

} // namespace

class ViewControllerTest final : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() { quietPlatformWarnings(); }
    void init();
    void cleanup();

    void routing_followsStoredSettings_data();
    void routing_followsStoredSettings();
    void savedHost_isCutAndStoredHostnameThenLink_data();
    void savedHost_isCutAndStoredHostnameThenLink();
    void doneScreen_showsHostnameWithZoneSuffix_data();
    void doneScreen_showsHostnameWithZoneSuffix();
    void hostUnavailableWarning_isLegibleOnTheTheme_data();
    void hostUnavailableWarning_isLegibleOnTheTheme();
    void qtOwnTexts_followTheUserLanguage();
    void everyScreen_fixesTheWindowSizeAndNamesItsControls();
    void screenOutsideAWindow_stillLoads();
    void signIn_data();
    void signIn();
    void registration_data();
    void registration();
    void lateAnswer_forScreenAlreadyLeft_doesNothing();
    void doneScreen_statusLineFollowsTheUpdater();
    void reset_forgetsHostKeepsTokenAndSilencesUpdater();
    void closeOnTheDoneScreen_endsTheProcessWithStatusZero();
    void hide_minimisesEveryWindowAndUpdatesGoOn();

private:
    std::unique_ptr<StoryboardWindow> launch();
    QStringList m_screens;
    QStringList m_changes; // of the settings, as key=value in order
    std::unique_ptr<TestServer> m_server;
};

void ViewControllerTest::init()
{
    clearSettings();
    m_screens.clear();
    m_changes.clear();
    UserDefaults::standard().setChangeObserverForTesting(
        [this](const QString &key, const std::optional<QString> &value) {
            m_changes << key + QLatin1Char('=') + value.value_or(QStringLiteral("<removed>"));
        });
    m_server = std::make_unique<TestServer>();
    endpoints::overrideForTesting(m_server->baseUrl(), m_server->baseUrl());
    // The backend's default: nothing saved yet.
    m_server->setHandler([](const RecordedRequest &request) {
        if (request.target == "/secure/api/get_dns")
            return ScriptedResponse::json(R"({"error":"no host saved"})");
        return ScriptedResponse::json(R"({})");
    });
}

void ViewControllerTest::cleanup()
{
    UserDefaults::standard().setChangeObserverForTesting({});
    m_server.reset();
    endpoints::overrideForTesting(QString(), QString());
    settle();
}

std::unique_ptr<StoryboardWindow> ViewControllerTest::launch()
{
    auto window = std::make_unique<StoryboardWindow>(mainStoryboard());
    connect(window.get(), &StoryboardWindow::screenShown, this, [this](const QString &screen) { m_screens << screen; });
    window->showInitialScreen();
    window->show();
    settle();
    return window;
}

void ViewControllerTest::routing_followsStoredSettings_data()
{
    QTest::addColumn<std::optional<QString>>("token");
    QTest::addColumn<std::optional<QString>>("hostname");
    QTest::addColumn<QStringList>("screens");

    const auto value = [](const char *text) { return text ? std::optional<QString>(text) : std::nullopt; };
    const QStringList signIn{screens::kSignIn};
    const QStringList host{screens::kSignIn, screens::kHost};
    const QStringList done{screens::kSignIn, screens::kHost, screens::kDone};
    // clang-format off
    QTest::newRow("no token")               << value(nullptr) << value(nullptr) << signIn;
    QTest::newRow("empty token")            << value("")      << value("h")     << signIn;
    QTest::newRow("no token, host stored")  << value(nullptr) << value("h")     << signIn;
    QTest::newRow("token, hostname absent") << value("tok")   << value(nullptr) << host;
    QTest::newRow("token, hostname empty")  << value("tok")   << value("")      << host;
    QTest::newRow("token, hostname ERROR")  << value("tok")   << value("ERROR") << host;
    QTest::newRow("token, hostname error")  << value("tok")   << value("error") << done;
    QTest::newRow("token, hostname")        << value("tok")   << value("myhost") << done;
    // clang-format on
}

void ViewControllerTest::routing_followsStoredSettings()
{
    QFETCH(std::optional<QString>, token);
    QFETCH(std::optional<QString>, hostname);
    QFETCH(QStringList, screens);
    store(keys::kToken, token);
    store(keys::kHostname, hostname);

    auto window = launch();
    QTRY_COMPARE_WITH_TIMEOUT(m_screens, screens, 10'000);
    const bool asksForSavedHost = token && !token->isEmpty();
    QTRY_COMPARE_WITH_TIMEOUT(requestsTo(*m_server, "/secure/api/get_dns"), asksForSavedHost ? 1 : 0, 10'000);
    settle();
    QCOMPARE(m_screens, screens);
    QCOMPARE(m_server->requestCount(), asksForSavedHost ? 1 : 0);
}

void ViewControllerTest::savedHost_isCutAndStoredHostnameThenLink_data()
{
    QTest::addColumn<bool>("success");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QStringList>("changes");
    const auto stored = [](const QString &hostname, const QString &link) {
        return QStringList{QStringLiteral("hostname=") + hostname, QStringLiteral("dnsLink=") + link};
    };
    // clang-format off
    QTest::newRow("saved link")        << true << R"("/update/myhost/k3y")" << stored("myhost", "/update/myhost/k3y");
    // 20 characters, last "/" at offset 15: the name is offsets 9 to 14, the link offsets 1 to 18.
    QTest::newRow("twenty characters") << true << "0123456789abcde/ghij" << stored("9abcde", "123456789abcde/ghi");
    QTest::newRow("several slashes")   << true << R"("/update/a/b/key")" << stored("a/b", "/update/a/b/key");
    QTest::newRow("last slash at offset 9")     << true << R"("/update//k")" << stored("", "/update//k");
    QTest::newRow("last slash before offset 9") << true << R"("/u/x")" << stored("", "/u/x");
    QTest::newRow("one character")     << true << "/" << stored("", "");
    QTest::newRow("two characters")    << true << R"("/)" << stored("", "");
    QTest::newRow("three characters")  << true << R"("/")" << stored("", "/");
    QTest::newRow("combining accent is one character")
        << true << QStringLiteral("\"/update/e\u0301x/k\"") << stored(QStringLiteral("e\u0301x"), QStringLiteral("/update/e\u0301x/k"));
    QTest::newRow("JSON string, line feed after") << true << " \"/update/me/k\"\r\n" << stored("me", "/update/me/k");
    QTest::newRow("JSON string, escaped slashes") << true << R"("\/update\/me\/k")" << stored("me", "/update/me/k");
    QTest::newRow("no slash")          << true << R"("nothing")" << QStringList();
    QTest::newRow("false flag")        << false << R"("/update/me/k")" << QStringList();
    QTest::newRow("empty text")        << true << "" << QStringList();
    // clang-format on
}

void ViewControllerTest::savedHost_isCutAndStoredHostnameThenLink()
{
    QFETCH(bool, success);
    QFETCH(QString, text);
    QFETCH(QStringList, changes);
    m_changes.clear();
    storeSavedHost(success, text);
    QCOMPARE(m_changes, changes);
}

void ViewControllerTest::doneScreen_showsHostnameWithZoneSuffix_data()
{
    QTest::addColumn<std::optional<QString>>("hostname");
    QTest::addColumn<int>("pointSize"); // of the application's font; 0 for the platform's own
    QTest::addColumn<QString>("shown");
    const auto name = [](const char *text) { return std::optional<QString>(QString::fromLatin1(text)); };
    const QString zone = endpoints::zoneSuffix();
    // clang-format off
    QTest::newRow("absent")           << std::optional<QString>() << 0 << QStringLiteral("ERROR") + zone;
    QTest::newRow("empty")            << name("")                 << 0 << zone;
    QTest::newRow("name")             << name("my-computer")      << 0 << QStringLiteral("my-computer") + zone;
    QTest::newRow("name, 16 pt")      << name("my-computer")      << 16 << QStringLiteral("my-computer") + zone;
    // The longest label DNS allows: too wide for the window at full emphasis.
    const char *longest = "my-computer-in-the-attic-next-to-the-old-router-and-the-printer";
    QTest::newRow("63-letter name")   << name(longest)            << 0 << QString::fromLatin1(longest) + zone;
    // clang-format on
}

void ViewControllerTest::doneScreen_showsHostnameWithZoneSuffix()
{
    QFETCH(std::optional<QString>, hostname);
    QFETCH(int, pointSize);
    QFETCH(QString, shown);
    store(keys::kHostname, hostname);
    const QFont platformFont = QApplication::font();
    const auto restoreFont = qScopeGuard([platformFont] { QApplication::setFont(platformFont); });
    if (pointSize > 0) {
        QFont large = platformFont;
        large.setPointSize(pointSize);
        QApplication::setFont(large);
    }
    auto window = windowOn(screens::kDone);
    QLineEdit *label = controllerOf(*window).hostNameDoneLabel;
    QVERIFY(label);
    QCOMPARE(label->text(), shown);
    QVERIFY(label->isReadOnly());
    // The whole name fits in the font the field really draws with, with the line edit's own inner margins
    // (2 px either side) and its cursor.
    const int advance = QFontMetrics(label->font()).horizontalAdvance(shown);
    QVERIFY2(
        advance + 6 <= label->contentsRect().width(),
        qPrintable(QStringLiteral("%1 px of text in a %2 px field").arg(advance).arg(label->contentsRect().width())));
    // And it stands out from the screen's text at any size of that.
    QVERIFY(label->font().bold());
    QVERIFY(QFontInfo(label->font()).pixelSize() >= QFontInfo(window->currentController()->font()).pixelSize());
}

void ViewControllerTest::hostUnavailableWarning_isLegibleOnTheTheme_data()
{
    QTest::addColumn<QPalette>("atStart");
    QTest::addColumn<QPalette>("switchedTo"); // while the screen shows, as a desktop switching themes does
    const QPalette light(QColor(0xef, 0xef, 0xef), QColor(0xef, 0xef, 0xef));
    const QPalette dark(QColor(0x32, 0x32, 0x32), QColor(0x32, 0x32, 0x32));
    QTest::newRow("light, then dark") << light << dark;
    QTest::newRow("dark, then light") << dark << light;
}

void ViewControllerTest::hostUnavailableWarning_isLegibleOnTheTheme()
{
    QFETCH(QPalette, atStart);
    QFETCH(QPalette, switchedTo);
    const QPalette platformPalette = QApplication::palette();
    const auto restorePalette = qScopeGuard([platformPalette] { QApplication::setPalette(platformPalette); });
    QApplication::setPalette(atStart);
    auto window = windowOn(screens::kHost);
    const QLabel *warning = controllerOf(*window).labelHostUnavailable;
    QVERIFY(warning);
    for (const QPalette &theme : {atStart, switchedTo}) {
        // Outside a running event loop Qt passes a new application palette only to new widgets.
        window->setPalette(theme);
        const QColor text = warning->palette().color(QPalette::WindowText);
        const QColor background = window->currentController()->palette().color(QPalette::Window);
        QCOMPARE(background, theme.color(QPalette::Window));
        QVERIFY2(appearance::contrastRatio(text, background) >= appearance::kLegibleContrast,
                 qPrintable(text.name() + QStringLiteral(" on ") + background.name()));
        QVERIFY2(text.hslHue() >= 330 || (text.hslHue() >= 0 && text.hslHue() <= 20), qPrintable(text.name()));
    }
}

void ViewControllerTest::qtOwnTexts_followTheUserLanguage()
{
    const QString folder = QLibraryInfo::path(QLibraryInfo::TranslationsPath);
    if (!QFile::exists(folder + QStringLiteral("/qtbase_de.qm")))
        QSKIP(qPrintable(
            QStringLiteral("Qt's German translation is not installed in %1 (qt6-translations-l10n)").arg(folder)));
    const Translations german(QLocale(QLocale::German, QLocale::Germany));
    QMessageBox box;
    QCOMPARE(box.addButton(QMessageBox::Cancel)->text(), QStringLiteral("Abbrechen"));
    auto window = windowOn(screens::kDone);
    const std::unique_ptr<QMenu> menu(controllerOf(*window).hostNameDoneLabel->createStandardContextMenu());
    QVERIFY(menu->actions().constFirst()->text().contains(QStringLiteral("Kopieren")));
}

void ViewControllerTest::everyScreen_fixesTheWindowSizeAndNamesItsControls()
{
    for (const QString &screen : {screens::kSignIn, screens::kHost, screens::kDone}) {
        Storyboard storyboard = mainStoryboard();
        storyboard.initialScreen = screen;
        StoryboardWindow window(storyboard);
        window.setWindowTitle(kWindowTitle);
        const Qt::WindowFlags flags = window.windowFlags();
        window.showInitialScreen();
        window.show();
        QVERIFY(!window.isResizable());
        QCOMPARE(window.minimumSize(), window.maximumSize());
        QCOMPARE(window.windowFlags(), flags);
        QCOMPARE(window.windowTitle(), kWindowTitle);
        QCOMPARE(window.currentController()->preferredContentSize(), window.currentController()->size());
        for (const QWidget *control : window.currentController()->findChildren<QWidget *>()) {
            if (qobject_cast<const QLineEdit *>(control) || qobject_cast<const QPushButton *>(control))
                QVERIFY2(!control->accessibleName().isEmpty(), qPrintable(control->objectName()));
        }
    }
}

void ViewControllerTest::screenOutsideAWindow_stillLoads()
{
    UserDefaults::standard().setObject(QStringLiteral("abc"), keys::kHostname);
    const std::shared_ptr<ViewControllerBase> controller = mainStoryboard().instantiate(screens::kDone);
    QVERIFY(!controller->storyboardWindow());
    controller->viewDidLoad();
    QCOMPARE(static_cast<ViewController &>(*controller).hostNameDoneLabel->text(),
             QStringLiteral("abc") + endpoints::zoneSuffix());
    QCOMPARE(controller->preferredContentSize(), controller->size());
}

void ViewControllerTest::signIn_data()
{
    QTest::addColumn<QByteArray>("reply"); // empty: the backend never answers
    QTest::addColumn<bool>("enter");       // Enter in the password field, else the button
    QTest::addColumn<QStringList>("screens");
    QTest::addColumn<std::optional<QString>>("token");
    QTest::addColumn<QString>("said"); // under the fields, when the screen stays
    const QByteArray granted = R"({"token":"fresh-token"})";
    const QStringList moved{screens::kSignIn, screens::kHost};
    const std::optional<QString> fresh = QStringLiteral("fresh-token");
    const QStringList stayed{screens::kSignIn};
    QTest::newRow("granted") << granted << false << moved << fresh << QString();
    QTest::newRow("granted, Enter") << granted << true << moved << fresh << QString();
    QTest::newRow("refused") << QByteArray(R"({"code":401,"message":"wrong password"})") << false << stayed
                             << std::optional<QString>() << "The e-mail address or password was not accepted.";
    QTest::newRow("no answer") << QByteArray() << false << stayed << std::optional<QString>()
                               << "The service could not be reached. Check the network connection and try again.";
}

void ViewControllerTest::signIn()
{
    QFETCH(QByteArray, reply);
    QFETCH(bool, enter);
    QFETCH(QStringList, screens);
    QFETCH(std::optional<QString>, token);
    QFETCH(QString, said);
    ScriptedResponse response = ScriptedResponse::json(reply, token ? 200 : 401);
    if (reply.isEmpty())
        response.action = ScriptedResponse::Action::Stall;
    m_server->respondWith(response);
    auto window = launch();
    ViewController &signIn = controllerOf(*window);
    QTest::keyClicks(signIn.email, QStringLiteral("me@x.example"));
    QTest::keyClicks(signIn.password, QStringLiteral("hunter22"));
    const quint64 before = UrlSession::shared().finishedTaskCount();
    if (enter)
        QTest::keyClick(signIn.password, Qt::Key_Return);
    else
        QTest::mouseClick(signIn.loginButton, Qt::LeftButton);
    // Busy, never silent: the button is off until the request ends.
    QVERIFY(!signIn.loginButton->isEnabled());
    QCOMPARE(signIn.signInStatusLabel->text(), QStringLiteral("Signing in…"));
    QTRY_VERIFY_WITH_TIMEOUT(UrlSession::shared().finishedTaskCount() > before, 10'000);
    settle();

    QCOMPARE(m_screens, screens);
    QCOMPARE(UserDefaults::standard().stringForKey(keys::kToken), token);
    QCOMPARE(m_server->requestCount(), 1);
    QCOMPARE(QJsonDocument::fromJson(m_server->requests().constFirst().body).object().toVariantMap(),
             (QVariantMap{{QStringLiteral("Email"), QStringLiteral("me@x.example")},
                          {QStringLiteral("Password"), QStringLiteral("hunter22")}}));
    if (!token) {
        // The screen stays as it was, with what was typed, says why and lets the user try again.
        QCOMPARE(window->currentController().get(), &signIn);
        QCOMPARE(signIn.email->text(), QStringLiteral("me@x.example"));
        QCOMPARE(signIn.password->text(), QStringLiteral("hunter22"));
        QCOMPARE(signIn.signInStatusLabel->text(), said);
        QVERIFY(signIn.loginButton->isEnabled());
    }
}

void ViewControllerTest::doneScreen_statusLineFollowsTheUpdater()
{
    store(keys::kHostname, QStringLiteral("me"));
    store(keys::kDnsLink, QStringLiteral("/update/me/k3y"));
    m_server->respondWith(ScriptedResponse::json(R"({"host":"me","ip":"192.0.2.7"})"));
    Updater updater(m_server->baseUrl(), 10s);
    Storyboard storyboard = mainStoryboard(&updater);
    storyboard.initialScreen = screens::kDone;
    StoryboardWindow window(storyboard);
    window.showInitialScreen();
    const QLabel *line = controllerOf(window).updaterStatusLabel;
    QCOMPARE(line->text(), QStringLiteral("Waiting for the first update"));

    ConsoleCapture console;
    updater.tick();
    QTRY_VERIFY_WITH_TIMEOUT(line->text().endsWith(QStringLiteral(" — the service sees 192.0.2.7")), 10'000);
    m_server->respondWith(ScriptedResponse::json(R"({"code":403,"error":"wrong update key"})", 403));
    updater.tick();
    QTRY_VERIFY_WITH_TIMEOUT(line->text().endsWith(QLatin1String(": wrong update key")), 10'000);
    QVERIFY(line->text().startsWith(QLatin1String("The update server refused the last update at ")));
}

void ViewControllerTest::registration_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QByteArray>("reply"); // empty: the update server never answers
    QTest::addColumn<bool>("saveAnswers");
    QTest::addColumn<QStringList>("changes"); // of the settings, in order
    QTest::addColumn<QString>("screen");
    QTest::addColumn<bool>("warned"); // the host-unavailable label
    QTest::addColumn<QString>("said");
    const QStringList granted{"hostname=MyHost", "dnsLink=/update/MyHost/k3y"};
    const QByteArray link = R"({"update_link":"/update/MyHost/k3y"})";
    const QByteArray refused = R"({"error":"name taken","update_link":"/update/x/y"})";
    const QString unreachable =
        QStringLiteral("The service could not be reached. Check the network connection and try again.");
    const QStringList none;
    // clang-format off
    QTest::newRow("granted")                  << "MyHost"  << link    << true  << granted << screens::kDone << false << "";
    QTest::newRow("granted, save unanswered") << "MyHost"  << link    << false << granted << screens::kHost << false << unreachable;
    QTest::newRow("refused by the server")    << "taken"   << refused << true  << none    << screens::kHost << true  << "";
    QTest::newRow("refused before sending")   << "my host" << refused << true  << none    << screens::kHost << true  << "";
    QTest::newRow("a proxy's page, no link")  << "MyHost"  << QByteArray("<html>Bad Gateway</html>") << true << none << screens::kHost << true << "";
    QTest::newRow("no answer")                << "MyHost"  << QByteArray() << true << none << screens::kHost << false << unreachable;
    // clang-format on
}

void ViewControllerTest::registration()
{
    QFETCH(QString, name);
    QFETCH(QByteArray, reply);
    QFETCH(bool, saveAnswers);
    QFETCH(QStringList, changes);
    QFETCH(QString, screen);
    QFETCH(bool, warned);
    QFETCH(QString, said);
    UserDefaults::standard().setObject(QStringLiteral("tok"), keys::kToken);
    UserDefaults::standard().setObject(QStringLiteral("/update/old/k"), keys::kDnsLink);
    m_server->setHandler([reply, saveAnswers](const RecordedRequest &request) {
        const bool registering = request.target.startsWith("/new/");
        ScriptedResponse response = ScriptedResponse::json(registering ? reply : "{}");
        if ((registering && reply.isEmpty()) || (request.target == "/secure/api/save_dns" && !saveAnswers))
            response.action = ScriptedResponse::Action::Stall;
        return response;
    });
    auto window = launch();
    QCOMPARE(window->currentScreen(), screens::kHost);
    QVERIFY(controllerOf(*window).labelHostUnavailable->isHidden());
    QTRY_COMPARE_WITH_TIMEOUT(requestsTo(*m_server, "/secure/api/get_dns"), 1, 10'000);
    m_changes.clear();

    ViewController &host = controllerOf(*window);
    QPointer<QPushButton> button = child<QPushButton>(*window, "hostButton");
    QTest::keyClicks(host.hostnameEntered, name);
    QTest::keyClick(host.hostnameEntered, Qt::Key_Return);
    QVERIFY(!button->isEnabled());
    // Done once the screen has moved on, or the requests have ended and the button works again.
    QTRY_VERIFY_WITH_TIMEOUT(window->currentScreen() == screen && (screen == screens::kDone || button->isEnabled()),
                             10'000);
    settle();
    QCOMPARE(m_changes, changes);
    QCOMPARE(window->currentScreen(), screen);
    QCOMPARE(requestsTo(*m_server, "/new/"), name.contains(u' ') ? 0 : 1);
    QCOMPARE(requestsTo(*m_server, "/secure/api/save_dns"), changes.isEmpty() ? 0 : 1);
    if (screen == screens::kHost) {
        QCOMPARE(host.hostnameEntered->text(), name);
        QCOMPARE(!host.labelHostUnavailable->isHidden(), warned);
        QCOMPARE(host.registrationStatusLabel->text(), said);
    } else {
        QCOMPARE(controllerOf(*window).hostNameDoneLabel->text(), name + endpoints::zoneSuffix());
    }
    for (const RecordedRequest &request : m_server->requests()) {
        if (request.target == "/secure/api/save_dns")
            QCOMPARE(QJsonDocument::fromJson(request.body).object().value(QStringLiteral("Key")).toString(),
                     QStringLiteral("/update/MyHost/k3y"));
    }
}

void ViewControllerTest::lateAnswer_forScreenAlreadyLeft_doesNothing()
{
    ScriptedResponse slow = ScriptedResponse::json(R"({"token":"late"})");
    slow.delay = 300ms;
    m_server->respondWith(slow);
    auto window = launch();
    std::weak_ptr<ViewControllerBase> signIn = window->currentController();
    QTest::mouseClick(controllerOf(*window).loginButton, Qt::LeftButton);
    QSignalSpy requests(m_server.get(), &TestServer::requestReceived);
    QVERIFY(requests.wait(10'000));
    // The screen is left before the answer comes.
    window->currentController()->performSegue(segues::kLoginToHost);
    QCOMPARE(window->currentScreen(), screens::kHost);
    QVERIFY2(!signIn.expired(), "the pending answer keeps the controller alive");

    QTRY_COMPARE_WITH_TIMEOUT(UserDefaults::standard().stringForKey(keys::kToken), QStringLiteral("late"), 10'000);
    settle();
    QCOMPARE(m_screens, (QStringList{screens::kSignIn, screens::kHost}));
    QTRY_VERIFY_WITH_TIMEOUT(signIn.expired(), 10'000);
}

void ViewControllerTest::reset_forgetsHostKeepsTokenAndSilencesUpdater()
{
    UserDefaults::standard().setObject(QStringLiteral("tok"), keys::kToken);
    UserDefaults::standard().setObject(QStringLiteral("h"), keys::kHostname);
    UserDefaults::standard().setObject(QStringLiteral("/update/h/k"), keys::kDnsLink);
    AppDelegate delegate(UpdaterOptions{50ms, m_server->baseUrl()});
    delegate.applicationDidFinishLaunching();
    auto window = launch();
    QCOMPARE(window->currentScreen(), screens::kDone);
    QTRY_VERIFY_WITH_TIMEOUT(requestsTo(*m_server, "/update/h/k") >= 1, 10'000);

    QTest::mouseClick(child<QPushButton>(*window, "ResetButton"), Qt::LeftButton);
    QCOMPARE(UserDefaults::standard().stringForKey(keys::kHostname), std::nullopt);
    QCOMPARE(UserDefaults::standard().stringForKey(keys::kDnsLink), std::nullopt);
    QCOMPARE(window->currentScreen(), screens::kDone); // the segue runs on a later turn
    QTRY_COMPARE_WITH_TIMEOUT(window->currentScreen(), screens::kHost, 10'000);
    QCOMPARE(UserDefaults::standard().stringForKey(keys::kToken), QStringLiteral("tok"));

    // An update sent just before the reset may still arrive during the first ticks after it.
    QSignalSpy ticks(delegate.findChild<QTimer *>(), &QTimer::timeout);
    QTRY_VERIFY_WITH_TIMEOUT(ticks.count() >= 3, 10'000);
    const int updates = requestsTo(*m_server, "/update/h/k");
    QTRY_VERIFY_WITH_TIMEOUT(ticks.count() >= 7, 10'000);
    QCOMPARE(requestsTo(*m_server, "/update/h/k"), updates);
    QVERIFY(controllerOf(*window).labelHostUnavailable->isHidden());
}

void ViewControllerTest::closeOnTheDoneScreen_endsTheProcessWithStatusZero()
{
    // The sign-in screen's Close is clicked in the quit-routes test, which also shows that it never asks.
    const ChildResult result = runChild(QStringLiteral("close-done"));
    QCOMPARE(result.exitStatus, QProcess::NormalExit);
    QCOMPARE(result.exitCode, 0);
    QVERIFY(!result.out.contains("still running"));
}

void ViewControllerTest::hide_minimisesEveryWindowAndUpdatesGoOn()
{
    UserDefaults::standard().setObject(QStringLiteral("/update/h/k"), keys::kDnsLink);
    AppDelegate delegate(UpdaterOptions{50ms, m_server->baseUrl()});
    delegate.applicationDidFinishLaunching();
    auto window = windowOn(screens::kDone);
    QWidget other;
    other.show();

    QTest::mouseClick(child<QPushButton>(*window, "HideButton"), Qt::LeftButton);
    QVERIFY(window->windowState() & Qt::WindowMinimized);
    QVERIFY(other.windowState() & Qt::WindowMinimized);
    const int updates = requestsTo(*m_server, "/update/h/k");
    QTRY_VERIFY_WITH_TIMEOUT(requestsTo(*m_server, "/update/h/k") >= updates + 2, 10'000);
    QCOMPARE(window->currentScreen(), screens::kDone);
}

VENNACOTT_TEST_MAIN_WITH_CHILD(ViewControllerTest, QApplication, childMain)
#include "tst_viewcontroller.moc"
