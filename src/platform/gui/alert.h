// Alerts: a message, an explanation and buttons, answered later by the button chosen.
#pragma once

#include <QString>
#include <QStringList>

#include <functional>

namespace vennacott {

// How an alert was answered: the button chosen, counted from the first one added, or no answer (the
// window it belonged to went away).
enum class ModalResponse : int {
    Abort = -1001,
    FirstButton = 1000,
    SecondButton = 1001,
};

// Called once with the answer, from the event loop.
using AlertHandler = std::function<void(ModalResponse)>;

class Alert final
{
public:
    enum class Style { Warning, Critical };

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

    // Shows the alert through the shared application and returns at once; `handler` gets the answer.
    void open(AlertHandler handler) const;

private:
    Style m_style = Style::Warning;
    QString m_messageText;
    QString m_informativeText;
    QStringList m_buttonTitles;
};

// Shows an alert and answers later. The shared application uses a message box unless another runner is
// installed.
class AlertRunner
{
public:
    virtual ~AlertRunner() = default;
    virtual void open(const Alert &alert, AlertHandler handler) = 0;
};

// The message-box runner: a QMessageBox, window-modal on the active window or else the visible storyboard
// window, application-modal when there is neither. No event loop of its own: it is shown with open().
void openAlertInMessageBox(const Alert &alert, AlertHandler handler);

} // namespace vennacott
