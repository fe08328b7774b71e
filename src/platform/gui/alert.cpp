// Alerts in a QMessageBox, modal on the application's window, answered through a callback.
#include "alert.h"

#include "application.h"
#include "storyboard.h"

#include <QApplication>
#include <QMessageBox>
#include <QPushButton>

#include <memory>

namespace vennacott {
namespace {

QMessageBox::Icon iconOf(Alert::Style style)
{
    switch (style) {
    case Alert::Style::Critical:
        return QMessageBox::Critical;
    case Alert::Style::Warning:
        break;
    }
    return QMessageBox::Warning;
}

// The first button is the default one and the second the escape one. The message box lays the buttons
// out in the order that the desktop's own dialogs use for these roles.
QMessageBox::ButtonRole roleOf(qsizetype index)
{
    if (index == 0)
        return QMessageBox::AcceptRole;
    return index == 1 ? QMessageBox::RejectRole : QMessageBox::ActionRole;
}

// The window an alert belongs to: the active one, else the storyboard window while it is on screen
// (without a window manager no window is ever active).
QWidget *ownerWindow()
{
    if (QWidget *active = QApplication::activeWindow())
        return active;
    const QWidgetList windows = QApplication::topLevelWidgets();
    for (QWidget *window : windows) {
        if (qobject_cast<StoryboardWindow *>(window) && window->isVisible() && !window->isMinimized())
            return window;
    }
    return nullptr;
}

} // namespace

void Alert::open(AlertHandler handler) const
{
    Application::shared().openAlert(*this, std::move(handler));
}

void openAlertInMessageBox(const Alert &alert, AlertHandler handler)
{
    // Window-modal on its window and centred on it; application-modal when there is no window to own it.
    QWidget *owner = ownerWindow();
    // Owned by the window: should the window go while the alert is up, the alert goes with it.
    auto *box = new QMessageBox(owner);
    box->setIcon(iconOf(alert.alertStyle()));
    box->setText(alert.messageText());
    box->setInformativeText(alert.informativeText());
    const QStringList titles = alert.buttonTitles();
    QList<QAbstractButton *> buttons;
    for (qsizetype index = 0; index < titles.size(); ++index)
        buttons.append(box->addButton(titles.at(index), roleOf(index)));
    if (buttons.isEmpty())
        buttons.append(box->addButton(QMessageBox::Ok)); // titled and translated by Qt itself
    box->setDefaultButton(qobject_cast<QPushButton *>(buttons.constFirst()));
    if (buttons.size() >= 2)
        box->setEscapeButton(buttons.at(1));
    // Exactly one answer: the button chosen when the box finishes, Abort when it goes away unanswered.
    auto answer = std::make_shared<AlertHandler>(std::move(handler));
    const auto reply = [answer](ModalResponse response) {
        if (const AlertHandler handler = std::exchange(*answer, {}))
            handler(response);
    };
    QObject::connect(box, &QMessageBox::finished, box, [box, buttons, reply] {
        const qsizetype chosen = buttons.indexOf(box->clickedButton());
        box->deleteLater();
        reply(chosen < 0 ? ModalResponse::Abort
                         : static_cast<ModalResponse>(static_cast<int>(ModalResponse::FirstButton) + int(chosen)));
    });
    QObject::connect(box, &QObject::destroyed, [reply] { reply(ModalResponse::Abort); });
    // open() makes the box window-modal; without a window it is shown application-modal instead. Neither
    // waits in an event loop of its own.
    if (owner) {
        box->open();
    } else {
        box->setWindowModality(Qt::ApplicationModal);
        box->show();
    }
}

} // namespace vennacott
