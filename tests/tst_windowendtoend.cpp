// The whole path through the real window against the local reference service: sign in, register, updates
// recorded and shown, a taken name refused, reset, and a later launch that fetches the saved host back.
#include "appdelegate.h"
#include "endpoints.h"
#include "mainstoryboard.h"
#include "refsvcharness.h"
#include "settingskeys.h"
#include "storyboard.h"
#include "testsupport.h"
#include "urlsession.h"
#include "userdefaults.h"
#include "viewcontroller.h"

#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>

using namespace vennacott;
using namespace vennacott::test;
using namespace std::chrono_literals;

namespace {

// Sign-in hashes the password slowly on purpose, and the sanitizer build is slower still.
constexpr int kStepMs = refsvc::test::kStepTimeoutMs;

ViewController &controllerOf(const StoryboardWindow &window)
{
    return static_cast<ViewController &>(*window.currentController());
}

} // namespace

class WindowEndToEndTest final : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void cleanupTestCase();
    void window_carriesTheUserThroughTheService();

private:
    QTemporaryDir m_dir;
    std::unique_ptr<refsvc::test::ServiceProcess> m_service;
};

void WindowEndToEndTest::initTestCase()
{
    quietPlatformWarnings();
    clearSettings();
    m_service = std::make_unique<refsvc::test::ServiceProcess>(m_dir.filePath(QStringLiteral("service")));
    QVERIFY2(m_service->start(), m_service->errors().constData());
    SessionOptions options = UrlSession::shared().options();
    options.extraCaCertificates = QSslCertificate::fromPath(m_service->caFile());
    QVERIFY(!options.extraCaCertificates.isEmpty());
    options.inactivityTimeout = std::chrono::milliseconds(kStepMs);
    UrlSession::shared().setOptions(options);
    endpoints::overrideForTesting(m_service->apiUrl(), m_service->updateUrl());
}

void WindowEndToEndTest::cleanupTestCase()
{
    endpoints::overrideForTesting(QString(), QString());
    QVERIFY(m_service->stop());
}

void WindowEndToEndTest::window_carriesTheUserThroughTheService()
{
    AppDelegate delegate(UpdaterOptions{200ms, m_service->updateUrl()});
    delegate.applicationDidFinishLaunching();
    ConsoleCapture console;
    auto window = createMainWindow(&delegate.updater());
    window->show();
    QCOMPARE(window->currentScreen(), screens::kSignIn);

    // Sign in: the service creates the account on first use.
    QTest::keyClicks(controllerOf(*window).email, QStringLiteral("e2e@example.org"));
    QTest::keyClicks(controllerOf(*window).password, QStringLiteral("correct horse battery"));
    QTest::keyClick(controllerOf(*window).password, Qt::Key_Return);
    QTRY_COMPARE_WITH_TIMEOUT(window->currentScreen(), screens::kHost, kStepMs);
    const QString token = UserDefaults::standard().stringForKey(keys::kToken).value_or(QString());
    QVERIFY(!token.isEmpty());
    QVERIFY(!console.all().contains(token));
    QVERIFY(!console.all().contains(QStringLiteral("correct horse battery")));

    // Register: granted, saved with the account, shown on the done screen.
    QTest::keyClicks(controllerOf(*window).hostnameEntered, QStringLiteral("e2e-host"));
    QTest::keyClick(controllerOf(*window).hostnameEntered, Qt::Key_Return);
    QTRY_COMPARE_WITH_TIMEOUT(window->currentScreen(), screens::kDone, kStepMs);
    QCOMPARE(controllerOf(*window).hostNameDoneLabel->text(), QStringLiteral("e2e-host") + endpoints::zoneSuffix());
    const QString link = UserDefaults::standard().stringForKey(keys::kDnsLink).value_or(QString());
    QVERIFY2(link.startsWith(QStringLiteral("/update/e2e-host/")), qPrintable(link));

    // The updater keeps the record current, the service says so, and so does the done screen.
    QTRY_VERIFY_WITH_TIMEOUT(m_service->recordedUpdates(QStringLiteral("e2e-host")) >= 2, kStepMs);
    QTRY_VERIFY_WITH_TIMEOUT(console.all().contains(QStringLiteral(R"("host":"e2e-host")")), kStepMs);
    QTRY_VERIFY_WITH_TIMEOUT(
        controllerOf(*window).updaterStatusLabel->text().endsWith(QStringLiteral(" — the service sees 127.0.0.1")),
        kStepMs);

    // Reset: back to the host screen, still signed in; the same name is now taken by this account's host.
    QTest::mouseClick(window->currentController()->findChild<QPushButton *>(QStringLiteral("ResetButton")),
                      Qt::LeftButton);
    QTRY_COMPARE_WITH_TIMEOUT(window->currentScreen(), screens::kHost, kStepMs);
    QCOMPARE(UserDefaults::standard().stringForKey(keys::kToken), token);
    QCOMPARE(UserDefaults::standard().stringForKey(keys::kHostname), std::nullopt);
    QCOMPARE(UserDefaults::standard().stringForKey(keys::kDnsLink), std::nullopt);
    QTest::keyClicks(controllerOf(*window).hostnameEntered, QStringLiteral("E2E-HOST"));
    QTest::keyClick(controllerOf(*window).hostnameEntered, Qt::Key_Return);
    QTRY_VERIFY_WITH_TIMEOUT(!controllerOf(*window).labelHostUnavailable->isHidden(), kStepMs);

    // A later launch with the stored sign-in fetches the saved host back; the launch after that shows it.
    window.reset();
    window = createMainWindow();
    window->show();
    QTRY_COMPARE_WITH_TIMEOUT(UserDefaults::standard().stringForKey(keys::kDnsLink), link, kStepMs);
    QCOMPARE(UserDefaults::standard().stringForKey(keys::kHostname), QStringLiteral("e2e-host"));
    window = createMainWindow();
    window->show();
    QTRY_COMPARE_WITH_TIMEOUT(window->currentScreen(), screens::kDone, kStepMs);
    QCOMPARE(controllerOf(*window).hostNameDoneLabel->text(), QStringLiteral("e2e-host") + endpoints::zoneSuffix());
}

VENNACOTT_TEST_MAIN(WindowEndToEndTest, QApplication)
#include "tst_windowendtoend.moc"
