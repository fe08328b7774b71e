// Alerts in a QMessageBox, modal on the application's window.
#include "alert.h"

#include "application.h"
#include "storyboard.h"

#include <QApplication>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>

namespace vennacott {
namespace {

QMessageBox::Icon iconOf(Alert::Style style)
{
    switch (style) {
    case Alert::Style::Informational:
        return QMessageBox::Information;
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

ModalResponse Alert::runModal() const
{
    return Application::shared().runModal(*this);
}

ModalResponse runAlertInMessageBox(const Alert &alert)
{
    // Window-modal on its window and centred on it; application-modal when there is no window to own it.
    QWidget *owner = ownerWindow();
    // Owned by the window: should the window go while the alert waits, the alert goes with it.
    const QPointer<QMessageBox> box = new QMessageBox(owner);
    box->setIcon(iconOf(alert.alertStyle()));
    box->setText(alert.messageText());
    box->setInformativeText(alert.informativeText());
    box->setWindowModality(owner ? Qt::WindowModal : Qt::ApplicationModal);
    const QStringList titles = alert.buttonTitles();
    QList<QAbstractButton *> buttons;
    for (qsizetype index = 0; index < titles.size(); ++index)
        buttons.append(box->addButton(titles.at(index), roleOf(index)));
    if (buttons.isEmpty())
        buttons.append(box->addButton(QMessageBox::Ok)); // titled and translated by Qt itself
    box->setDefaultButton(qobject_cast<QPushButton *>(buttons.constFirst()));
    if (buttons.size() >= 2)
        box->setEscapeButton(buttons.at(1));
    box->exec();
    if (!box)
        return ModalResponse::Abort;
    const qsizetype chosen = buttons.indexOf(box->clickedButton());
    delete box;
    if (chosen < 0)
        return ModalResponse::Abort;
    return static_cast<ModalResponse>(static_cast<int>(ModalResponse::FirstButton) + static_cast<int>(chosen));
}

} // namespace vennacott
