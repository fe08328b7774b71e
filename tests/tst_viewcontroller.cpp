// The setup window through its real widgets: against the local test server where it goes, what it stores and
// says while busy or refused, how it looks; and once the whole way a user goes against the reference service.
#include "aboutdialog.h"
#include "appdelegate.h"
#include "appearance.h"
#include "core.h"
#include "dispatch.h"
#include "endpoints.h"
#include "history.h"
#include "mainmenu.h"
#include "mainstoryboard.h"
#include "refsvcharness.h"
#include "savedhost.h"
#include "settingskeys.h"
#include "setuppaths.h"
#include "storyboard.h"
#include "testserver.h"
#include "testsupport.h"
#include "translations.h"
#include "urlsession.h"
#include "userdefaults.h"
#include "viewcontroller.h"

#include <QApplication>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTest>

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

    QStringList m_changes; // of the settings, as key=value in order
    std::unique_ptr<TestServer> m_server;
    std::unique_ptr<Core> m_core;

    std::unique_ptr<StoryboardWindow> launch(const QString &screen = screens::kSignIn)
    {
        Storyboard storyboard = mainStoryboard(*m_core);
        storyboard.initialScreen = screen;
        auto window = std::make_unique<StoryboardWindow>(storyboard);
        followSettings(*window, *m_core);
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

    // Where a launch goes with the stored settings, and where the other program's change takes the window.
    void window_goesWhereTheSettingsSay_data()
    {
        QTest::addColumn<QStringList>("before"); // token, host name, link at launch; empty for none
        QTest::addColumn<QStringList>("after");  // as the command line leaves them; no list: no change
        QTest::addColumn<QString>("screen");
        const QStringList registered{"tok", "me", "/update/me/k"}, signedIn{"tok", "", ""}, none{"", "", ""};
        // clang-format off
        QTest::newRow("launch, signed in")       << signedIn << QStringList() << screens::kHost;
        QTest::newRow("launch, host name ERROR") << QStringList{"tok", "ERROR", ""} << QStringList() << screens::kHost;
        QTest::newRow("launch, host name error") << QStringList{"tok", "error", ""} << QStringList() << screens::kDone;
        QTest::newRow("reset")                   << registered << signedIn << screens::kHost;
        QTest::newRow("logout")                  << registered << none << screens::kSignIn;
        QTest::newRow("register")                << signedIn << registered << screens::kDone;
        QTest::newRow("login, host saved")       << none << registered << screens::kDone;
        // clang-format on
    }

    void window_goesWhereTheSettingsSay()
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
        if (!after.isEmpty())
            write(after);
        QTRY_COMPARE_WITH_TIMEOUT(window->currentScreen(), screen, 10'000);
        settle();
        QCOMPARE(window->currentScreen(), screen);
    }

    void savedHost_isCutAndOnlyALinkOfTheServersFormStored_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("hostname"); // as cut
        QTest::addColumn<QString>("link");
        QTest::addColumn<bool>("stored"); // only a link as the update server hands them out
        const QString tooLong = QStringLiteral("/update/me/") + QString(600, u'k');
        // clang-format off
        QTest::newRow("20 characters, last / at 15: name 9 to 14, link 1 to 18") << "0123456789abcde/ghij" << "9abcde" << "123456789abcde/ghi" << false;
        QTest::newRow("several slashes")   << R"("/update/a/b/key")" << "a/b" << "/update/a/b/key" << false;
        QTest::newRow("combining accent is one character")
            << QStringLiteral("\"/update/e\u0301x/k\"") << QStringLiteral("e\u0301x") << QStringLiteral("/update/e\u0301x/k") << false;
        QTest::newRow("JSON string, escaped, line feed after") << " \"\\/update\\/me\\/k\"\r\n" << "me" << "/update/me/k" << true;
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
        QCOMPARE(cut ? std::pair(cut->hostname, cut->link) : std::pair(QString(), QString()),
                 std::pair(hostname, link));
        QCOMPARE(acceptedSavedHost(text).has_value(), stored);
    }

    // The longest name DNS allows, too wide for the window at full emphasis, shows whole and still stands out.
    void doneScreen_showsTheLongestHostnameWhole()
    {
        storeSetting(keys::kHostname,
                     QStringLiteral("my-computer-in-the-attic-next-to-the-old-router-and-the-printer"));
        auto window = launch(screens::kDone);
        const QLineEdit *label = controllerOf(*window).hostNameDoneLabel;
        const int advance = QFontMetrics(label->font()).horizontalAdvance(label->text());
        QVERIFY2(advance + 6 <= label->contentsRect().width(), "with the field's margins (2 px each side) and cursor");
        QVERIFY(label->font().bold());
        QVERIFY(QFontInfo(label->font()).pixelSize() >= QFontInfo(window->currentController()->font()).pixelSize());
    }

    // The desktop switches to a dark theme and back while the screen shows: the warning stays legible and red.
    void hostUnavailableWarning_isLegibleOnEitherTheme()
    {
        auto window = launch(screens::kHost);
        for (const QColor &background : {QColor(0x32, 0x32, 0x32), QColor(0xef, 0xef, 0xef)}) {
            window->setPalette(QPalette(background, background));
            const QColor text = controllerOf(*window).labelHostUnavailable->palette().color(QPalette::WindowText);
            QVERIFY(appearance::contrastRatio(text, background) >= appearance::kLegibleContrast);
            QVERIFY2(text.hslHue() >= 330 || (text.hslHue() >= 0 && text.hslHue() <= 20), qPrintable(text.name()));
        }
    }

    void ourTexts_areCompleteAndFollowTheUserLanguage_data()
    {
        QTest::addColumn<QString>("fileMenu"); // in the language of the row's tag
        QTest::newRow("de") << "&Datei";
        QTest::newRow("fr") << "&Fichier";
        QTest::newRow("es") << "&Archivo";
        QTest::newRow("pt_BR") << "&Arquivo";
        QTest::newRow("ja") << QStringLiteral("ファイル(&F)");
    }
    // Each language has every text of the English source translated, and its locale loads it.
    void ourTexts_areCompleteAndFollowTheUserLanguage()
    {
        QFETCH(QString, fileMenu);
        const auto count = [](const char *language, const QString &text) {
            QFile ts(QStringLiteral(VENNACOTT_TRANSLATIONS_DIR "/vennacott-ddns_%1.ts").arg(QLatin1String(language)));
            return ts.open(QIODevice::ReadOnly) ? QString::fromUtf8(ts.readAll()).count(text) : -1;
        };
        QCOMPARE(count(QTest::currentDataTag(), "<message"), count("en", "<message"));
        QCOMPARE(count(QTest::currentDataTag(), "type=\"unfinished\""), 0);
        const Translations translations(QLocale(QString::fromLatin1(QTest::currentDataTag())));
        QCOMPARE(QCoreApplication::translate("MainMenu", "&File"), fileMenu);
    }

    // The About box names the settings file that the user's folders give.
    void aboutBox_saysWhereTheSettingsAre()
    {
        const AboutDialog about(m_core->settings().filePath(), {});
        const auto *label = about.findChild<QLabel *>(QStringLiteral("settingsPath"));
        QVERIFY(label);
        QCOMPARE(label->text(), qEnvironmentVariable("XDG_CONFIG_HOME") + "/vennacott/vennacott-ddns.conf");
    }

    // Ctrl+H opens one history window, whose tables list each family's addresses, newest first, from the file
    // the updater writes, and follow the updater's status.
    void historyWindow_listsEachFamilysAddresses()
    {
        History history(setup::historyFilePath());
        const QDateTime start = QDateTime::currentDateTimeUtc().addDays(-2);
        for (const auto &[hours, family, result, address] :
             {std::tuple{0, AddressFamily::IPv4, UpdateResult::Updated, "203.0.113.7"},
              {1, AddressFamily::IPv6, UpdateResult::Updated, "2001:db8::1"},
              {2, AddressFamily::IPv4, UpdateResult::NoAnswer, "203.0.113.7"},
              {3, AddressFamily::IPv4, UpdateResult::Updated, "198.51.100.2"}})
            QVERIFY(history.append({start.addSecs(hours * 3600), family, result, QString::fromLatin1(address)}));
        AppDelegate delegate(*m_core);
        const std::unique_ptr<StoryboardWindow> window = createMainWindow(*m_core);
        installMainMenu(*window, delegate, *m_core);
        window->show();
        QVERIFY(QTest::qWaitForWindowActive(window.get()));
        QTest::keyClick(window.get(), Qt::Key_H, Qt::ControlModifier);
        QTest::keyClick(window.get(), Qt::Key_H, Qt::ControlModifier);
        QCOMPARE(window->findChildren<QWidget *>(QStringLiteral("historyWindow")).size(), 1);
        const auto column = [&window](const char *family) {
            QStringList cells;
            if (const auto *table = window->findChild<QTableWidget *>(QLatin1String("historyTable_") + family))
                for (int row = 0; row < table->rowCount(); ++row)
                    cells << table->item(row, 0)->text() + (row == 0 ? "" : " " + table->item(row, 3)->text());
            return cells;
        };
        QCOMPARE(column("ipv4"), QStringList({"198.51.100.2", "203.0.113.7 3 h 0 min"}));
        QCOMPARE(column("ipv6"), QStringList({"2001:db8::1"}));
        QVERIFY(history.append({start.addSecs(4 * 3600), AddressFamily::IPv6, UpdateResult::Updated, "2001:db8::2"}));
        Q_EMIT m_core->updater().statusChanged({});
        QCOMPARE(column("ipv6"), QStringList({"2001:db8::2", "2001:db8::1 3 h 0 min"}));
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
        QTest::newRow("sign-in refused") << account << QByteArray(R"({"code":401,"message":"wrong password"})")
                                         << QStringList() << "The e-mail address or password was not accepted.";
        QTest::newRow("sign-in unanswered") << account << QByteArray() << QStringList() << unreachable;
        QTest::newRow("granted, save unanswered") << myHost << link << granted << unreachable;
        QTest::newRow("name refused before sending") << QStringList{"my host"} << link << QStringList() << "";
        QTest::newRow("registration unanswered") << myHost << QByteArray() << QStringList() << unreachable;
        // clang-format on
    }

    void failedRequest_keepsTheScreenAndSaysWhy()
    {
        QFETCH(QStringList, typed);
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
        QTest::keyClick(fields.constLast(), Qt::Key_Return);
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
        QSignalSpy requests(m_server.get(), &TestServer::requestReceived),
            shown(window.get(), &StoryboardWindow::screenShown);
        QTest::mouseClick(controllerOf(*window).loginButton, Qt::LeftButton);
        QVERIFY(requests.wait(10'000));
        window->currentController()->performSegue(segues::kLoginToHost); // before the answer comes
        QVERIFY2(!signIn.expired(), "the pending answer keeps the controller alive");
        QTRY_COMPARE_WITH_TIMEOUT(m_core->settings().value(keys::kToken), QStringLiteral("late"), 10'000);
        settle();
        QCOMPARE(shown.count(), 1);
        QTRY_VERIFY_WITH_TIMEOUT(signIn.expired(), 10'000);
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
        QVERIFY(!console.all().contains(token) && !console.all().contains(QStringLiteral("correct horse battery")));
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
        QVERIFY(!storedSetting(keys::kHostname) && !storedSetting(keys::kDnsLink));
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