// The controller of the setup window's three screens: sign-in, host and done.
#pragma once

#include "updater.h"
#include "viewcontrollerbase.h"

#include <QPointer>
#include <QString>

class QLabel;
class QLineEdit;
class QPushButton;

namespace vennacott {

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
    // The done screen's line on the updater's last update.
    QPointer<QLabel> updaterStatusLabel;

    // Where the done screen reads the updater's status; none in a window without an updater.
    void setUpdater(Updater *updater);

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

    QPointer<Updater> m_updater;
};

} // namespace vennacott
