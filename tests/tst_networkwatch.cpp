// An update when the network comes back or the machine wakes: the reachability decision, and logind's
// PrepareForSleep on a system bus of the test's own.
#include "desktopsession.h"
#include "networkwatch.h"
#include "settingskeys.h"
#include "testserver.h"
#include "testsupport.h"
#include "updater.h"
#include "userdefaults.h"

#include <QApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QSignalSpy>
#include <QTest>

using namespace vennacott;
using namespace vennacott::test;
using namespace std::chrono_literals;
using Reachability = QNetworkInformation::Reachability;

namespace {

const QString kLogind = QStringLiteral("org.freedesktop.login1");
const QString kPath = QStringLiteral("/org/freedesktop/login1");
const QString kManager = QStringLiteral("org.freedesktop.login1.Manager");

} // namespace

class NetworkWatchTest final : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void reachabilityCameBack_onlyOnReturnToOnline_data();
    void reachabilityCameBack_onlyOnReturnToOnline();
    void wakeFromSleep_sendsExactlyOneUpdate();

public Q_SLOTS:
    void marker() { ++m_markers; }

private:
    int m_markers = 0;
};

void NetworkWatchTest::reachabilityCameBack_onlyOnReturnToOnline_data()
{
    QTest::addColumn<Reachability>("before");
    QTest::addColumn<Reachability>("after");
    QTest::addColumn<bool>("update");
    QTest::newRow("disconnected to online") << Reachability::Disconnected << Reachability::Online << true;
    QTest::newRow("local to online") << Reachability::Local << Reachability::Online << true;
    QTest::newRow("first report at launch") << Reachability::Unknown << Reachability::Online << false;
    QTest::newRow("online again") << Reachability::Online << Reachability::Online << false;
    QTest::newRow("going offline") << Reachability::Online << Reachability::Disconnected << false;
    QTest::newRow("only the local network") << Reachability::Disconnected << Reachability::Local << false;
}

void NetworkWatchTest::reachabilityCameBack_onlyOnReturnToOnline()
{
    QFETCH(Reachability, before);
    QFETCH(Reachability, after);
    QFETCH(bool, update);
    QCOMPARE(reachabilityCameBack(before, after), update);
}

void NetworkWatchTest::wakeFromSleep_sendsExactlyOneUpdate()
{
    DesktopSession session;
    const QString address = session.startBus();
    QVERIFY2(!address.isEmpty(), qPrintable(session.error()));
    // The watch's system bus is this one; logind is the test's own connection to it.
    qputenv("DBUS_SYSTEM_BUS_ADDRESS", address.toUtf8());
    QDBusConnection logind = QDBusConnection::connectToBus(address, QStringLiteral("logind"));
    QVERIFY(logind.registerService(kLogind));
    const auto send = [](QDBusConnection bus, const QString &name, const QVariantList &arguments = {}) {
        QDBusMessage message = QDBusMessage::createSignal(kPath, kManager, name);
        message.setArguments(arguments);
        return bus.send(message);
    };

    TestServer server;
    server.respondWith(ScriptedResponse::json(R"({"ip":"192.0.2.1"})"));
    UserDefaults::standard().setObject(QStringLiteral("/update/host/key"), keys::kDnsLink);
    Updater updater(server.baseUrl(), 1h);
    NetworkWatch watch;
    QSignalSpy wanted(&watch, &NetworkWatch::updateWanted);
    connect(&watch, &NetworkWatch::updateWanted, &updater, &Updater::tick);
    // Signals of one sender arrive in order: once its marker is in, every signal it sent before was handled.
    QVERIFY(QDBusConnection::systemBus().connect(QString(), kPath, kManager, QStringLiteral("Marker"), this,
                                                 SLOT(marker())));

    QVERIFY(send(logind, QStringLiteral("PrepareForSleep"), {true}));
    QVERIFY(send(logind, QStringLiteral("PrepareForSleep"), {false}));
    QVERIFY(send(logind, QStringLiteral("Marker")));
    QTRY_COMPARE(m_markers, 1);
    QCOMPARE(wanted.size(), 1);
    QTRY_COMPARE(server.requestCount(), 1);
    QCOMPARE(server.requests().first().target, QByteArray("/update/host/key"));

    // Another process's signal of that name is not logind's word.
    QDBusConnection other = QDBusConnection::connectToBus(address, QStringLiteral("other"));
    QVERIFY(send(other, QStringLiteral("PrepareForSleep"), {false}) && send(other, QStringLiteral("Marker")));
    QTRY_COMPARE(m_markers, 2);
    QCOMPARE(wanted.size(), 1);
    QDBusConnection::disconnectFromBus(QStringLiteral("other"));
    QDBusConnection::disconnectFromBus(QStringLiteral("logind"));
}

VENNACOTT_TEST_MAIN(NetworkWatchTest, QApplication)
#include "tst_networkwatch.moc"
