// Text cursors stop blinking after a while without input, as desktops do.
#pragma once

#include <QObject>
#include <QTimer>

#include <chrono>

namespace vennacott {

// A focused text field blinks its cursor twice a second, which wakes the program all day long while it
// only waits for its next update. After `timeout` without a key press, click or wheel the cursor stays
// steady instead; the next input starts the blinking again. Lives as long as the application object.
class CursorBlinkLimiter final : public QObject
{
public:
    explicit CursorBlinkLimiter(std::chrono::milliseconds timeout, QObject *parent = nullptr);
    ~CursorBlinkLimiter() override;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void stopBlinking();

    QTimer m_idle;
    int m_flashTime;
    bool m_stopped = false;
};

// The GNOME default: blinking stops after ten seconds without input.
inline constexpr std::chrono::milliseconds kCursorBlinkTimeout{10'000};

} // namespace vennacott
