// The tray icon: its looks, its tooltip and its menu.
#include "trayicon.h"

#include "autostart.h"
#include "core.h"
#include "desktoppreferences.h"
#include "mainmenu.h"
#include "notifier.h"
#include "storyboard.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QMenu>
#include <QPainter>
#include <QPainterPath>
#include <QSystemTrayIcon>

namespace vennacott {
namespace {

// One size, drawn on a 64-unit grid so every size keeps the same proportions.
QPixmap drawLook(TrayLook look, int size)
{
    QPixmap pixmap(size, size);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.scale(size / 64.0, size / 64.0);

    // The tile: dark enough for light panels, with a light rim that keeps its edge on dark ones.
    const bool active = look != TrayLook::NotSetUp;
    QLinearGradient fill(0, 2, 0, 62);
    fill.setColorAt(0, active ? QColor(0x2f, 0x80, 0xed) : QColor(0x8a, 0x93, 0x9b));
    fill.setColorAt(1, active ? QColor(0x1b, 0x4f, 0xa8) : QColor(0x4f, 0x57, 0x5e));
    painter.setPen(QPen(QColor(255, 255, 255, 200), 3));
    painter.setBrush(fill);
    painter.drawRoundedRect(QRectF(3, 3, 58, 58), 14, 14);

    // The globe.
    painter.setPen(QPen(Qt::white, 4.5));
    painter.setBrush(Qt::NoBrush);
    painter.drawEllipse(QPointF(30, 30), 19, 19);
    painter.setPen(QPen(Qt::white, 3));
    painter.drawEllipse(QPointF(30, 30), 8, 19);
    painter.drawLine(QPointF(11, 30), QPointF(49, 30));
    if (!active)
        return pixmap;

    // The badge: a green tick or a red exclamation mark, ringed in white and then in dark grey.
    const bool failing = look == TrayLook::Failing;
    painter.setPen(QPen(QColor(0x20, 0x20, 0x20), 2));
    painter.setBrush(Qt::white);
    painter.drawEllipse(QPointF(47, 47), 16, 16);
    painter.setPen(Qt::NoPen);
    painter.setBrush(failing ? QColor(0xd9, 0x30, 0x25) : QColor(0x1e, 0x9e, 0x55));
    painter.drawEllipse(QPointF(47, 47), 12.5, 12.5);
    painter.setPen(QPen(Qt::white, 5, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    if (failing) {
        painter.drawLine(QPointF(47, 39), QPointF(47, 48));
        painter.drawPoint(QPointF(47, 55));
    } else {
        QPainterPath tick(QPointF(40.5, 47.5));
        tick.lineTo(45.5, 52.5);
        tick.lineTo(54, 42.5);
        painter.drawPath(tick);
    }
    return pixmap;
}

// A panel that shows the icon through the StatusNotifier protocol reads its tooltip as markup, so the
// server's text in it is escaped there; Qt's own tooltip, where no such panel runs, shows it as plain text.
// Qt makes the same choice once, when the first icon is made.
bool toolTipIsMarkup()
{
    static const bool markup = [] {
        const QDBusConnectionInterface *bus = QDBusConnection::sessionBus().interface();
        return bus && bus->isServiceRegistered(QStringLiteral("org.kde.StatusNotifierWatcher")).value();
    }();
    return markup;
}

QString toolTipFor(TrayLook look, const QString &name, const UpdaterStatus &status, std::chrono::milliseconds interval)
{
    const QString text =
        look == TrayLook::NotSetUp
            ? QStringLiteral("Vennacott DDNS\n") +
                  QCoreApplication::translate("TrayIcon", "Not set up: sign in and choose a host name in the window")
            : name + QLatin1Char('\n') + statusLine(status, interval);
    return toolTipIsMarkup() ? text.toHtmlEscaped() : text;
}

} // namespace

TrayLook trayLook(bool hasLink, const UpdaterStatus &status)
{
    if (!hasLink)
        return TrayLook::NotSetUp;
    return status.failuresInARow > 0 ? TrayLook::Failing : TrayLook::Updating;
}

QIcon trayIconFor(TrayLook look)
{
    QIcon icon;
    for (const int size : {16, 22, 24, 32, 48, 64})
        icon.addPixmap(drawLook(look, size));
    return icon;
}

TrayIcon::TrayIcon(StoryboardWindow &window, Core &core, const MainActions &actions, DesktopPreferences &preferences,
                   Autostart &autostart, QObject *parent)
    : QObject(parent)
    , m_window(window)
    , m_core(core)
    , m_preferences(preferences)
    , m_autostart(autostart)
    , m_menu(std::make_unique<QMenu>())
    , m_icon(std::make_unique<QSystemTrayIcon>())
{
    m_menu->addAction(QCoreApplication::translate("TrayIcon", "Show window"), this, &TrayIcon::showWindow);
    m_menu->addAction(actions.updateNow);
    m_menu->addAction(actions.history);
    m_menu->addSeparator();
    m_startAtLogin = m_menu->addAction(QCoreApplication::translate("TrayIcon", "Start at login"));
    m_startAtLogin->setCheckable(true);
    connect(m_startAtLogin, &QAction::triggered, this, [this](bool checked) {
        m_autostart.setEnabled(checked);
        m_startAtLogin->setChecked(Autostart::isEnabled());
    });
    m_notifications = m_menu->addAction(QCoreApplication::translate("TrayIcon", "Notifications"));
    m_notifications->setCheckable(true);
    connect(m_notifications, &QAction::triggered, this,
            [this](bool checked) { m_preferences.setNotificationsEnabled(checked); });
    m_menu->addAction(actions.keepInKeyring);
    m_menu->addSeparator();
    m_menu->addActions(actions.families);
    m_menu->addSeparator();
    m_menu->addAction(actions.signOut);
    m_menu->addAction(actions.quit);
    connect(m_menu.get(), &QMenu::aboutToShow, this, &TrayIcon::menuAboutToShow);
    menuAboutToShow();
    // Signing out leaves the sign-in screen to fill in, so it has to be in sight.
    connect(actions.signOut, &QAction::triggered, this, &TrayIcon::showWindow);

    m_icon->setContextMenu(m_menu.get());
    connect(m_icon.get(), &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason reason) {
        if (reason == QSystemTrayIcon::Trigger || reason == QSystemTrayIcon::DoubleClick)
            toggleWindow();
    });
    connect(&m_core.updater(), &Updater::statusChanged, this, &TrayIcon::refresh);
    // Sign-in, registration, Reset and Sign out, here or in the other program, change the stored link.
    connect(&m_core.settings(), &Settings::changed, this, &TrayIcon::refresh);
    refresh();
    m_icon->show();
}

TrayIcon::~TrayIcon() = default;

void TrayIcon::refresh()
{
    const UpdaterStatus status = m_core.updater().status();
    const TrayLook look = trayLook(!m_core.settings().dnsLink().isEmpty(), status);
    // Only what changed is sent: a panel fetches the whole icon again for every change.
    if (look != m_look) {
        m_look = look;
        m_icon->setIcon(trayIconFor(look));
    }
    const QString toolTip = toolTipFor(look, shownName(m_core.settings()), status, m_core.updater().interval());
    if (toolTip != m_icon->toolTip())
        m_icon->setToolTip(toolTip);
}

void TrayIcon::showWindow()
{
    m_window.showNormal();
    m_window.raise();
    m_window.activateWindow();
}

void TrayIcon::toggleWindow()
{
    if (m_window.isVisible() && !m_window.isMinimized())
        m_window.hide();
    else
        showWindow();
}

void TrayIcon::menuAboutToShow()
{
    m_startAtLogin->setChecked(Autostart::isEnabled());
    m_notifications->setChecked(m_preferences.notificationsEnabled());
}

} // namespace vennacott
