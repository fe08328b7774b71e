// Application-modal alerts in a QMessageBox.
#include "alert.h"

#include "application.h"

#include <QMessageBox>
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

} // namespace

ModalResponse Alert::runModal() const
{
    return Application::shared().runModal(*this);
}

ModalResponse runAlertInMessageBox(const Alert &alert)
{
    QMessageBox box;
    box.setIcon(iconOf(alert.alertStyle()));
    box.setText(alert.messageText());
    box.setInformativeText(alert.informativeText());
    box.setWindowModality(Qt::ApplicationModal);
    const QStringList titles = alert.buttonTitles();
    QList<QAbstractButton *> buttons;
    for (qsizetype index = 0; index < titles.size(); ++index)
        buttons.append(box.addButton(titles.at(index), roleOf(index)));
    if (buttons.isEmpty())
        buttons.append(box.addButton(QMessageBox::Ok)); // titled and translated by Qt itself
    box.setDefaultButton(qobject_cast<QPushButton *>(buttons.constFirst()));
    if (buttons.size() >= 2)
        box.setEscapeButton(buttons.at(1));
    box.exec();
    const qsizetype chosen = buttons.indexOf(box.clickedButton());
    if (chosen < 0)
        return ModalResponse::Abort;
    return static_cast<ModalResponse>(static_cast<int>(ModalResponse::FirstButton) + static_cast<int>(chosen));
}

} // namespace vennacott
