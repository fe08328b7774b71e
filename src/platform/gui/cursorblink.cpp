// Text cursors stop blinking after a while without input, as desktops do.
#include "cursorblink.h"

#include <QApplication>
#include <QEvent>

namespace vennacott {

CursorBlinkLimiter::CursorBlinkLimiter(std::chrono::milliseconds timeout, QObject *parent)
    : QObject(parent)
    , m_flashTime(QApplication::cursorFlashTime())
{
    m_idle.setSingleShot(true);
    m_idle.setInterval(timeout);
    connect(&m_idle, &QTimer::timeout, this, &CursorBlinkLimiter::stopBlinking);
    m_idle.start();
    QApplication::instance()->installEventFilter(this);
}

CursorBlinkLimiter::~CursorBlinkLimiter()
{
    if (m_stopped)
        QApplication::setCursorFlashTime(m_flashTime);
}

bool CursorBlinkLimiter::eventFilter(QObject *watched, QEvent *event)
{
    switch (event->type()) {
    case QEvent::KeyPress:
    case QEvent::MouseButtonPress:
    case QEvent::Wheel:
    case QEvent::InputMethod:
        if (m_stopped) {
            m_stopped = false;
            QApplication::setCursorFlashTime(m_flashTime);
        }
        m_idle.start();
        break;
    default:
        break;
    }
    return QObject::eventFilter(watched, event);
}

void CursorBlinkLimiter::stopBlinking()
{
    // A flash time of zero shows the cursor steadily; text fields follow the change at once.
    m_stopped = true;
    QApplication::setCursorFlashTime(0);
}

} // namespace vennacott
