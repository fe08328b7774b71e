// The settings store: values, persistence across processes, file mode and damaged files.
#include "settings.h"
#include "settingskeys.h"
#include "testsupport.h"
#include "userdefaults.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QSysInfo>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

using namespace vennacott;
using namespace vennacott::test;

namespace {

QByteArray readAll(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void writeAll(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    QVERIFY(QDir().mkpath(QFileInfo(path).absolutePath()) && file.open(QIODevice::WriteOnly) && file.write(bytes) >= 0);
}

// Read and write for the owner only (Qt reports the owner's permissions as the user's too).
const QFile::Permissions kPrivate = QFile::ReadOwner | QFile::WriteOwner | QFile::ReadUser | QFile::WriteUser;

constexpr int kHostWrites = 1000;

// Another process registering hosts, each name with its link.
int childMain(const QString &)
{
    UserDefaults defaults(Settings::defaultFilePath());
    for (int i = 0; i <= kHostWrites; ++i) {
        const QString name = i == kHostWrites ? QStringLiteral("final") : QStringLiteral("q%1").arg(i % 2);
        defaults.apply({{keys::kHostname, name}, {keys::kDnsLink, QStringLiteral("/update/%1/k").arg(name)}});
    }
    return 0;
}

} // namespace

class UserDefaultsTest final : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init()
    {
        m_dir = std::make_unique<QTemporaryDir>();
        m_path = m_dir->filePath(QStringLiteral("vennacott/vennacott-ddns.conf"));
        clearSettings();
    }
    void twoProcessesWritingAtOnce_loseNothingAndNeverSplitAHost()
    {
        // This process writes its token and reads the host while the child registers hosts as fast as it can.
        UserDefaults running(Settings::defaultFilePath());
        int written = 0;
        QStringList split;
        QTimer writer;
        connect(&writer, &QTimer::timeout, this, [&] {
            running.setObject(QStringLiteral("t%1").arg(++written), keys::kToken);
            UserDefaults reader(Settings::defaultFilePath());
            const std::optional<QString> name = reader.stringForKey(keys::kHostname);
            const std::optional<QString> link = reader.stringForKey(keys::kDnsLink);
            if (link != (name ? std::optional<QString>(QStringLiteral("/update/%1/k").arg(*name)) : std::nullopt))
                split.append(name.value_or(QString()) + QLatin1Char(' ') + link.value_or(QString()));
        });
        writer.start(0);
        QCOMPARE(runChild(QStringLiteral("hosts")).exitCode, 0);
        writer.stop();
        QVERIFY2(split.isEmpty() && written > 0, qPrintable(split.join(u',')));
        // This process's own store, which wrote last, sees the other's last host too.
        QCOMPARE(running.stringForKey(keys::kToken), QStringLiteral("t%1").arg(written));
        QCOMPARE(running.stringForKey(keys::kDnsLink), QStringLiteral("/update/final/k"));
    }

    void file_isCreatedOnFirstWriteAndPrivateToTheUser()
    {
        UserDefaults(m_path).setObject(QStringLiteral("secret"), keys::kToken);
        // A write killed before its rename left its copy, Qt's lock and temporary file for that, and its lock,
        // whose process is gone: the next write clears them all, and keeps what was set aside or backed up.
        QProcess gone;
        gone.start(QStringLiteral("true"));
        const qint64 pid = gone.waitForStarted() ? gone.processId() : 0;
        QVERIFY(pid > 0 && gone.waitForFinished());
        writeAll(m_path + QStringLiteral(".lock"),
                 QByteArray::number(pid) + "\ntst_userdefaults\n" + QSysInfo::machineHostName().toUtf8() + '\n');
        for (const char *left : {".aBcDeF", ".aBcDeF.lock", ".aBcDeF.XyZabc"})
            writeAll(m_path + QLatin1String(left), "token=secret\n");
        const QStringList staying{QStringLiteral("vennacott-ddns.conf"), QStringLiteral("vennacott-ddns.conf.backup"),
                                  QStringLiteral("vennacott-ddns.conf.corrupt-20261207-101010-123")};
        for (const QString &name : staying.mid(1))
            writeAll(QFileInfo(m_path).dir().filePath(name), "token=mine\n");
        // A file made readable to others by hand is tightened on the next write.
        QVERIFY(QFile::setPermissions(m_path, kPrivate | QFile::ReadGroup | QFile::ReadOther));
        UserDefaults(m_path).setObject(QStringLiteral("h"), keys::kHostname);
        QCOMPARE(QFile::permissions(m_path), kPrivate);
        QCOMPARE(QFileInfo(m_path).dir().entryList(QDir::Files | QDir::Hidden), staying);
    }

    void file_isReadWholeOrKeptAside_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<QString>("token"); // empty: the file is damaged
        // As an editor on another system may leave it: CRLF line ends, a comment, a tab, a non-ASCII letter.
        QTest::newRow("hand edited") << QByteArray("; mine\r\n[General]\r\ntoken=caf\xc3\xa9\tdesk\r\n")
                                     << "caf\u00e9\tdesk";
        QTest::newRow("control characters") << QByteArray("garbage\x00\x13", 9) << "";
        QTest::newRow("a good token, then bytes that are not UTF-8")
            << QByteArray("[General]\ntoken=abc\n\xfe\x80=x\n") << "";
        QTest::newRow("a good token, then a line that is no key") << QByteArray("token=abc\nnot a setting\n") << "";
    }

    void file_isReadWholeOrKeptAside()
    {
        QFETCH(QByteArray, content);
        QFETCH(QString, token);
        writeAll(m_path, content);
        QVERIFY(QFile::setPermissions(m_path, kPrivate | QFile::ReadGroup | QFile::ReadOther));
        ConsoleCapture console;
        UserDefaults defaults(m_path);
        const QDir folder = QFileInfo(m_path).dir();
        const QStringList copies = folder.entryList({QStringLiteral("vennacott-ddns.conf.corrupt-*")}, QDir::Files);
        QCOMPARE(defaults.stringForKey(keys::kToken), token.isEmpty() ? std::nullopt : std::optional(token));
        QCOMPARE(console.errors().size(), copies.size());
        QCOMPARE(copies.size(), token.isEmpty() ? 1 : 0);
        if (copies.isEmpty())
            return;
        QCOMPARE(QFile::permissions(folder.filePath(copies.constFirst())), kPrivate); // it may hold the token
        defaults.setObject(QStringLiteral("fresh-host"), keys::kHostname);
        QCOMPARE(console.errors().size(), 1);
        QCOMPARE(UserDefaults(m_path).stringForKey(keys::kHostname), QStringLiteral("fresh-host"));
    }

    void unusableLocation_readsEmptyAndReportsOnce()
    {
        // A folder where the file should be cannot be read or written, whoever runs the test (root included).
        const QString kept = m_path + QStringLiteral("/keep");
        writeAll(kept, "precious");
        ConsoleCapture console;
        UserDefaults defaults(m_path);
        QCOMPARE(defaults.stringForKey(keys::kToken), std::nullopt);
        QCOMPARE(console.errors().size(), 1);

        // The value stays in memory; the one line names the key, never the value.
        defaults.setObject(QStringLiteral("secret-value"), keys::kToken);
        QCOMPARE(defaults.stringForKey(keys::kToken), QStringLiteral("secret-value"));
        QCOMPARE(console.errors().size(), 2);
        QVERIFY2(console.errors().constLast().contains(keys::kToken) && !console.all().contains("secret-value"),
                 qPrintable(console.all()));
        QCOMPARE(readAll(kept), "precious");
    }

private:
    QString m_path;
    std::unique_ptr<QTemporaryDir> m_dir;
};

VENNACOTT_TEST_MAIN_WITH_CHILD(UserDefaultsTest, QCoreApplication, childMain)
#include "tst_userdefaults.moc"
