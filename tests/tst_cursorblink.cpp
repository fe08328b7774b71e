// Text cursors stop blinking after a while without input, and input starts them again.
#include "cursorblink.h"
#include "testsupport.h"

#include <QApplication>
#include <QLineEdit>
#include <QTest>
#include <QVBoxLayout>
#include <QWidget>

using namespace vennacott;
using namespace vennacott::test;
using namespace std::chrono_literals;

namespace {

constexpr auto kTimeout = 200ms;
constexpr int kWait = 5000;

enum class Input { Key, Click, Wheel };

} // namespace

Q_DECLARE_METATYPE(Input)

class CursorBlinkTest final : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() { quietPlatformWarnings(); }
    void init();
    void cleanup();

    void idle_stopsTheBlinking();
    void input_startsTheBlinkingAgain_data();
    void input_startsTheBlinkingAgain();
    void end_restoresTheBlinking();

private:
    std::unique_ptr<QWidget> m_window;
    QLineEdit *m_field = nullptr;
    int m_flashTime = 0;
};

void CursorBlinkTest::init()
{
    m_flashTime = QApplication::cursorFlashTime();
    QVERIFY(m_flashTime > 0);
    m_window = std::make_unique<QWidget>();
    m_field = new QLineEdit(m_window.get());
    (new QVBoxLayout(m_window.get()))->addWidget(m_field);
    m_window->show();
    QApplication::setActiveWindow(m_window.get());
    QVERIFY(QTest::qWaitForWindowActive(m_window.get()));
    m_field->setFocus();
}

void CursorBlinkTest::cleanup()
{
    m_window.reset();
    QApplication::setCursorFlashTime(m_flashTime);
}

void CursorBlinkTest::idle_stopsTheBlinking()
{
    const CursorBlinkLimiter limiter(kTimeout);
    QCOMPARE(QApplication::cursorFlashTime(), m_flashTime);
    QTRY_COMPARE_WITH_TIMEOUT(QApplication::cursorFlashTime(), 0, kWait);
}

void CursorBlinkTest::input_startsTheBlinkingAgain_data()
{
    QTest::addColumn<Input>("input");
    QTest::newRow("key") << Input::Key;
    QTest::newRow("click") << Input::Click;
    QTest::newRow("wheel") << Input::Wheel;
}

void CursorBlinkTest::input_startsTheBlinkingAgain()
{
    QFETCH(Input, input);
    const CursorBlinkLimiter limiter(kTimeout);
    QTRY_COMPARE_WITH_TIMEOUT(QApplication::cursorFlashTime(), 0, kWait);
    switch (input) {
    case Input::Key:
        QTest::keyClick(m_field, Qt::Key_A);
        QCOMPARE(m_field->text(), QStringLiteral("a"));
        break;
    case Input::Click:
        QTest::mouseClick(m_field, Qt::LeftButton);
        break;
    case Input::Wheel: {
        QWheelEvent wheel(QPointF(5, 5), m_field->mapToGlobal(QPointF(5, 5)), QPoint(), QPoint(0, 120), Qt::NoButton,
                          Qt::NoModifier, Qt::NoScrollPhase, false);
        QApplication::sendEvent(m_field, &wheel);
        break;
    }
    }
    QCOMPARE(QApplication::cursorFlashTime(), m_flashTime);
    // And it stops again after the next quiet spell.
    QTRY_COMPARE_WITH_TIMEOUT(QApplication::cursorFlashTime(), 0, kWait);
}

void CursorBlinkTest::end_restoresTheBlinking()
{
    {
        const CursorBlinkLimiter limiter(kTimeout);
        QTRY_COMPARE_WITH_TIMEOUT(QApplication::cursorFlashTime(), 0, kWait);
    }
    QCOMPARE(QApplication::cursorFlashTime(), m_flashTime);
}

VENNACOTT_TEST_MAIN(CursorBlinkTest, QApplication)

#include "tst_cursorblink.moc"
