// The controller of the setup window's three screens: sign-in, host and done.
#include "viewcontroller.h"

#include "appearance.h"
#include "core.h"
#include "dispatch.h"
#include "endpoints.h"
#include "mainstoryboard.h"
#include "settingskeys.h"
#include "storyboard.h"
#include "windows.h"

#include <QAccessible>
#include <QCoreApplication>
#include <QEvent>
#include <QFontMetrics>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

namespace vennacott {
namespace {

// The registered name stands out: bold and this much larger than the screen's text.
constexpr qreal kHostNameScale = 1.4;
// The name field grows with the name up to this width; beyond it the name scrolls.
constexpr int kHostNameMaxWidth = 720;
// Besides the text a frameless line edit needs 2 px on either side and room for its cursor; the rest
// is slack for styles that pad their fields.
constexpr int kHostNamePadding = 16;

// Sets a label's text so that screen readers hear it without the focus moving there.
void announce(QLabel *label, const QString &text)
{
    if (label->text() == text)
        return;
    label->setText(text);
    QAccessibleEvent changed(label, QAccessible::NameChanged);
    QAccessible::updateAccessibility(&changed);
}

} // namespace

std::shared_ptr<ViewController> ViewController::self()
{
    return std::static_pointer_cast<ViewController>(shared_from_this());
}

void ViewController::connectOutlets()
{
    email = findChild<QLineEdit *>(QStringLiteral("email"));
    password = findChild<QLineEdit *>(QStringLiteral("password"));
    loginButton = findChild<QPushButton *>(QStringLiteral("loginButton"));
    hostView = findChild<QWidget *>(QStringLiteral("hostView"));
    hostnameEntered = findChild<QLineEdit *>(QStringLiteral("hostnameEntered"));
    labelHostUnavailable = findChild<QLabel *>(QStringLiteral("labelHostUnavailable"));
    hostNameDoneLabel = findChild<QLineEdit *>(QStringLiteral("hostNameDoneLabel"));
    updaterStatusLabel = findChild<QLabel *>(QStringLiteral("updaterStatusLabel"));
    signInStatusLabel = findChild<QLabel *>(QStringLiteral("signInStatusLabel"));
    registrationStatusLabel = findChild<QLabel *>(QStringLiteral("registrationStatusLabel"));
    m_hostButton = findChild<QPushButton *>(QStringLiteral("hostButton"));
}

void ViewController::postSegue(const QString &identifier)
{
    dispatch::mainAsync([controller = self(), identifier] { controller->performSegue(identifier); });
}

void ViewController::viewDidLoad()
{
    Settings &settings = m_core->settings();
    if (hostNameDoneLabel) {
        hostNameDoneLabel->setReadOnly(true);
        const QString shown =
            settings.value(keys::kHostname).value_or(QStringLiteral("ERROR")) + endpoints::zoneSuffix();
        hostNameDoneLabel->setText(shown);
        hostNameDoneLabel->setCursorPosition(0);
    }
    // Fonts and widths first: the window adopts the screen's size from here on.
    applyAppearance();
    if (StoryboardWindow *window = storyboardWindow())
        window->setResizable(false);
    setPreferredContentSize(size());

    if (email && !settings.token().isEmpty()) {
        // What comes back is stored by the session; the screens that follow read it when they load.
        m_core->session().fetchSavedHost([](const OperationResult &) {});
        postSegue(segues::kLoginToHost);
    }
    if (hostnameEntered && settings.registeredHostname())
        postSegue(segues::kHostToDone);
    if (updaterStatusLabel) {
        // Redrawn when the status changes, never on a timer: the window stays quiet between ticks.
        connect(&m_core->updater(), &Updater::statusChanged, this, &ViewController::showUpdaterStatus);
        showUpdaterStatus();
    }
}

void ViewController::setCore(Core *core)
{
    m_core = core;
}

void ViewController::showUpdaterStatus()
{
    if (!updaterStatusLabel)
        return;
    Updater &updater = m_core->updater();
    announce(updaterStatusLabel, statusLine(updater.status(), updater.interval()));
}

void ViewController::applyAppearance()
{
    // Room for two lines of what a request says, kept while it is empty, so no message squeezes the screen.
    for (QLabel *label : {signInStatusLabel.data(), registrationStatusLabel.data()}) {
        if (label)
            label->setMinimumHeight(2 * label->fontMetrics().lineSpacing());
    }
    // Derived from the screen's own font and palette, which the desktop's theme sets.
    if (labelHostUnavailable) {
        labelHostUnavailable->setFont(appearance::emphasised(font()));
        QPalette warning;
        warning.setColor(QPalette::WindowText, appearance::warningRed(palette().color(QPalette::Window)));
        labelHostUnavailable->setPalette(warning);
    }
    if (hostNameDoneLabel) {
        // A name too long for the widest field gives up some of its emphasis before any of its letters.
        const QString name = hostNameDoneLabel->text();
        // Measured in the font the field draws with, so the whole name shows.
        const auto neededWidth = [&](const QFont &nameFont) {
            return QFontMetrics(nameFont, hostNameDoneLabel).horizontalAdvance(name) + kHostNamePadding;
        };
        qreal scale = kHostNameScale;
        QFont nameFont = appearance::emphasised(font(), scale);
        while (scale > 1.0 && neededWidth(nameFont) > kHostNameMaxWidth) {
            scale = qMax(1.0, scale - 0.1);
            nameFont = appearance::emphasised(font(), scale);
        }
        hostNameDoneLabel->setFont(nameFont);
        hostNameDoneLabel->setMinimumWidth(qMin(neededWidth(nameFont), kHostNameMaxWidth));
        // A field that reads like a label: no panel of its own behind the text.
        QPalette plain;
        plain.setColor(QPalette::Base, Qt::transparent);
        hostNameDoneLabel->setPalette(plain);
    }
}

void ViewController::changeEvent(QEvent *event)
{
    if (event->type() == QEvent::FontChange || event->type() == QEvent::PaletteChange)
        applyAppearance();
    ViewControllerBase::changeEvent(event);
}

void ViewController::ButtonPressedWithSender()
{
    const QString typedEmail = email ? email->text() : QString();
    const QString typedPassword = password ? password->text() : QString();
    showBusy(signInStatusLabel, loginButton, QCoreApplication::translate("ViewController", "Signing in…"));
    m_core->session().signIn(typedEmail, typedPassword, [controller = self()](const OperationResult &result) {
        if (result.kind == OperationResult::Kind::Superseded)
            return;
        controller->showEnd(
            controller->signInStatusLabel, controller->loginButton, result,
            QCoreApplication::translate("ViewController", "The e-mail address or password was not accepted."));
        if (result.kind == OperationResult::Kind::Done)
            controller->postSegue(segues::kLoginToHost);
    });
}

void ViewController::HostButtonPressed()
{
    const QString name = hostnameEntered ? hostnameEntered->text() : QString();
    showBusy(registrationStatusLabel, m_hostButton, QCoreApplication::translate("ViewController", "Registering…"));
    m_core->session().registerHost(name, [controller = self()](const OperationResult &result) {
        switch (result.kind) {
        case OperationResult::Kind::Superseded:
            return;
        case OperationResult::Kind::Refused:
            // The refusal has its own label.
            controller->showEnd(controller->registrationStatusLabel, controller->m_hostButton, result, QString());
            if (controller->labelHostUnavailable)
                controller->labelHostUnavailable->setHidden(false);
            return;
        case OperationResult::Kind::NoAnswer:
            controller->showEnd(controller->registrationStatusLabel, controller->m_hostButton, result, QString());
            return;
        case OperationResult::Kind::Done:
            break;
        }
        // Registered and stored: the done screen follows once the backend has answered the save, whatever
        // it said; without an answer the screen stays and says so.
        OperationResult saved;
        saved.kind = result.accountSave.kind == OperationEnd::Kind::NoAnswer ? OperationResult::Kind::NoAnswer
                                                                             : OperationResult::Kind::Done;
        controller->showEnd(controller->registrationStatusLabel, controller->m_hostButton, saved, QString());
        if (saved.kind == OperationResult::Kind::Done)
            controller->postSegue(segues::kHostToDone);
    });
}

void ViewController::showBusy(QLabel *label, QPushButton *button, const QString &text)
{
    if (button)
        button->setEnabled(false);
    if (label) {
        label->setPalette(QPalette());
        announce(label, text);
    }
}

void ViewController::showEnd(QLabel *label, QPushButton *button, const OperationResult &result, const QString &refused)
{
    if (button)
        button->setEnabled(true);
    if (!label)
        return;
    QString text;
    if (result.kind == OperationResult::Kind::NoAnswer) {
        text = QCoreApplication::translate(
            "ViewController", "The service could not be reached. Check the network connection and try again.");
    } else if (result.kind == OperationResult::Kind::Refused) {
        text = refused;
    }
    QPalette warning;
    warning.setColor(QPalette::WindowText, appearance::warningRed(palette().color(QPalette::Window)));
    label->setPalette(warning);
    announce(label, text);
}

void ViewController::ResetButtonPressed()
{
    m_core->session().reset();
    postSegue(segues::kDoneToHost);
}

void ViewController::CloseButtonPressed()
{
    windows::exitNow(0);
}

void ViewController::CloseButtonDonePressed()
{
    CloseButtonPressed();
}

void ViewController::HideButtonPressed()
{
    windows::miniaturizeAll();
}

} // namespace vennacott
