// The setup window driven through its real widgets: against the local test server where it starts, what it
// stores, what it says while busy or refused, how it looks on the desktop and its cursors resting when idle;
// and once against the reference service, the whole way a user goes.
#include "aboutdialog.h"
#include "appearance.h"
#include "core.h"
#include "cursorblink.h"
#include "dispatch.h"
#include "endpoints.h"
#include "mainstoryboard.h"
#include "refsvcharness.h"
#include "savedhost.h"
#include "settingskeys.h"
#include "storyboard.h"
#include "testserver.h"
#include "testsupport.h"
#include "translations.h"
#include "urlsession.h"
#include "userdefaults.h"
#include "viewcontroller.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLibraryInfo>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <functional>

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
    storeSetting(key, value);
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
    void savedHost_isCutAndOnlyALinkOfTheServersFormStored_data();
    void savedHost_isCutAndOnlyALinkOfTheServersFormStored();
    void doneScreen_showsHostnameWithZoneSuffix_data();
    void doneScreen_showsHostnameWithZoneSuffix();
    void hostUnavailableWarning_isLegibleOnEitherTheme();
    void qtOwnTexts_followTheUserLanguage();
    void ourTexts_areCompleteAndFollowTheUserLanguage_data();
    void ourTexts_areCompleteAndFollowTheUserLanguage();
    void aboutBox_saysWhereTheFilesAre();
    void everyScreen_namesItsControls();
    void failedRequest_keepsTheScreenAndSaysWhy_data();
    void failedRequest_keepsTheScreenAndSaysWhy();
    void lateAnswer_forScreenAlreadyLeft_doesNothing();
    void otherProgramsChange_bringsTheWindowWhereALaunchWouldShow_data();
    void otherProgramsChange_bringsTheWindowWhereALaunchWouldShow();
    void hide_minimisesEveryWindow();
    void idleWindow_stopsTheCursorBlinkingUntilInput();
    void window_carriesTheUserThroughTheReferenceService();

private:
    std::unique_ptr<StoryboardWindow> launch(const QString &screen = screens::kSignIn);
    QStringList m_screens;
    QStringList m_changes; // of the settings, as key=value in order
    std::unique_ptr<TestServer> m_server;
    std::unique_ptr<Core> m_core;
};

void ViewControllerTest::init()
{
    clearSettings();
    m_screens.clear();
    m_changes.clear();
    m_server = std::make_unique<TestServer>();
    endpoints::overrideForTesting(m_server->baseUrl(), m_server->baseUrl());
    m_core = std::make_unique<Core>(Core::Options{{}, 10ms, 1h, m_server->baseUrl()});
    connect(&m_core->settings(), &Settings::changed, this, [this](const QString &key) {
        m_changes << key + QLatin1Char('=') + m_core->settings().value(key).value_or(QStringLiteral("<removed>"));
    });
    // The backend's default: nothing saved yet.
    m_server->setHandler([](const RecordedRequest &request) {
        if (request.target == "/secure/api/get_dns")
            return ScriptedResponse::json(R"({"error":"no host saved"})");
        return ScriptedResponse::json(R"({})");
    });
}

void ViewControllerTest::cleanup()
{
    m_core.reset();
    m_server.reset();
    endpoints::overrideForTesting(QString(), QString());
    settle();
}

// A window on `screen` (the first screen unless told), recording the screens it shows.
std::unique_ptr<StoryboardWindow> ViewControllerTest::launch(const QString &screen)
{
    Storyboard storyboard = mainStoryboard(*m_core);
    storyboard.initialScreen = screen;
    auto window = std::make_unique<StoryboardWindow>(storyboard);
    followSettings(*window, *m_core);
    connect(window.get(), &StoryboardWindow::screenShown, this, [this](const QString &shown) { m_screens << shown; });
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
    QTest::newRow("empty token")            << value("")      << value("h")     << signIn;
    QTest::newRow("token, hostname empty")  << value("tok")   << value("")      << host;
    QTest::newRow("token, hostname ERROR")  << value("tok")   << value("ERROR") << host;
    QTest::newRow("token, hostname error")  << value("tok")   << value("error") << done;
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
    QTRY_COMPARE_WITH_TIMEOUT(m_server->requestCount(), asksForSavedHost ? 1 : 0, 10'000);
    settle();
    QCOMPARE(m_screens, screens);
    QCOMPARE(m_server->requestCount(), asksForSavedHost ? 1 : 0);
}

void ViewControllerTest::savedHost_isCutAndOnlyALinkOfTheServersFormStored_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("hostname"); // as cut; null when there is nothing to cut
    QTest::addColumn<QString>("link");
    QTest::addColumn<bool>("stored"); // only a link as the update server hands them out
    // clang-format off
    // 20 characters, last "/" at offset 15: the name is offsets 9 to 14, the link offsets 1 to 18.
    QTest::newRow("twenty characters") << "0123456789abcde/ghij" << "9abcde" << "123456789abcde/ghi" << false;
    QTest::newRow("several slashes")   << R"("/update/a/b/key")" << "a/b" << "/update/a/b/key" << false;
    QTest::newRow("last slash at offset 9") << R"("/update//k")" << "" << "/update//k" << false;
    QTest::newRow("one character")     << "/" << "" << "" << false;
    QTest::newRow("combining accent is one character")
        << QStringLiteral("\"/update/e\u0301x/k\"") << QStringLiteral("e\u0301x") << QStringLiteral("/update/e\u0301x/k") << false;
    QTest::newRow("JSON string, escaped, line feed after") << " \"\\/update\\/me\\/k\"\r\n" << "me" << "/update/me/k" << true;
    QTest::newRow("no slash")          << R"("nothing")" << QString() << QString() << false;
    QTest::newRow("link too long")     << '"' + QStringLiteral("/update/me/") + QString(600, u'k') + '"' << "me" << QStringLiteral("/update/me/") + QString(600, u'k') << false;
    // clang-format on
}

void ViewControllerTest::savedHost_isCutAndOnlyALinkOfTheServersFormStored()
{
    QFETCH(QString, text);
    QFETCH(QString, hostname);
    QFETCH(QString, link);
    QFETCH(bool, stored);
    const std::optional<SavedHost> cut = cutSavedHost(text);
    QCOMPARE(cut.has_value(), !hostname.isNull());
    if (cut) {
        QCOMPARE(cut->hostname, hostname);
        QCOMPARE(cut->link, link);
    }
    QCOMPARE(acceptedSavedHost(text).has_value(), stored);
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
    auto window = launch(screens::kDone);
    QLineEdit *label = controllerOf(*window).hostNameDoneLabel;
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

void ViewControllerTest::hostUnavailableWarning_isLegibleOnEitherTheme()
{
    const QPalette light(QColor(0xef, 0xef, 0xef), QColor(0xef, 0xef, 0xef));
    const QPalette dark(QColor(0x32, 0x32, 0x32), QColor(0x32, 0x32, 0x32));
    const QPalette platformPalette = QApplication::palette();
    const auto restorePalette = qScopeGuard([platformPalette] { QApplication::setPalette(platformPalette); });
    QApplication::setPalette(light);
    auto window = launch(screens::kHost);
    const QLabel *warning = controllerOf(*window).labelHostUnavailable;
    // Then the desktop switches to a dark theme and back while the screen shows.
    for (const QPalette &theme : {light, dark, light}) {
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
}

void ViewControllerTest::ourTexts_areCompleteAndFollowTheUserLanguage_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<QLocale>("locale");
    QTest::addColumn<QString>("file_menu");
    QTest::newRow("German") << "de" << QLocale(QLocale::German, QLocale::Germany) << "&Datei";
    QTest::newRow("French") << "fr" << QLocale(QLocale::French, QLocale::France) << "&Fichier";
    QTest::newRow("Spanish") << "es" << QLocale(QLocale::Spanish, QLocale::Spain) << "&Archivo";
    QTest::newRow("Brazilian Portuguese") << "pt_BR" << QLocale(QLocale::Portuguese, QLocale::Brazil) << "&Arquivo";
    QTest::newRow("Japanese") << "ja" << QLocale(QLocale::Japanese, QLocale::Japan) << QStringLiteral("ファイル(&F)");
}

// Each language has every text of the English source translated, and its locale loads it.
void ViewControllerTest::ourTexts_areCompleteAndFollowTheUserLanguage()
{
    QFETCH(QString, file);
    QFETCH(QLocale, locale);
    QFETCH(QString, file_menu);
    const auto read = [](const QString &language) {
        QFile ts(QStringLiteral(VENNACOTT_TRANSLATIONS_DIR "/vennacott-ddns_%1.ts").arg(language));
        return ts.open(QIODevice::ReadOnly) ? QString::fromUtf8(ts.readAll()) : QString();
    };
    const QString translated = read(file);
    QCOMPARE(translated.count(QLatin1String("<message")), read(QStringLiteral("en")).count(QLatin1String("<message")));
    QVERIFY2(!translated.contains(QLatin1String("type=\"unfinished\"")), "an unfinished message");
    const Translations translations(locale);
    QCOMPARE(QCoreApplication::translate("MainMenu", "&File"), file_menu);
}

// The About box names the files of the setup that the user's folders give.
void ViewControllerTest::aboutBox_saysWhereTheFilesAre()
{
    const auto shown = [this](const char *name) {
        const AboutDialog about(m_core->settings().filePath(), {});
        const auto *label = about.findChild<QLabel *>(QLatin1String(name));
        return label ? label->text() : QString();
    };
    const QString history = qEnvironmentVariable("XDG_STATE_HOME") + QStringLiteral("/vennacott-ddns/");
    QCOMPARE(shown("settingsPath"),
             qEnvironmentVariable("XDG_CONFIG_HOME") + QStringLiteral("/vennacott/vennacott-ddns.conf"));
    QVERIFY2(shown("statusPath")
                 .startsWith(qEnvironmentVariable("XDG_RUNTIME_DIR") + QStringLiteral("/vennacott-ddns/status-")),
             qPrintable(shown("statusPath")));
    QCOMPARE(shown("historyPath"), history + QStringLiteral(" (kept once the updater writes it)"));
    QVERIFY(QDir().mkpath(history));
    const auto removeHistory = qScopeGuard([&history] { QDir(history).removeRecursively(); });
    QFile kept(history + QStringLiteral("history.sqlite"));
    QVERIFY(kept.open(QIODevice::WriteOnly));
    QCOMPARE(shown("historyPath"), history);
}

// Screen readers name every field and button; a control added to a screen without a name is caught here.
void ViewControllerTest::everyScreen_namesItsControls()
{
    for (const QString &screen : {screens::kSignIn, screens::kHost, screens::kDone}) {
        const auto window = launch(screen);
        for (const QWidget *control : window->currentController()->findChildren<QWidget *>()) {
            if (qobject_cast<const QLineEdit *>(control) || qobject_cast<const QPushButton *>(control))
                QVERIFY2(!control->accessibleName().isEmpty(), qPrintable(control->objectName()));
        }
    }
}

void ViewControllerTest::failedRequest_keepsTheScreenAndSaysWhy_data()
{
    QTest::addColumn<QString>("screen");
    QTest::addColumn<QStringList>("typed");   // into the screen's fields, in order
    QTest::addColumn<bool>("enter");          // in the last field, else the screen's button
    QTest::addColumn<QByteArray>("reply");    // to the sign-in or the registration; empty: none comes
    QTest::addColumn<bool>("saveAnswers");    // the backend answers the saving of the link
    QTest::addColumn<QStringList>("changes"); // of the settings, in order
    QTest::addColumn<QString>("said");        // under the fields; a refused name shows its own warning instead
    const QStringList account{QStringLiteral("me@x.example"), QStringLiteral("hunter22")};
    const QStringList myHost{QStringLiteral("MyHost")};
    const QStringList granted{"hostname=MyHost", "dnsLink=/update/MyHost/k3y"};
    const QByteArray link = R"({"update_link":"/update/MyHost/k3y"})";
    const QByteArray taken = R"({"error":"name taken","update_link":"/update/x/y"})";
    const QString unreachable =
        QStringLiteral("The service could not be reached. Check the network connection and try again.");
    const QStringList none;
    // clang-format off
    QTest::newRow("sign-in refused")
        << screens::kSignIn << account << true << QByteArray(R"({"code":401,"message":"wrong password"})") << true
        << none << "The e-mail address or password was not accepted.";
    QTest::newRow("sign-in unanswered")
        << screens::kSignIn << account << false << QByteArray() << true << none << unreachable;
    QTest::newRow("granted, save unanswered")
        << screens::kHost << myHost << true << link << false << granted << unreachable;
    QTest::newRow("name taken")
        << screens::kHost << QStringList{"taken"} << false << taken << true << none << "";
    QTest::newRow("name refused before sending")
        << screens::kHost << QStringList{"my host"} << true << taken << true << none << "";
    QTest::newRow("registration unanswered")
        << screens::kHost << myHost << true << QByteArray() << true << none << unreachable;
    // clang-format on
}

void ViewControllerTest::failedRequest_keepsTheScreenAndSaysWhy()
{
    QFETCH(QString, screen);
    QFETCH(QStringList, typed);
    QFETCH(bool, enter);
    QFETCH(QByteArray, reply);
    QFETCH(bool, saveAnswers);
    QFETCH(QStringList, changes);
    QFETCH(QString, said);
    const bool signingIn = screen == screens::kSignIn;
    if (!signingIn)
        store(keys::kToken, QStringLiteral("tok"));
    m_server->setHandler([reply, saveAnswers](const RecordedRequest &request) {
        const bool asked = request.target == "/login" || request.target.startsWith("/new/");
        ScriptedResponse response = ScriptedResponse::json(asked ? reply : "{}");
        if ((asked && reply.isEmpty()) || (request.target == "/secure/api/save_dns" && !saveAnswers))
            response.action = ScriptedResponse::Action::Stall;
        return response;
    });
    auto window = launch();
    QCOMPARE(window->currentScreen(), screen);
    QTRY_COMPARE_WITH_TIMEOUT(m_server->requestCount(), signingIn ? 0 : 1, 10'000); // the saved host, at launch
    m_changes.clear();

    ViewController &shown = controllerOf(*window);
    const QList<QLineEdit *> fields =
        signingIn ? QList<QLineEdit *>{shown.email, shown.password} : QList<QLineEdit *>{shown.hostnameEntered};
    QPushButton *button = child<QPushButton>(*window, signingIn ? "loginButton" : "hostButton");
    const QLabel *status = signingIn ? shown.signInStatusLabel : shown.registrationStatusLabel;
    for (qsizetype i = 0; i < fields.size(); ++i)
        QTest::keyClicks(fields[i], typed[i]);
    if (enter)
        QTest::keyClick(fields.constLast(), Qt::Key_Return);
    else
        QTest::mouseClick(button, Qt::LeftButton);
    // Busy, never silent: the button is off and the screen says it is waiting until the request ends.
    QVERIFY(!button->isEnabled());
    QVERIFY2(status->text().endsWith(u'…'), qPrintable(status->text()));
    QTRY_VERIFY_WITH_TIMEOUT(button->isEnabled(), 10'000);
    settle();

    // The screen stays as it was, with what was typed, says why and lets the user try again.
    QCOMPARE(window->currentController().get(), &shown);
    QCOMPARE(m_changes, changes);
    for (qsizetype i = 0; i < fields.size(); ++i)
        QCOMPARE(fields[i]->text(), typed[i]);
    QCOMPARE(status->text(), said);
    QCOMPARE(shown.labelHostUnavailable && !shown.labelHostUnavailable->isHidden(), !signingIn && said.isEmpty());
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

    QTRY_COMPARE_WITH_TIMEOUT(m_core->settings().value(keys::kToken), QStringLiteral("late"), 10'000);
    settle();
    QCOMPARE(m_screens, (QStringList{screens::kSignIn, screens::kHost}));
    QTRY_VERIFY_WITH_TIMEOUT(signIn.expired(), 10'000);
}

void ViewControllerTest::otherProgramsChange_bringsTheWindowWhereALaunchWouldShow_data()
{
    QTest::addColumn<QStringList>("before"); // token, host name, link; empty for none
    QTest::addColumn<QStringList>("after");  // as the command line leaves them
    QTest::addColumn<QString>("screen");
    const QStringList registered{"tok", "me", "/update/me/k"};
    const QStringList signedIn{"tok", "", ""};
    const QStringList none{"", "", ""};
    QTest::newRow("reset") << registered << signedIn << screens::kHost;
    QTest::newRow("logout") << registered << none << screens::kSignIn;
    QTest::newRow("register") << signedIn << registered << screens::kDone;
    QTest::newRow("login, host saved") << none << registered << screens::kDone;
}

void ViewControllerTest::otherProgramsChange_bringsTheWindowWhereALaunchWouldShow()
{
    QFETCH(QStringList, before);
    QFETCH(QStringList, after);
    QFETCH(QString, screen);
    const auto write = [](const QStringList &values) {
        QList<UserDefaults::Change> changes;
        for (const QString &key : {keys::kToken, keys::kHostname, keys::kDnsLink}) {
            const QString value = values.at(changes.size());
            changes.append({key, value.isEmpty() ? std::nullopt : std::optional<QString>(value)});
        }
        UserDefaults(Settings::defaultFilePath()).apply(changes);
    };
    write(before);
    auto window = launch();
    settle();
    write(after); // in one write, as another process does
    QTRY_COMPARE_WITH_TIMEOUT(window->currentScreen(), screen, 10'000);
    settle();
    QCOMPARE(window->currentScreen(), screen);
}

void ViewControllerTest::hide_minimisesEveryWindow()
{
    auto window = launch(screens::kDone);
    QWidget other;
    other.show();
    QTest::mouseClick(child<QPushButton>(*window, "HideButton"), Qt::LeftButton);
    QVERIFY(window->windowState() & Qt::WindowMinimized);
    QVERIFY(other.windowState() & Qt::WindowMinimized);
    QCOMPARE(window->currentScreen(), screens::kDone);
}

void ViewControllerTest::idleWindow_stopsTheCursorBlinkingUntilInput()
{
    const int flashTime = QApplication::cursorFlashTime();
    QVERIFY(flashTime > 0);
    auto window = launch();
    QApplication::setActiveWindow(window.get());
    QVERIFY(QTest::qWaitForWindowActive(window.get()));
    QLineEdit *field = controllerOf(*window).email;
    const std::function<void()> inputs[] = {
        [field] { QTest::keyClick(field, Qt::Key_A); },
        [field] { QTest::mouseClick(field, Qt::LeftButton); },
        [field] {
            QWheelEvent wheel(QPointF(5, 5), field->mapToGlobal(QPointF(5, 5)), QPoint(), QPoint(0, 120), Qt::NoButton,
                              Qt::NoModifier, Qt::NoScrollPhase, false);
            QApplication::sendEvent(field, &wheel);
        },
    };
    {
        const CursorBlinkLimiter limiter(200ms);
        QCOMPARE(QApplication::cursorFlashTime(), flashTime);
        // A key, a click and the wheel each bring the blinking back until the window idles again.
        for (const auto &input : inputs) {
            QTRY_COMPARE_WITH_TIMEOUT(QApplication::cursorFlashTime(), 0, 5000);
            input();
            QCOMPARE(QApplication::cursorFlashTime(), flashTime);
        }
        QCOMPARE(field->text(), QStringLiteral("a")); // the key is seen, not swallowed
    }
    // Its end gives the desktop's blinking back.
    QCOMPARE(QApplication::cursorFlashTime(), flashTime);
}

// The whole path as a user walks it, against the local reference service: sign in, register, updates recorded
// and shown, a taken name refused, reset, and a later launch that fetches the saved host back.
void ViewControllerTest::window_carriesTheUserThroughTheReferenceService()
{
    // Sign-in hashes the password slowly on purpose, and the sanitizer build is slower still.
    constexpr int kStepMs = refsvc::test::kStepTimeoutMs;
    QTemporaryDir folder;
    refsvc::test::ServiceProcess service(folder.filePath(QStringLiteral("service")));
    QVERIFY2(service.start(), service.errors().constData());
    const SessionOptions testServerOptions = UrlSession::shared().options();
    const auto restoreOptions =
        qScopeGuard([testServerOptions] { UrlSession::shared().setOptions(testServerOptions); });
    SessionOptions options = testServerOptions;
    QFile ca(service.caFile());
    QVERIFY(ca.open(QIODevice::ReadOnly));
    options.extraCaPem += '\n' + ca.readAll();
    options.inactivityTimeout = std::chrono::milliseconds(kStepMs);
    UrlSession::shared().setOptions(options);
    endpoints::overrideForTesting(service.apiUrl(), service.updateUrl());

    auto core = std::make_unique<Core>(Core::Options{{}, 10ms, 200ms, service.updateUrl()});
    core->updater().start(200ms);
    ConsoleCapture console;
    auto window = createMainWindow(*core);
    window->show();
    QCOMPARE(window->currentScreen(), screens::kSignIn);

    // Sign in: the service creates the account on first use.
    QTest::keyClicks(controllerOf(*window).email, QStringLiteral("e2e@example.org"));
    QTest::keyClicks(controllerOf(*window).password, QStringLiteral("correct horse battery"));
    QTest::keyClick(controllerOf(*window).password, Qt::Key_Return);
    QTRY_COMPARE_WITH_TIMEOUT(window->currentScreen(), screens::kHost, kStepMs);
    const QString token = core->settings().token();
    QVERIFY(!token.isEmpty());
    QVERIFY(!console.all().contains(token));
    QVERIFY(!console.all().contains(QStringLiteral("correct horse battery")));

    // Register: granted, saved with the account, shown on the done screen.
    QTest::keyClicks(controllerOf(*window).hostnameEntered, QStringLiteral("e2e-host"));
    QTest::keyClick(controllerOf(*window).hostnameEntered, Qt::Key_Return);
    QTRY_COMPARE_WITH_TIMEOUT(window->currentScreen(), screens::kDone, kStepMs);
    QCOMPARE(controllerOf(*window).hostNameDoneLabel->text(), QStringLiteral("e2e-host") + endpoints::zoneSuffix());
    const QString link = core->settings().dnsLink();
    QVERIFY2(link.startsWith(QStringLiteral("/update/e2e-host/")), qPrintable(link));

    // The updater keeps the record current, the service says so, and so does the done screen.
    QTRY_VERIFY_WITH_TIMEOUT(service.recordedUpdates(QStringLiteral("e2e-host")) >= 2, kStepMs);
    QTRY_VERIFY_WITH_TIMEOUT(console.all().contains(QStringLiteral(R"("host":"e2e-host")")), kStepMs);
    QTRY_VERIFY_WITH_TIMEOUT(
        controllerOf(*window).updaterStatusLabel->text().endsWith(QStringLiteral(" — the service sees 127.0.0.1")),
        kStepMs);

    // Reset: back to the host screen, still signed in; the same name is now taken by this account's host.
    QTest::mouseClick(window->currentController()->findChild<QPushButton *>(QStringLiteral("ResetButton")),
                      Qt::LeftButton);
    QTRY_COMPARE_WITH_TIMEOUT(window->currentScreen(), screens::kHost, kStepMs);
    QCOMPARE(storedSetting(keys::kToken), token);
    QCOMPARE(storedSetting(keys::kHostname), std::nullopt);
    QCOMPARE(storedSetting(keys::kDnsLink), std::nullopt);
    QTest::keyClicks(controllerOf(*window).hostnameEntered, QStringLiteral("E2E-HOST"));
    QTest::keyClick(controllerOf(*window).hostnameEntered, Qt::Key_Return);
    QTRY_VERIFY_WITH_TIMEOUT(!controllerOf(*window).labelHostUnavailable->isHidden(), kStepMs);

    // A later launch with the stored sign-in fetches the saved host back.
    window.reset();
    core = std::make_unique<Core>(Core::Options{{}, 10ms, 200ms, service.updateUrl()});
    window = createMainWindow(*core);
    window->show();
    QTRY_COMPARE_WITH_TIMEOUT(storedSetting(keys::kDnsLink), link, kStepMs);
    QCOMPARE(storedSetting(keys::kHostname), QStringLiteral("e2e-host"));
    QVERIFY(service.stop());
}

VENNACOTT_TEST_MAIN(ViewControllerTest, QApplication)
#include "tst_viewcontroller.moc"
