// Modal alerts: a message, an explanation and buttons, answered by the button chosen.
#pragma once

#include <QString>
#include <QStringList>

namespace vennacott {

// How a modal session ended: the button chosen, counted from the first one added, or a session ended
// without an answer (the event loop was told to stop, say).
enum class ModalResponse : int {
    Stop = -1000,
    Abort = -1001,
    Continue = -1002,
    FirstButton = 1000,
    SecondButton = 1001,
    ThirdButton = 1002,
};

class Alert final
{
public:
    enum class Style { Warning, Informational, Critical };

    Style alertStyle() const { return m_style; }
    void setAlertStyle(Style style) { m_style = style; }
    QString messageText() const { return m_messageText; }
    void setMessageText(const QString &text) { m_messageText = text; }
    QString informativeText() const { return m_informativeText; }
    void setInformativeText(const QString &text) { m_informativeText = text; }

    // The first button added is the default one (Return); the second is the one that Escape and closing
    // the alert choose, as a "Cancel" button should be. An alert without buttons gets one titled "OK".
    void addButton(const QString &title) { m_buttonTitles.append(title); }
    QStringList buttonTitles() const { return m_buttonTitles; }

    // Shows the alert modally through the shared application and returns the answer.
    ModalResponse runModal() const;

private:
    Style m_style = Style::Warning;
    QString m_messageText;
    QString m_informativeText;
    QStringList m_buttonTitles;
};

// Shows an alert and waits for its answer. The shared application uses a message box unless another
// runner is installed.
class AlertRunner
{
public:
    virtual ~AlertRunner() = default;
    virtual ModalResponse runModal(const Alert &alert) = 0;
};

// The message-box runner: a QMessageBox, window-modal on the active window or else the visible storyboard
// window, application-modal when there is neither.
ModalResponse runAlertInMessageBox(const Alert &alert);

} // namespace vennacott
