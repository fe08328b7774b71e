// The sign-in in the system keyring: moved into and out of a Secret Service on a private bus (GNOME Keyring,
// unlocked with a known password), and a locked or absent keyring said plainly, with no fallback to the file.
#include "commandline.h"
#include "core.h"
#include "desktopsession.h"
#include "endpoints.h"
#include "settings.h"
#include "settingskeys.h"
#include "testserver.h"
#include "testsupport.h"
#include "tokenstore.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QFile>
#include <QFileInfo>
#include <QSettings>
#include <QTest>

using namespace vennacott;
using namespace vennacott::test;

namespace {

const QString kToken = QStringLiteral("token-SECRET-1");
const QString kLink = QStringLiteral("/update/host/key-SECRET-2");
constexpr int kWaitMs = 10'000;

QString choicePath()
{
    return QFileInfo(Settings::defaultFilePath()).absolutePath() + QStringLiteral("/vennacott-ddns-desktop.conf");
}

bool secretServiceOnBus()
{
    return QDBusConnection::sessionBus().interface()->isServiceRegistered(QStringLiteral("org.freedesktop.secrets"));
}

// Runs vennacott-ddnsctl's `arguments` in this process; its exit status.
int runCtl(const QStringList &arguments)
{
    ctl::CommandLine commandLine;
    std::optional<ctl::ExitStatus> ended;
    commandLine.start(arguments, [&ended](ctl::ExitStatus status) { ended = status; });
    if (!QTest::qWaitFor([&ended] { return ended.has_value(); }, kWaitMs))
        return -1;
    return int(*ended);
}

} // namespace

class KeyringTest final : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanup() { endpoints::overrideForTesting({}, {}); }
    void choice_movesTheTokenIntoTheKeyring_andBack();
    void unreachableKeyring_isSaid_andTheFileKeepsNoToken_data();
    void unreachableKeyring_isSaid_andTheFileKeepsNoToken();

private:
    bool startKeyring();

    DesktopSession m_session;
    SessionProgram *m_keyring = nullptr;
};

void KeyringTest::initTestCase()
{
    const QString bus = m_session.startBus();
    QVERIFY2(!bus.isEmpty(), qPrintable(m_session.error()));
    qputenv("DBUS_SESSION_BUS_ADDRESS", bus.toUtf8());
    trustTestServer();
}

void KeyringTest::init()
{
    clearSettings();
    QFile::remove(choicePath());
}

bool KeyringTest::startKeyring()
{
    if (m_keyring)
        return true;
    // A new login keyring in the test's own data folder, made and unlocked with the password on standard input.
    m_keyring =
        m_session.start(QStringLiteral("gnome-keyring-daemon"), {"--foreground", "--unlock", "--components=secrets"});
    if (!m_keyring)
        return false;
    m_keyring->write("test-password");
    m_keyring->closeWriteChannel();
    return QTest::qWaitFor(secretServiceOnBus, kWaitMs);
}

void KeyringTest::choice_movesTheTokenIntoTheKeyring_andBack()
{
    QVERIFY2(startKeyring(), qPrintable(m_session.error()));
    storeSetting(keys::kToken, kToken);
    storeSetting(keys::kHostname, QStringLiteral("host"));
    storeSetting(keys::kDnsLink, kLink);
    {
        Settings settings(Settings::defaultFilePath(), std::chrono::milliseconds(10));
        settings.chooseKeyring(true);
        QTRY_VERIFY_WITH_TIMEOUT(!settings.keyringBusy(), kWaitMs);
        QVERIFY2(settings.keyringChosen(), qPrintable(settings.keyringProblem()));
        QCOMPARE(storedSetting(keys::kToken), std::nullopt);
        QCOMPARE(settings.token(), kToken);
    }

    // After a restart the token comes from the keyring, the command line reads it there too, and the update
    // goes on from the link in the file.
    TestServer server;
    server.setHandler([](const RecordedRequest &) { return ScriptedResponse::json(R"({"host":"host"})"); });
    endpoints::overrideForTesting(server.baseUrl(), server.baseUrl());
    ConsoleCapture console;
    QCOMPARE(runCtl({"status"}), 0);
    QVERIFY2(console.output().contains(QStringLiteral("Signed in:   yes")), qPrintable(console.all()));
    Core core(Core::Options{});
    QTRY_COMPARE_WITH_TIMEOUT(core.settings().token(), kToken, kWaitMs);
    core.updater().updateNow();
    QTRY_COMPARE_WITH_TIMEOUT(server.requestCount(), 1, kWaitMs);
    QCOMPARE(storedSetting(keys::kToken), std::nullopt);
    QVERIFY2(!console.all().contains(QStringLiteral("SECRET")), qPrintable(console.all()));

    core.settings().chooseKeyring(false);
    QTRY_VERIFY_WITH_TIMEOUT(!core.settings().keyringBusy(), kWaitMs);
    QVERIFY(!core.settings().keyringChosen());
    QCOMPARE(storedSetting(keys::kToken), kToken);
    std::optional<TokenStore::Outcome> left;
    TokenStore store(Settings::defaultFilePath());
    store.read([&left](TokenStore::Outcome outcome, const QString &) { left = outcome; });
    QTRY_VERIFY_WITH_TIMEOUT(left.has_value(), kWaitMs);
    QCOMPARE(*left, TokenStore::Outcome::NotFound);
}

void KeyringTest::unreachableKeyring_isSaid_andTheFileKeepsNoToken_data()
{
    QTest::addColumn<bool>("running");
    QTest::addColumn<Settings::Keyring>("state");
    QTest::addColumn<QString>("said"); // part of the window's text and of the command line's error

    QTest::newRow("locked") << true << Settings::Keyring::Locked << "locked";
    QTest::newRow("absent") << false << Settings::Keyring::Absent << "no keyring is running";
}

void KeyringTest::unreachableKeyring_isSaid_andTheFileKeepsNoToken()
{
    QFETCH(bool, running);
    QFETCH(Settings::Keyring, state);
    QFETCH(QString, said);

    if (running) {
        QVERIFY2(startKeyring(), qPrintable(m_session.error()));
        const QDBusMessage lock = QDBusConnection::sessionBus().call(
            QDBusMessage::createMethodCall(QStringLiteral("org.freedesktop.secrets"),
                                           QStringLiteral("/org/freedesktop/secrets"),
                                           QStringLiteral("org.freedesktop.Secret.Service"), QStringLiteral("Lock"))
            << QVariant::fromValue(
                   QList<QDBusObjectPath>{QDBusObjectPath("/org/freedesktop/secrets/collection/login")}));
        QCOMPARE(lock.type(), QDBusMessage::ReplyMessage);
    } else if (m_keyring) {
        m_keyring->terminate();
        QVERIFY(m_keyring->waitForFinished(kWaitMs));
        QVERIFY(QTest::qWaitFor([] { return !secretServiceOnBus(); }, kWaitMs));
    }

    // Ticked now: the token stays in the file and the choice stays off.
    storeSetting(keys::kToken, kToken);
    {
        Settings settings(Settings::defaultFilePath(), std::chrono::milliseconds(10));
        settings.chooseKeyring(true);
        QTRY_VERIFY_WITH_TIMEOUT(!settings.keyringBusy(), kWaitMs);
        QVERIFY(!settings.keyringChosen());
        QCOMPARE(settings.keyring(), state);
        QVERIFY2(settings.keyringProblem().contains(said.section(QLatin1Char(' '), -1)),
                 qPrintable(settings.keyringProblem()));
        QCOMPARE(storedSetting(keys::kToken), kToken);
    }

    // Ticked before: no token is read from anywhere else, and the command line refuses what needs it.
    storeSetting(keys::kToken, std::nullopt);
    QSettings(choicePath(), QSettings::NativeFormat).setValue(QStringLiteral("keyring"), true);
    Settings settings(Settings::defaultFilePath(), std::chrono::milliseconds(10));
    QTRY_COMPARE_WITH_TIMEOUT(settings.keyring(), state, kWaitMs);
    QVERIFY(!settings.keyringProblem().isEmpty());
    QCOMPARE(settings.token(), QString());
    ConsoleCapture console;
    QCOMPARE(runCtl({"status"}), 1);
    QVERIFY2(console.errors().join(QLatin1Char('\n')).contains(said), qPrintable(console.all()));
    QCOMPARE(storedSetting(keys::kToken), std::nullopt);
}

VENNACOTT_TEST_MAIN(KeyringTest, QCoreApplication)
#include "tst_keyring.moc"
