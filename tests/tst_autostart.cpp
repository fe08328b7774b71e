// Start at login: the autostart entry written with the program to start, valid for the desktop, and removed.
#include "autostart.h"
#include "testsupport.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

using namespace vennacott;
using namespace vennacott::test;

class AutostartTest final : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init() { QFile::remove(Autostart::entryPath()); }

    void setEnabled_writesAValidEntryForTheProgramThenRemovesIt_data()
    {
        // The installed program, under a scratch folder ("" for one that is not installed), and the Exec line.
        QTest::addColumn<QString>("installed");
        QTest::addColumn<QString>("exec");
        // clang-format off
        QTest::newRow("installed")                          << "bin/vennacott-ddns" << "@/bin/vennacott-ddns";
        QTest::newRow("not installed: the running program") << "" << QCoreApplication::applicationFilePath();
        QTest::newRow("blank in the path")                  << "my apps/vennacott-ddns" << "\"@/my apps/vennacott-ddns\"";
        QTest::newRow("reserved characters")                << "a$b\"c%d\\e/vennacott-ddns" << "\"@/a\\\\$b\\\\\"c%%d\\\\\\\\e/vennacott-ddns\"";
        QTest::newRow("line feed: no entry")                << "a\nb/vennacott-ddns" << "";
        // clang-format on
    }
    void setEnabled_writesAValidEntryForTheProgramThenRemovesIt()
    {
        QFETCH(QString, installed);
        QFETCH(QString, exec);
        QTemporaryDir folder;
        const QString program = installed.isEmpty() ? "/nonexistent/vennacott-ddns" : folder.filePath(installed);
        QFile file(program);
        QVERIFY(installed.isEmpty() ||
                (QDir().mkpath(QFileInfo(program).absolutePath()) && file.open(QIODevice::WriteOnly) &&
                 file.setPermissions(file.permissions() | QFile::ExeOwner)));
        Autostart autostart(program);
        QCOMPARE(autostart.setEnabled(true), !exec.isEmpty());
        QCOMPARE(Autostart::isEnabled(), !exec.isEmpty());
        if (!exec.isEmpty()) {
            QFile entry(Autostart::entryPath());
            QVERIFY(entry.open(QIODevice::ReadOnly));
            QVERIFY(
                QString::fromUtf8(entry.readAll()).split(u'\n').contains("Exec=" + exec.replace(u'@', folder.path())));
            QProcess validate;
            validate.start(QStringLiteral("desktop-file-validate"), {Autostart::entryPath()});
            QVERIFY2(validate.waitForFinished(30'000), "desktop-file-validate (scripts/deps installs it) did not run");
            const QByteArray report = validate.readAll();
            QVERIFY2(validate.exitCode() == 0 && !report.contains("error"), report.constData());
        }
        QVERIFY(autostart.setEnabled(false));
        QVERIFY(!QFile::exists(Autostart::entryPath()));
    }
};

VENNACOTT_TEST_MAIN(AutostartTest, QApplication)
#include "tst_autostart.moc"
