// The real vennacott-ddnsctl, built for the local reference service, run without a display: it signs in,
// registers a host, keeps it current in the service, reports it, and forgets it again.
#include "refsvcharness.h"

#include <QDateTime>
#include <QDir>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcessEnvironment>
#include <QRegularExpression>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>
#include <QUuid>

#include <csignal>

using namespace vennacott::refsvc::test;

namespace {

// The first update comes at once and the next 10 seconds later; this allows for a slow machine.
constexpr int kTwoUpdatesTimeoutMs = 120'000;

struct Finished
{
    int status = -1; // -1: did not end by itself
    QByteArray out;
    QByteArray err;
};

int countMatches(const QRegularExpression &pattern, const QByteArray &text)
{
    int count = 0;
    for (QRegularExpressionMatchIterator it = pattern.globalMatch(QString::fromUtf8(text)); it.hasNext(); it.next())
        ++count;
    return count;
}

} // namespace

class CtlEndToEndTest final : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void ctl_signsInRegistersKeepsTheHostCurrentAndForgetsIt();

private:
    Finished ctl(const QStringList &arguments, const QByteArray &input = {});
    QJsonObject statusJson();

    QProcessEnvironment m_environment;
    QByteArray m_printed; // everything the program printed, searched for secrets at the end
};

Finished CtlEndToEndTest::ctl(const QStringList &arguments, const QByteArray &input)
{
    QProcess process;
    process.setProcessEnvironment(m_environment);
    process.start(QStringLiteral(VENNACOTT_DDNSCTL_BINARY), arguments);
    process.write(input);
    process.closeWriteChannel();
    // Events keep flowing meanwhile, so the service's log is read.
    if (!QTest::qWaitFor([&] { return process.state() == QProcess::NotRunning; }, kStepTimeoutMs)) {
        process.kill();
        process.waitForFinished();
    }
    Finished result{process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1,
                    process.readAllStandardOutput(), process.readAllStandardError()};
    m_printed += result.out + result.err;
    return result;
}

QJsonObject CtlEndToEndTest::statusJson()
{
    const Finished status = ctl({QStringLiteral("status"), QStringLiteral("--json")});
    // Standard output is the one object and its line end, nothing else.
    const QJsonDocument document = QJsonDocument::fromJson(status.out);
    return status.status == 0 && document.isObject() && status.out.count('\n') == 1 ? document.object() : QJsonObject();
}

void CtlEndToEndTest::ctl_signsInRegistersKeepsTheHostCurrentAndForgetsIt()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString data = dir.filePath(QStringLiteral("service"));
    QVERIFY(QDir().mkpath(data));
    for (const QString &file : {QStringLiteral("/ca.pem"), QStringLiteral("/ca.key")})
        QVERIFY2(QFile::copy(QStringLiteral(VENNACOTT_E2E_CA_DIR) + file, data + file), "no reference service CA");
    ServiceProcess service(data);
    QVERIFY2(service.start(VENNACOTT_E2E_API_PORT, VENNACOTT_E2E_UPDATE_PORT), service.errors().constData());

    m_environment = QProcessEnvironment::systemEnvironment();
    for (const char *variable : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
        m_environment.remove(QString::fromLatin1(variable));
    for (const char *folder : {"CONFIG", "STATE", "DATA", "RUNTIME"}) {
        const QString path = dir.filePath(QString::fromLatin1(folder).toLower());
        QVERIFY(QDir().mkpath(path));
        QFile::setPermissions(path, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
        m_environment.insert(QStringLiteral("XDG_%1_HOME").arg(QString::fromLatin1(folder)), path);
    }
    m_environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), dir.filePath(QStringLiteral("runtime")));

    const QString id = QUuid::createUuid().toString(QUuid::Id128).left(8);
    const QString name = QStringLiteral("ctl-") + id;
    const QByteArray password = "e2e-password-" + id.toUtf8();
    const Finished login =
        ctl({QStringLiteral("login"), QStringLiteral("ctl-%1@example.org").arg(id)}, password + '\n');
    QVERIFY2(login.status == 0, login.err.constData());
    const Finished registration = ctl({QStringLiteral("register"), name});
    QVERIFY2(registration.status == 0, registration.err.constData());
    QCOMPARE(registration.out.trimmed().split('\n').constLast(),
             (name + QStringLiteral(VENNACOTT_E2E_ZONE_SUFFIX)).toUtf8());

    QProcess run;
    run.setProcessEnvironment(m_environment);
    QByteArray runOutput;
    connect(&run, &QProcess::readyReadStandardOutput, this, [&] { runOutput += run.readAllStandardOutput(); });
    run.start(QStringLiteral(VENNACOTT_DDNSCTL_BINARY), {QStringLiteral("run")});
    QVERIFY(run.waitForStarted(kStepTimeoutMs));
    const QRegularExpression recorded(QStringLiteral(" update 127\\.0\\.0\\.1 GET /update/%1/<key> 200$").arg(name));
    const QRegularExpression replyLine(
        QStringLiteral("(^|\n)\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d \\+0000 \\{[^\n]*\"ip\":\"127\\.0\\.0\\.1\""));
    const auto recordedUpdates = [&] {
        const QStringList lines = service.outputLines();
        return std::count_if(lines.cbegin(), lines.cend(),
                             [&](const QString &l) { return recorded.match(l).hasMatch(); });
    };
    QTRY_VERIFY_WITH_TIMEOUT(recordedUpdates() >= 2 && countMatches(replyLine, runOutput) >= 2, kTwoUpdatesTimeoutMs);
    // No GUI, D-Bus or SQL library is mapped, even with the network and TLS in use.
    QFile maps(QStringLiteral("/proc/%1/maps").arg(run.processId()));
    QVERIFY(maps.open(QIODevice::ReadOnly));
    const QString mapped = QString::fromUtf8(maps.readAll());
    QVERIFY2(!mapped.contains(QRegularExpression(QStringLiteral("libQt6(Gui|Widgets|DBus|Sql)"))), qPrintable(mapped));

    QJsonObject status = statusJson();
    QCOMPARE(status.value("signed_in"), QJsonValue(true));
    QCOMPARE(status.value("hostname"), QJsonValue(name));
    QCOMPARE(status.value("full_name"), QJsonValue(name + QStringLiteral(VENNACOTT_E2E_ZONE_SUFFIX)));
    QCOMPARE(status.value("updater_running"), QJsonValue(true));
    const QJsonObject last = status.value("last_update").toObject();
    QCOMPARE(last.value("result"), QJsonValue("updated"));
    QCOMPARE(last.value("address"), QJsonValue("127.0.0.1"));
    QVERIFY(QDateTime::fromString(last.value("time").toString(), Qt::ISODate).isValid());

    ::kill(static_cast<pid_t>(run.processId()), SIGTERM);
    QTRY_COMPARE_WITH_TIMEOUT(run.state(), QProcess::NotRunning, kStepTimeoutMs);
    QCOMPARE(run.exitStatus(), QProcess::NormalExit);
    QCOMPARE(run.exitCode(), 0);
    runOutput += run.readAllStandardOutput() + run.readAllStandardError();
    m_printed += runOutput;
    QCOMPARE(statusJson().value("updater_running"), QJsonValue(false));

    // The secrets as the settings hold them, before they are forgotten.
    QSettings settings(dir.filePath(QStringLiteral("config/vennacott/vennacott-ddns.conf")), QSettings::IniFormat);
    const QString token = settings.value(QStringLiteral("token")).toString();
    const QString key = settings.value(QStringLiteral("dnsLink")).toString().section(QLatin1Char('/'), -1);
    QVERIFY(!token.isEmpty() && !key.isEmpty());

    QCOMPARE(ctl({QStringLiteral("reset")}).status, 0);
    status = statusJson();
    QCOMPARE(status.value("signed_in"), QJsonValue(true));
    QCOMPARE(status.value("hostname"), QJsonValue(QJsonValue::Null));
    QCOMPARE(ctl({QStringLiteral("logout")}).status, 0);
    QCOMPARE(statusJson().value("signed_in"), QJsonValue(false));

    for (const QByteArray &secret : {password, token.toUtf8(), key.toUtf8()})
        QVERIFY2(!m_printed.contains(secret), m_printed.constData());
    QVERIFY(service.stop());
}

QTEST_GUILESS_MAIN(CtlEndToEndTest)
#include "tst_ctlendtoend.moc"
