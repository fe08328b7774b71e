// The address updater shared by the window and the command line.
#include "updater.h"

#include "console.h"
#include "dispatch.h"
#include "endpoints.h"
#include "processlock.h"
#include "redaction.h"
#include "settingskeys.h"
#include "setuppaths.h"
#include "transport.h"
#include "userdefaults.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QFileSystemWatcher>
#include <QJsonDocument>
#include <QPointer>
#include <QSaveFile>

namespace vennacott {
namespace {

// A status file larger than this was not written by an updater.
constexpr qint64 kMaxStatusBytes = 64 * 1024;

QString storedLink()
{
    return UserDefaults::standard().stringForKey(keys::kDnsLink).value_or(QString());
}

} // namespace

QString updateReplyLine(const ResponseValue &value)
{
    const QString now = QDateTime::currentDateTimeUtc().toString(QStringLiteral("yyyy-MM-dd hh:mm:ss"));
    return now + QStringLiteral(" +0000 ") + value.description();
}

std::optional<UpdaterStatus> readPublishedStatus()
{
    QFile file(setup::statusFilePath());
    if (!file.open(QIODevice::ReadOnly) || file.size() > kMaxStatusBytes)
        return std::nullopt;
    const QJsonDocument document = QJsonDocument::fromJson(file.read(kMaxStatusBytes));
    if (!document.isObject())
        return std::nullopt;
    return UpdaterStatus::fromJson(document.object());
}

Updater::Updater(QString updateBaseUrl, std::chrono::milliseconds interval, QObject *parent)
    : QObject(parent)
    , m_updateBaseUrl(updateBaseUrl.isEmpty() ? endpoints::updateBaseUrl() : std::move(updateBaseUrl))
    , m_interval(interval)
    , m_lock(std::make_unique<ProcessLock>(setup::updaterLockPath()))
{}

Updater::~Updater() = default;

bool Updater::tryToBecomeTheUpdater()
{
    if (m_lock->isLocked())
        return true;
    if (!m_lock->tryLock()) {
        watchPublishedStatus();
        adoptPublishedStatus();
        return false;
    }
    m_watcher.reset();
    // Carry on from where the previous updater of this setup left off.
    adoptPublishedStatus();
    return true;
}

bool Updater::isTheUpdater() const
{
    return m_lock->isLocked();
}

void Updater::tick()
{
    if (!tryToBecomeTheUpdater())
        return;
    const QString link = storedLink();
    if (link.isEmpty())
        return;
    const QString fingerprint = linkFingerprint(link);
    console::printLine(redactedLink(m_updateBaseUrl + link));
    const std::optional<QUrl> url = updateRequestUrl(m_updateBaseUrl, link);
    const QDateTime sentAt = QDateTime::currentDateTimeUtc();
    QPointer<Updater> self(this);
    auto observer = [self, fingerprint, sentAt](const Exchange &exchange) {
        const UpdateAttempt attempt = attemptOf(exchange, sentAt);
        dispatch::mainAsync([self, fingerprint, attempt] {
            if (self)
                self->finish(fingerprint, attempt);
        });
    };
    dispatch::backgroundAsync([url, observer = std::move(observer)] {
        if (!url) {
            observer(Exchange{Exchange::End::NotSent, 0, {}});
            return;
        }
        // Never through a proxy: the service must see this machine's own address.
        sendGet(
            url->toString(QUrl::FullyEncoded),
            [](const ResponseValue &value) { console::printLine(updateReplyLine(value)); }, observer,
            RequestOptions{AddressFamily::Any, QString(), false, {}});
    });
}

UpdaterStatus Updater::status()
{
    const QString fingerprint = linkFingerprint(storedLink());
    if (m_status.linkFingerprint == fingerprint)
        return m_status;
    UpdaterStatus waiting;
    waiting.linkFingerprint = fingerprint;
    return waiting;
}

void Updater::finish(const QString &fingerprint, const UpdateAttempt &attempt)
{
    // A new link (another host, or the same one registered again) starts a status of its own.
    UpdaterStatus before = m_status;
    if (before.linkFingerprint != fingerprint) {
        before = UpdaterStatus();
        before.linkFingerprint = fingerprint;
    }
    m_status = advance(before, attempt);
    publish();
    Q_EMIT statusChanged(eventsBetween(before, m_status));
}

void Updater::adoptPublishedStatus()
{
    const std::optional<UpdaterStatus> published = readPublishedStatus();
    if (!published || *published == m_status)
        return;
    const UpdaterStatus before = m_status;
    m_status = *published;
    // Another process's updates: tell what changed, unless this process only now starts to listen.
    Q_EMIT statusChanged(before.linkFingerprint == m_status.linkFingerprint ? eventsBetween(before, m_status)
                                                                            : QList<StatusEvent>());
}

void Updater::publish()
{
    const QString path = setup::statusFilePath();
    const QString folder = QFileInfo(path).absolutePath();
    if (!QDir(folder).exists() && !QDir().mkpath(folder))
        return;
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return;
    file.write(QJsonDocument(m_status.toJson()).toJson(QJsonDocument::Compact));
    // The status holds no secret: the link appears only as a fingerprint. A failed write only leaves the
    // previous status for others to read.
    file.commit();
}

void Updater::watchPublishedStatus()
{
    if (m_watcher)
        return;
    const QString folder = QFileInfo(setup::statusFilePath()).absolutePath();
    QDir().mkpath(folder);
    // The folder, not the file: the file is replaced by a rename on every publication. inotify wakes
    // this process only when the holder writes, once per tick at most.
    m_watcher = std::make_unique<QFileSystemWatcher>(QStringList{folder});
    connect(m_watcher.get(), &QFileSystemWatcher::directoryChanged, this, &Updater::adoptPublishedStatus);
}

} // namespace vennacott
