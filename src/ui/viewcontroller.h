// The controller of the setup window's three screens: sign-in, host and done.
#pragma once

#include "viewcontrollerbase.h"

#include <QPointer>
#include <QString>

#include <optional>

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
};

// A saved host as the backend returns it: the update link between two quote characters.
struct SavedHost
{
    QString hostname;
    QString link;
};

// Cuts the saved-host text into the host name (from its tenth character to the last "/") and the link
// (without the first and last character). Nothing when the text holds no "/".
std::optional<SavedHost> cutSavedHost(const QString &text);

// The saved-host callback: stores the cut host name, then the link. Any thread.
void storeSavedHost(bool success, const QString &text);

} // namespace vennacott
