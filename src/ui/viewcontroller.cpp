// The controller of the setup window's three screens: sign-in, host and done.
#include "viewcontroller.h"

#include "api.h"
#include "appearance.h"
#include "dispatch.h"
#include "endpoints.h"
#include "mainstoryboard.h"
#include "savedhost.h"
#include "settingskeys.h"
#include "storyboard.h"
#include "userdefaults.h"
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
    UserDefaults &defaults = UserDefaults::standard();
    if (hostNameDoneLabel) {
        hostNameDoneLabel->setReadOnly(true);
        const QString shown =
            defaults.stringForKey(keys::kHostname).value_or(QStringLiteral("ERROR")) + endpoints::zoneSuffix();
        hostNameDoneLabel->setText(shown);
        hostNameDoneLabel->setCursorPosition(0);
    }
    // Fonts and widths first: the window adopts the screen's size from here on.
    applyAppearance();
    if (StoryboardWindow *window = storyboardWindow())
        window->setResizable(false);
    setPreferredContentSize(size());

    if (email) {
        const QString token = defaults.stringForKey(keys::kToken).value_or(QString());
        if (!token.isEmpty()) {
            getSavedHost(storeSavedHost);
            postSegue(segues::kLoginToHost);
        }
    }
    if (hostnameEntered) {
        const QString hostname = defaults.stringForKey(keys::kHostname).value_or(QString());
        if (!hostname.isEmpty() && hostname != QLatin1String("ERROR"))
            postSegue(segues::kHostToDone);
    }
    if (updaterStatusLabel && m_updater) {
        // Redrawn when the status changes, never on a timer: the window stays quiet between ticks.
        connect(m_updater, &Updater::statusChanged, this, &ViewController::showUpdaterStatus);
        showUpdaterStatus();
    }
}

void ViewController::setUpdater(Updater *updater)
{
    m_updater = updater;
}

void ViewController::showUpdaterStatus()
{
    if (!updaterStatusLabel || !m_updater)
        return;
    const QString line = statusLine(m_updater->status(), m_updater->interval());
    announce(updaterStatusLabel, line);
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
    login(
        typedEmail, typedPassword,
        [controller = self()](bool success) {
            if (success)
                dispatch::mainAsync([controller] { controller->performSegue(segues::kLoginToHost); });
        },
        [controller = self()](const OperationEnd &end) {
            dispatch::mainAsync([controller, end] {
                controller->showEnd(
                    controller->signInStatusLabel, controller->loginButton, end,
                    QCoreApplication::translate("ViewController", "The e-mail address or password was not accepted."));
            });
        });
}

void ViewController::HostButtonPressed()
{
    const QString name = hostnameEntered ? hostnameEntered->text() : QString();
    showBusy(registrationStatusLabel, m_hostButton, QCoreApplication::translate("ViewController", "Registering…"));
    // The refusal has its own label; an end without an answer, from either request, is told here.
    const auto ended = [controller = self()](const OperationEnd &end) {
        if (end.kind == OperationEnd::Kind::Done)
            return;
        dispatch::mainAsync([controller, end] {
            controller->showEnd(controller->registrationStatusLabel, controller->m_hostButton, end, QString());
        });
    };
    registerHost(
        name,
        [controller = self(), name, ended](bool success, const QString &text) {
            if (!success) {
                dispatch::mainAsync([controller] {
                    if (controller->labelHostUnavailable)
                        controller->labelHostUnavailable->setHidden(false);
                });
                return;
            }
            storeRegisteredHost(name, text);
            setSavedHost(
                text,
                [controller](bool saved) {
                    if (saved)
                        dispatch::mainAsync([controller] { controller->performSegue(segues::kHostToDone); });
                },
                ended);
        },
        ended);
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

void ViewController::showEnd(QLabel *label, QPushButton *button, const OperationEnd &end, const QString &refused)
{
    if (button)
        button->setEnabled(true);
    if (!label)
        return;
    QString text;
    if (end.kind == OperationEnd::Kind::NoAnswer) {
        text = QCoreApplication::translate(
            "ViewController", "The service could not be reached. Check the network connection and try again.");
    } else if (end.kind == OperationEnd::Kind::Refused) {
        text = refused;
    }
    QPalette warning;
    warning.setColor(QPalette::WindowText, appearance::warningRed(palette().color(QPalette::Window)));
    label->setPalette(warning);
    announce(label, text);
}

void ViewController::ResetButtonPressed()
{
    forgetHost();
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
