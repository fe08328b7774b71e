// The application delegate: launch and termination, and the periodic address update.
#include "appdelegate.h"

#include "console.h"
#include "dispatch.h"
#include "endpoints.h"
#include "settingskeys.h"
#include "transport.h"
#include "userdefaults.h"

#include <QDateTime>
#include <QTimer>

namespace vennacott {
namespace {

void printUpdateReply(const ResponseValue &value)
{
    const QString now = QDateTime::currentDateTimeUtc().toString(QStringLiteral("yyyy-MM-dd hh:mm:ss"));
    console::printLine(now + QStringLiteral(" +0000 ") + value.description());
}

} // namespace

AppDelegate::AppDelegate(UpdaterOptions options, QObject *parent)
    : QObject(parent)
    , m_options{options.interval,
                options.updateBaseUrl.isEmpty() ? endpoints::updateBaseUrl() : std::move(options.updateBaseUrl)}
{}

AppDelegate::~AppDelegate() = default;

void AppDelegate::applicationDidFinishLaunching()
{
    // Owned by the delegate only so that it goes with it; nothing keeps a handle on it.
    auto *timer = new QTimer(this);
    timer->setInterval(m_options.interval);
    connect(timer, &QTimer::timeout, this, [this, timer] { UpdateIP(timer); });
    timer->start();
}

void AppDelegate::applicationWillTerminate()
{}

void AppDelegate::UpdateIP(QTimer *)
{
    const QString link = UserDefaults::standard().stringForKey(keys::kDnsLink).value_or(QString());
    if (link.isEmpty())
        return;
    QString url = m_options.updateBaseUrl + link;
    console::printLine(url);
    dispatch::backgroundAsync([url = std::move(url)] { sendGet(url, printUpdateReply); });
}

} // namespace vennacott
