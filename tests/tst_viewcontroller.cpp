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
#include <QLineEdit>
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

ViewController &controllerOf(const StoryboardWindow &window)
{
    return static_cast<ViewController &>(*window.currentController());
}

QPushButton *button(const StoryboardWindow &window, const char *name)
{
    return window.currentController()->findChild<QPushButton *>(QLatin1String(name));
}

} // namespace

class ViewControllerTest final : public QObject
{
    Q_OBJECT

    QStringList m_screens;
    QStringList m_changes; // of the settings, as key=value in order
    std::unique_ptr<TestServer> m_server;
    std::unique_ptr<Core> m_core;

    // A window on `screen` (the first screen unless told), recording the screens it shows.
    std::unique_ptr<StoryboardWindow> launch(const QString &screen = screens::kSignIn)
    {
        Storyboard storyboard = mainStoryboard(*m_core);
        storyboard.initialScreen = screen;
        auto window = std::make_unique<StoryboardWindow>(storyboard);
        followSettings(*window, *m_core);
        connect(window.get(), &StoryboardWindow::screenShown, this,
                [this](const QString &shown) { m_screens << shown; });
        window->showInitialScreen();
        window->show();
        settle();
        return window;
    }

private Q_SLOTS:
    void initTestCase() { quietPlatformWarnings(); }

    void init()
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
        m_server->setHandler([](const RecordedRequest &request) {
            return ScriptedResponse::json(request.target == "/secure/api/get_dns" ? R"({"error":"no host saved"})"
                                                                                  : "{}");
        });
    }

    void cleanup()
    {
        m_core.reset();
        m_server.reset();
        endpoints::overrideForTesting(QString(), QString());
        settle();
    }

    void routing_followsStoredSettings_data()
    {
        QTest::addColumn<QString>("token");
        QTest::addColumn<QString>("hostname");
        QTest::addColumn<QStringList>("screens");
        const QStringList host{screens::kSignIn, screens::kHost};
        // clang-format off
        QTest::newRow("empty token")           << QString() << "h"     << QStringList{screens::kSignIn};
        QTest::newRow("token, hostname empty") << "tok"     << ""      << host;
        QTest::newRow("token, hostname ERROR") << "tok"     << "ERROR" << host;
        QTest::newRow("token, hostname error") << "tok"     << "error" << QStringList(host + QStringList{screens::kDone});
        // clang-format on
    }

    void routing_followsStoredSettings()
    {
        QFETCH(QString, token);
        QFETCH(QString, hostname);
        QFETCH(QStringList, screens);
        storeSetting(keys::kToken, token);
        storeSetting(keys::kHostname, hostname);
        auto window = launch();
        QTRY_COMPARE_WITH_TIMEOUT(m_screens, screens, 10'000);
        QTRY_COMPARE_WITH_TIMEOUT(m_server->requestCount(), token.isEmpty() ? 0 : 1, 10'000); // the saved host
        settle();
        QCOMPARE(m_screens, screens);
        QCOMPARE(m_server->requestCount(), token.isEmpty() ? 0 : 1);
    }

    void savedHost_isCutAndOnlyALinkOfTheServersFormStored_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("hostname"); // as cut; null when there is nothing to cut
        QTest::addColumn<QString>("link");
        QTest::addColumn<bool>("stored"); // only a link as the update server hands them out
        const QString tooLong = QStringLiteral("/update/me/") + QString(600, u'k');
        // clang-format off
        // 20 characters, last "/" at offset 15: the name is offsets 9 to 14, the link offsets 1 to 18.
        QTest::newRow("twenty characters") << "0123456789abcde/ghij" << "9abcde" << "123456789abcde/ghi" << false;
        QTest::newRow("several slashes")   << R"("/update/a/b/key")" << "a/b" << "/update/a/b/key" << false;
        QTest::newRow("combining accent is one character")
            << QStringLiteral("\"/update/e\u0301x/k\"") << QStringLiteral("e\u0301x") << QStringLiteral("/update/e\u0301x/k") << false;
        QTest::newRow("JSON string, escaped, line feed after") << " \"\\/update\\/me\\/k\"\r\n" << "me" << "/update/me/k" << true;
        QTest::newRow("no slash")          << R"("nothing")" << QString() << QString() << false;
        QTest::newRow("link too long")     << '"' + tooLong + '"' << "me" << tooLong << false;
        // clang-format on
    }

    void savedHost_isCutAndOnlyALinkOfTheServersFormStored()
    {
        QFETCH(QString, text);
        QFETCH(QString, hostname);
        QFETCH(QString, link);
        QFETCH(bool, stored);
        const std::optional<SavedHost> cut = cutSavedHost(text);
        QCOMPARE(cut.has_value(), !hostname.isNull());
        QCOMPARE(cut ? std::pair(cut->hostname, cut->link) : std::pair(hostname, link), std::pair(hostname, link));
        QCOMPARE(acceptedSavedHost(text).has_value(), stored);
    }

    // The host name (the walk below checks its text) fits its field however large the font, and stands out.
    void doneScreen_fitsTheHostnameAndStandsOut_data()
    {
        QTest::addColumn<QString>("hostname");
        QTest::addColumn<int>("pointSize"); // of the application's font; 0 for the platform's own
        QTest::newRow("name, 16 pt") << "my-computer" << 16;
        // The longest label DNS allows: too wide for the window at full emphasis.
        QTest::newRow("63-letter name") << "my-computer-in-the-attic-next-to-the-old-router-and-the-printer" << 0;
    }

    void doneScreen_fitsTheHostnameAndStandsOut()
    {
        QFETCH(QString, hostname);
        QFETCH(int, pointSize);
        storeSetting(keys::kHostname, hostname);
        const QFont platformFont = QApplication::font();
        const auto restoreFont = qScopeGuard([platformFont] { QApplication::setFont(platformFont); });
        QFont font = platformFont;
        if (pointSize > 0)
            font.setPointSize(pointSize);
        QApplication::setFont(font);
        auto window = launch(screens::kDone);
        QLineEdit *label = controllerOf(*window).hostNameDoneLabel;
        const QString shown = hostname + endpoints::zoneSuffix();
        QCOMPARE(label->text(), shown);
        QVERIFY(label->isReadOnly());
        // With the line edit's own inner margins (2 px either side) and its cursor.
        const int advance = QFontMetrics(label->font()).horizontalAdvance(shown);
        QVERIFY2(advance + 6 <= label->contentsRect().width(),
                 qPrintable(
                     QStringLiteral("%1 px of text in a %2 px field").arg(advance).arg(label->contentsRect().width())));
        QVERIFY(label->font().bold());
        QVERIFY(QFontInfo(label->font()).pixelSize() >= QFontInfo(window->currentController()->font()).pixelSize());
    }

    void hostUnavailableWarning_isLegibleOnEitherTheme()
    {
        const QPalette light(QColor(0xef, 0xef, 0xef), QColor(0xef, 0xef, 0xef));
        const QPalette dark(QColor(0x32, 0x32, 0x32), QColor(0x32, 0x32, 0x32));
        const QPalette platformPalette = QApplication::palette();
        const auto restorePalette = qScopeGuard([platformPalette] { QApplication::setPalette(platformPalette); });
        QApplication::setPalette(light);
        auto window = launch(screens::kHost);
        // The desktop switches to a dark theme and back while the screen shows; outside a running event loop Qt
        // passes a new application palette only to new widgets.
        for (const QPalette &theme : {light, dark, light}) {
            window->setPalette(theme);
            const QColor text = controllerOf(*window).labelHostUnavailable->palette().color(QPalette::WindowText);
            const QColor background = window->currentController()->palette().color(QPalette::Window);
            QCOMPARE(background, theme.color(QPalette::Window));
            QVERIFY2(appearance::contrastRatio(text, background) >= appearance::kLegibleContrast,
                     qPrintable(text.name() + QStringLiteral(" on ") + background.name()));
            QVERIFY2(text.hslHue() >= 330 || (text.hslHue() >= 0 && text.hslHue() <= 20), qPrintable(text.name()));
        }
    }

    // Screen readers name every field and button; a control added to a screen without a name is caught here.
    void ourTexts_areCompleteAndFollowTheUserLanguage_data()
    {
        QTest::addColumn<QString>("file");
        QTest::addColumn<QLocale>("locale");
        QTest::addColumn<QString>("fileMenu");
        QTest::newRow("German") << "de" << QLocale(QLocale::German, QLocale::Germany) << "&Datei";
        QTest::newRow("French") << "fr" << QLocale(QLocale::French, QLocale::France) << "&Fichier";
        QTest::newRow("Spanish") << "es" << QLocale(QLocale::Spanish, QLocale::Spain) << "&Archivo";
        QTest::newRow("Brazilian Portuguese") << "pt_BR" << QLocale(QLocale::Portuguese, QLocale::Brazil) << "&Arquivo";
        QTest::newRow("Japanese") << "ja" << QLocale(QLocale::Japanese, QLocale::Japan)
                                  << QStringLiteral("ファイル(&F)");
    }
    // Each language has every text of the English source translated, and its locale loads it.
    void ourTexts_areCompleteAndFollowTheUserLanguage()
    {
        QFETCH(QString, file);
        QFETCH(QLocale, locale);
        QFETCH(QString, fileMenu);
        const auto read = [](const QString &language) {
            QFile ts(QStringLiteral(VENNACOTT_TRANSLATIONS_DIR "/vennacott-ddns_%1.ts").arg(language));
            return ts.open(QIODevice::ReadOnly) ? QString::fromUtf8(ts.readAll()) : QString();
        };
        const QString translated = read(file);
        QCOMPARE(translated.count(QLatin1String("<message")),
                 read(QStringLiteral("en")).count(QLatin1String("<message")));
        QVERIFY2(!translated.contains(QLatin1String("type=\"unfinished\"")), "an unfinished message");
        const Translations translations(locale);
        QCOMPARE(QCoreApplication::translate("MainMenu", "&File"), fileMenu);
    }

    // The About box names the files of the setup that the user's folders give.
    void aboutBox_saysWhereTheFilesAre()
    {
        const auto shown = [this](const char *name) {
            const AboutDialog about(m_core->settings().filePath(), {});
            const auto *label = about.findChild<QLabel *>(QLatin1String(name));
            return label ? label->text() : QString();
        };
        const QString history = qEnvironmentVariable("XDG_STATE_HOME") + QStringLiteral("/vennacott-ddns/");
        QCOMPARE(shown("settingsPath"),
                 qEnvironmentVariable("XDG_CONFIG_HOME") + QStringLiteral("/vennacott/vennacott-ddns.conf"));
        QVERIFY(shown("statusPath")
                    .startsWith(qEnvironmentVariable("XDG_RUNTIME_DIR") + QStringLiteral("/vennacott-ddns/status-")));
        QCOMPARE(shown("historyPath"), history + QStringLiteral(" (kept once the updater writes it)"));
        QVERIFY(QDir().mkpath(history));
        const auto removeHistory = qScopeGuard([&history] { QDir(history).removeRecursively(); });
        QFile kept(history + QStringLiteral("history.sqlite"));
        QVERIFY(kept.open(QIODevice::WriteOnly));
        QCOMPARE(shown("historyPath"), history);
    }

    void everyScreen_namesItsControls()
    {
        for (const QString &screen : {screens::kSignIn, screens::kHost, screens::kDone}) {
            const auto window = launch(screen);
            for (const QWidget *control : window->currentController()->findChildren<QWidget *>()) {
                if (qobject_cast<const QLineEdit *>(control) || qobject_cast<const QPushButton *>(control))
                    QVERIFY2(!control->accessibleName().isEmpty(), qPrintable(control->objectName()));
            }
        }
    }

    // A name the service takes is refused on the reference-service walk below.
    void failedRequest_keepsTheScreenAndSaysWhy_data()
    {
        QTest::addColumn<QStringList>("typed"); // into the screen's fields; two on the sign-in screen
        QTest::addColumn<bool>("enter");        // in the last field, else the screen's button
        QTest::addColumn<QByteArray>("reply");  // to the sign-in or the registration; empty: none comes
        QTest::addColumn<QStringList>("changes");
        QTest::addColumn<QString>("said"); // under the fields; a refused name shows its own warning instead
        const QStringList account{QStringLiteral("me@x.example"), QStringLiteral("hunter22")};
        const QStringList myHost{QStringLiteral("MyHost")};
        const QStringList granted{"hostname=MyHost", "dnsLink=/update/MyHost/k3y"};
        const QByteArray link = R"({"update_link":"/update/MyHost/k3y"})";
        const QString unreachable =
            QStringLiteral("The service could not be reached. Check the network connection and try again.");
        // clang-format off
        QTest::newRow("sign-in refused") << account << true << QByteArray(R"({"code":401,"message":"wrong password"})")
                                         << QStringList() << "The e-mail address or password was not accepted.";
        QTest::newRow("sign-in unanswered") << account << false << QByteArray() << QStringList() << unreachable;
        QTest::newRow("granted, save unanswered") << myHost << true << link << granted << unreachable;
        QTest::newRow("name refused before sending") << QStringList{"my host"} << true << link << QStringList() << "";
        QTest::newRow("registration unanswered") << myHost << true << QByteArray() << QStringList() << unreachable;
        // clang-format on
    }

    void failedRequest_keepsTheScreenAndSaysWhy()
    {
        QFETCH(QStringList, typed);
        QFETCH(bool, enter);
        QFETCH(QByteArray, reply);
        QFETCH(QStringList, changes);
        QFETCH(QString, said);
        const bool signingIn = typed.size() == 2;
        if (!signingIn)
            storeSetting(keys::kToken, QStringLiteral("tok"));
        m_server->setHandler([reply](const RecordedRequest &request) { // the saving of a granted link never answered
            const bool asked = request.target == "/login" || request.target.startsWith("/new/");
            ScriptedResponse response = ScriptedResponse::json(asked ? reply : "{}");
            if ((asked && reply.isEmpty()) || request.target == "/secure/api/save_dns")
                response.action = ScriptedResponse::Action::Stall;
            return response;
        });
        auto window = launch();
        QCOMPARE(window->currentScreen(), signingIn ? screens::kSignIn : screens::kHost);
        QTRY_COMPARE_WITH_TIMEOUT(m_server->requestCount(), signingIn ? 0 : 1, 10'000); // the saved host, at launch
        m_changes.clear();

        ViewController &shown = controllerOf(*window);
        const QList<QLineEdit *> fields =
            signingIn ? QList<QLineEdit *>{shown.email, shown.password} : QList<QLineEdit *>{shown.hostnameEntered};
        QPushButton *pressed = button(*window, signingIn ? "loginButton" : "hostButton");
        const QLabel *status = signingIn ? shown.signInStatusLabel : shown.registrationStatusLabel;
        for (qsizetype i = 0; i < fields.size(); ++i)
            QTest::keyClicks(fields[i], typed[i]);
        if (enter)
            QTest::keyClick(fields.constLast(), Qt::Key_Return);
        else
            QTest::mouseClick(pressed, Qt::LeftButton);
        // Busy, never silent: the button is off and the screen says it is waiting until the request ends.
        QVERIFY(!pressed->isEnabled());
        QVERIFY2(status->text().endsWith(u'…'), qPrintable(status->text()));
        QTRY_VERIFY_WITH_TIMEOUT(pressed->isEnabled(), 10'000);
        settle();
        // The screen stays as it was, with what was typed, says why and lets the user try again.
        QCOMPARE(window->currentController().get(), &shown);
        QCOMPARE(m_changes, changes);
        for (qsizetype i = 0; i < fields.size(); ++i)
            QCOMPARE(fields[i]->text(), typed[i]);
        QCOMPARE(status->text(), said);
        QCOMPARE(shown.labelHostUnavailable && !shown.labelHostUnavailable->isHidden(), !signingIn && said.isEmpty());
    }

    void lateAnswer_forScreenAlreadyLeft_doesNothing()
    {
        ScriptedResponse slow = ScriptedResponse::json(R"({"token":"late"})");
        slow.delay = 300ms;
        m_server->respondWith(slow);
        auto window = launch();
        std::weak_ptr<ViewControllerBase> signIn = window->currentController();
        QSignalSpy requests(m_server.get(), &TestServer::requestReceived);
        QTest::mouseClick(controllerOf(*window).loginButton, Qt::LeftButton);
        QVERIFY(requests.wait(10'000));
        window->currentController()->performSegue(segues::kLoginToHost); // before the answer comes
        QVERIFY2(!signIn.expired(), "the pending answer keeps the controller alive");
        QTRY_COMPARE_WITH_TIMEOUT(m_core->settings().value(keys::kToken), QStringLiteral("late"), 10'000);
        settle();
        QCOMPARE(m_screens, (QStringList{screens::kSignIn, screens::kHost}));
        QTRY_VERIFY_WITH_TIMEOUT(signIn.expired(), 10'000);
    }

    void otherProgramsChange_bringsTheWindowWhereALaunchWouldShow_data()
    {
        QTest::addColumn<QStringList>("before"); // token, host name, link; empty for none
        QTest::addColumn<QStringList>("after");  // as the command line leaves them
        QTest::addColumn<QString>("screen");
        const QStringList registered{"tok", "me", "/update/me/k"}, signedIn{"tok", "", ""}, none{"", "", ""};
        QTest::newRow("reset") << registered << signedIn << screens::kHost;
        QTest::newRow("logout") << registered << none << screens::kSignIn;
        QTest::newRow("register") << signedIn << registered << screens::kDone;
        QTest::newRow("login, host saved") << none << registered << screens::kDone;
    }

    void otherProgramsChange_bringsTheWindowWhereALaunchWouldShow()
    {
        QFETCH(QStringList, before);
        QFETCH(QStringList, after);
        QFETCH(QString, screen);
        const auto write = [](const QStringList &values) { // in one write, as another process does
            QList<UserDefaults::Change> changes;
            for (const QString &key : {keys::kToken, keys::kHostname, keys::kDnsLink})
                changes.append(
                    {key, values[changes.size()].isEmpty() ? std::nullopt : std::optional(values[changes.size()])});
            UserDefaults(Settings::defaultFilePath()).apply(changes);
        };
        write(before);
        auto window = launch();
        write(after);
        QTRY_COMPARE_WITH_TIMEOUT(window->currentScreen(), screen, 10'000);
        settle();
        QCOMPARE(window->currentScreen(), screen);
    }

    void hide_minimisesEveryWindow()
    {
        auto window = launch(screens::kDone);
        QWidget other;
        other.show();
        QTest::mouseClick(button(*window, "HideButton"), Qt::LeftButton);
        QVERIFY(window->windowState() & other.windowState() & Qt::WindowMinimized);
        QCOMPARE(window->currentScreen(), screens::kDone);
    }

    void idleWindow_stopsTheCursorBlinkingUntilInput()
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
                QWheelEvent wheel(QPointF(5, 5), field->mapToGlobal(QPointF(5, 5)), QPoint(), QPoint(0, 120),
                                  Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
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
        QCOMPARE(QApplication::cursorFlashTime(), flashTime); // its end gives the desktop's blinking back
    }

    // The whole path as a user walks it, against the local reference service: sign in, register, updates
    // recorded and shown, a taken name refused, reset, and a later launch that fetches the saved host back.
    void window_carriesTheUserThroughTheReferenceService()
    {
        constexpr int kStepMs = refsvc::test::kStepTimeoutMs; // sign-in hashes the password slowly on purpose
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
        QTest::mouseClick(button(*window, "ResetButton"), Qt::LeftButton);
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
};

VENNACOTT_TEST_MAIN(ViewControllerTest, QApplication)
#include "tst_viewcontroller.moc"
