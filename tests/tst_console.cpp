// Printed lines: escaped control characters, whole lines from many threads.
#include "console.h"
#include "testsupport.h"

#include <QCoreApplication>
#include <QTest>
#include <QThread>

using namespace vennacott;
using namespace vennacott::test;

namespace {

constexpr int kThreads = 8, kLines = 200, kLineLength = 9000; // over twice what a pipe writes atomically

QString lineOf(int thread, int index)
{
    const QString head = QStringLiteral("%1:%2:").arg(thread).arg(index);
    return head + QString(kLineLength - head.size(), QChar(u'a' + thread));
}

int childMain(const QString &)
{
    std::vector<std::unique_ptr<QThread>> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back(QThread::create([t] {
            for (int i = 0; i < kLines; ++i)
                console::printLine(lineOf(t, i));
        }));
        threads.back()->start();
    }
    for (auto &thread : threads)
        thread->wait();
    return 0;
}

} // namespace

class ConsoleTest final : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void controlCharacters_areEscaped_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QByteArray>("written");
        // Line feeds and carriage returns: every fuzz target checks that each printed line is one line.
        QTest::newRow("escape sequence") << QStringLiteral("\x1b[2J") << QByteArray("\\u001b[2J\n");
        QTest::newRow("unicode line separator, non-ASCII kept")
            << QStringLiteral("\u00e9\u2028\u20ac") << QByteArray("\xc3\xa9\\u2028\xe2\x82\xac\n");
    }
    void controlCharacters_areEscaped()
    {
        QFETCH(QString, text);
        QFETCH(QByteArray, written);
        ConsoleCapture console;
        console::printLine(text);
        QCOMPARE(console.all().toUtf8(), written);
    }

    void linesFromManyThreads_arriveWhole()
    {
        const ChildResult child = runChild(QStringLiteral("many-threads"));
        QCOMPARE(child.exitCode, 0);
        const QList<QByteArray> lines = child.out.split('\n');
        QCOMPARE(lines.size(), kThreads * kLines + 1); // the last piece, after the last line feed, is empty
        QVERIFY(lines.constLast().isEmpty());
        std::vector<int> next(kThreads, 0);
        for (qsizetype i = 0; i + 1 < lines.size(); ++i) {
            const QString line = QString::fromUtf8(lines.at(i));
            const int thread = line.section(QLatin1Char(':'), 0, 0).toInt();
            QVERIFY(thread >= 0 && thread < kThreads);
            QCOMPARE(line, lineOf(thread, next[thread]++));
        }
    }
};

VENNACOTT_TEST_MAIN_WITH_CHILD(ConsoleTest, QCoreApplication, childMain)
#include "tst_console.moc"
