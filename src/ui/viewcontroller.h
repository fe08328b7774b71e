// The controller of the setup window's three screens: sign-in, host and done.
#pragma once

#include "session.h"
#include "viewcontrollerbase.h"

#include <QPointer>
#include <QString>

class QLabel;
class QLineEdit;
class QPushButton;

namespace vennacott {

class Core;

// One class serves every screen; which outlets a screen connects decides what its start-up does.
class ViewController final : public ViewControllerBase
{
    Q_OBJECT
public:
    // Outlets, connected by object name; null where the screen has no such control, or once it is gone.
    QPointer<QLineEdit> email;
    QPointer<QLineEdit> password;
    QPointer<QPushButton> loginButton;
    QPointer<QWidget> hostView;
    QPointer<QLineEdit> hostnameEntered;
    QPointer<QLabel> labelHostUnavailable;
    QPointer<QLineEdit> hostNameDoneLabel;
    // What the sign-in and host screens say while a request is out, and when it ends without an answer.
    QPointer<QLabel> signInStatusLabel;
    QPointer<QLabel> registrationStatusLabel;
    // The done screen's line on the updater's last update.
    QPointer<QLabel> updaterStatusLabel;

    // The core the screens drive: its settings, operations and updater.
    void setCore(Core *core);

    void viewDidLoad() override;

public Q_SLOTS:
    void ButtonPressedWithSender();
    void HostButtonPressed();
    void ResetButtonPressed();
    void CloseButtonPressed();
    void CloseButtonDonePressed();
    void HideButtonPressed();

protected:
    void connectOutlets() override;
    // A theme or font change on the desktop reaches the colours and fonts derived from the screen's.
    void changeEvent(QEvent *event) override;

private:
    void applyAppearance();
    std::shared_ptr<ViewController> self();
    // Segues always go through the main queue, so they run after the current action or load has returned.
    void postSegue(const QString &identifier);
    void showUpdaterStatus();
    // A request is out: its button is off until it ends, and the screen says so.
    void showBusy(QLabel *label, QPushButton *button, const QString &text);
    // The request ended: the button works again, and the screen says why it did not go through.
    void showEnd(QLabel *label, QPushButton *button, const OperationResult &result, const QString &refused);
    QPointer<QPushButton> m_hostButton;

    QPointer<Core> m_core;
};

} // namespace vennacott
