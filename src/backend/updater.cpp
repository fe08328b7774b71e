// The address updater of a setup.
#include "updater.h"

#include "console.h"
#include "dispatch.h"
#include "endpoints.h"
#include "history.h"
#include "processlock.h"
#include "redaction.h"
#include "settings.h"
#include "settingskeys.h"
#include "setuppaths.h"
#include "timetext.h"
#include "transport.h"
#include "urlsession.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QFileSystemWatcher>
#include <QJsonDocument>
#include <QPointer>
#include <QTimer>

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace vennacott {
namespace {

// A status file larger than this was not written by an updater.
constexpr qint64 kMaxStatusBytes = 64 * 1024;

constexpr QFileDevice::Permissions kPrivateFolder =
    QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner;

// Replaces the file at `path` by a rename, so that a reader finds the whole old status or the whole new one.
// The runtime folder is memory, gone at the next boot anyway: only a file on a disk is flushed before the
// rename. One updater writes a setup's status (it holds the updater lock), so the temporary name is its own.
bool replaceStatusFile(const QByteArray &path, const QByteArray &content, bool onDisk)
{
    const QByteArray temporary = path + ".new";
    const int fd = ::open(temporary.constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0)
        return false;
    ::fchmod(fd, 0600); // a leftover of another umask keeps its mode through O_TRUNC
    qsizetype written = 0;
    while (written < content.size()) {
        const ssize_t n = ::write(fd, content.constData() + written, size_t(content.size() - written));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        written += n;
    }
    const bool complete = written == content.size() && (!onDisk || ::fdatasync(fd) == 0);
    ::close(fd);
    if (!complete || ::rename(temporary.constData(), path.constData()) != 0) {
        const int error = errno;
        ::unlink(temporary.constData());
        errno = error;
        return false;
    }
    return true;
}

} // namespace

QString updateReplyLine(const ResponseValue &value)
{
    return utcLineText(QDateTime::currentDateTimeUtc()) + QStringLiteral(" +0000 ") + value.description();
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

Updater::Updater(Settings &settings, std::chrono::milliseconds interval, QString updateBaseUrl, QObject *parent)
    : QObject(parent)
    , m_settings(settings)
    , m_interval(interval)
    , m_updateBaseUrl(updateBaseUrl.isEmpty() ? endpoints::updateBaseUrl() : std::move(updateBaseUrl))
    , m_updateHost(QUrl(m_updateBaseUrl).host())
    , m_lock(std::make_unique<ProcessLock>(setup::updaterLockPath()))
    , m_timer(new QTimer(this))
    , m_statusInMemory(!qEnvironmentVariableIsEmpty("XDG_RUNTIME_DIR"))
    , m_link(settings.dnsLink())
{
    connect(m_timer, &QTimer::timeout, this, [this] {
        m_timer->setInterval(m_interval);
        tick();
    });
    connect(&m_settings, &Settings::changed, this, [this](const QString &key) {
        if (key == keys::kDnsLink)
            linkChanged();
    });
}

Updater::~Updater()
{
    dropUpdatesInFlight();
}

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

void Updater::start(std::chrono::milliseconds firstTick)
{
    m_timer->start(firstTick);
}

void Updater::stop()
{
    m_timer->stop();
    dropUpdatesInFlight();
}

void Updater::pause()
{
    m_timer->stop();
}

bool Updater::isRunning() const
{
    return m_timer->isActive();
}

void Updater::updateNow()
{
    tick();
}

void Updater::linkChanged()
{
    const QString link = m_settings.dnsLink();
    if (link == m_link)
        return;
    m_link = link;
    // Updates of a link that is gone (reset, sign-out, another host) must not go out, nor print, any more.
    dropUpdatesInFlight();
}

void Updater::dropUpdatesInFlight()
{
    for (const std::shared_ptr<std::atomic_bool> &cancelled : m_inFlight)
        cancelled->store(true);
    m_inFlight.clear();
}

void Updater::tick()
{
    if (!tryToBecomeTheUpdater())
        return;
    const QString link = m_settings.dnsLink();
    if (link != m_link)
        linkChanged();
    if (link.isEmpty())
        return;
    auto cancelled = std::make_shared<std::atomic_bool>(false);
    m_inFlight.push_back(cancelled);
    Request request{QPointer<Updater>(this),
                    m_updateBaseUrl,
                    link,
                    m_interface,
                    m_temporaryIPv6,
                    cancelled,
                    std::make_shared<std::atomic_int>(0)};
    const QString &host = m_updateHost;
    if (isAddressLiteral(host)) {
        send(request, familiesToSend(host, m_familyChoice).constFirst());
        return;
    }
    // Whether the server's name has addresses of both families, and the route to each, take lookups that may
    // block: the network thread makes them, once per tick, and sends from there.
    UrlSession::shared().deliver([request, host, choice = m_familyChoice] {
        if (request.cancelled->load())
            return;
        for (const AddressFamily family : familiesToSend(host, choice))
            send(request, family);
    });
}

void Updater::send(const Request &request, AddressFamily family)
{
    console::printLine(redactedLink(request.baseUrl + request.link));
    const std::optional<QUrl> url = updateRequestUrl(request.baseUrl, request.link);
    const QDateTime sentAt = QDateTime::currentDateTimeUtc();
    RequestOptions options;
    options.useProxy = false; // the service must see this machine's own address
    options.cancelled = request.cancelled;
    options.family = family;
    if (!request.interface.isEmpty())
        options.interface = QStringLiteral("if!") + request.interface;
    else if (family == AddressFamily::IPv6 && !request.temporaryIPv6)
        options.interface = stableIPv6Source(); // not a privacy address, which changes every day
    // Which interface the request leaves through, for the warning about a VPN.
    const QString interface = !request.interface.isEmpty() ? request.interface
                              : url                        ? routeInterface(url->host(), family)
                                                           : QString();
    ++*request.pending;
    const QString fingerprint = linkFingerprint(request.link);
    const auto observer = [request, fingerprint, sentAt, family, interface](const Exchange &exchange) {
        if (exchange.end == Exchange::End::Cancelled)
            return;
        UpdateAttempt attempt = attemptOf(exchange, sentAt);
        attempt.family =
            family != AddressFamily::Any || attempt.address.isEmpty() ? family : familyOfAddress(attempt.address);
        attempt.interface = interface;
        // The server's text may quote the key: the status, its file and everything that shows it never hold it.
        attempt.error = withoutUpdateKey(attempt.error, request.link);
        dispatch::mainAsync([request, fingerprint, attempt] {
            if (!request.self)
                return;
            auto &inFlight = request.self->m_inFlight;
            if (--*request.pending == 0)
                inFlight.erase(std::remove(inFlight.begin(), inFlight.end(), request.cancelled), inFlight.end());
            if (!request.cancelled->load())
                request.self->finish(fingerprint, attempt);
        });
    };
    if (!url) {
        observer(Exchange{Exchange::End::NotSent, 0, {}});
        return;
    }
    // Straight to the network thread: a tick crosses no other.
    sendGet(
        url->toString(QUrl::FullyEncoded),
        [link = request.link](const ResponseValue &value) {
            console::printLine(withoutUpdateKey(updateReplyLine(value), link));
        },
        observer, options);
}

UpdaterStatus Updater::status()
{
    const QString fingerprint = linkFingerprint(m_settings.dnsLink());
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
    if (const std::optional<HistoryEntry> entry = historyEntryBetween(before, m_status)) {
        if (!History(setup::historyFilePath()).append(*entry))
            console::logLine(QStringLiteral("could not add to the history in ") + setup::historyFilePath());
    }
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
    // Without a runtime folder the status lies on the disk: a tick that changed only its time is not worth a
    // write there (8,640 a day on a small board's SD card). Everything else is told at once.
    if (!m_statusInMemory) {
        UpdaterStatus shape = m_status;
        if (shape.last)
            shape.last->time = QDateTime();
        if (m_published && *m_published == shape)
            return;
        m_published = shape;
    }
    // Named once: working the name out asks Qt for the settings path, which costs as much as the write.
    if (m_statusPath.isEmpty())
        m_statusPath = QFile::encodeName(setup::statusFilePath());
    // The status holds no secret: the link appears only as a fingerprint. A failed write only leaves the
    // previous status for others to read.
    const QByteArray content = m_status.toJson();
    if (!replaceStatusFile(m_statusPath, content, !m_statusInMemory) && errno == ENOENT) {
        const QString folder = QFileInfo(QFile::decodeName(m_statusPath)).absolutePath();
        if (QDir().mkpath(folder) && QFile::setPermissions(folder, kPrivateFolder))
            replaceStatusFile(m_statusPath, content, !m_statusInMemory);
    }
}

void Updater::watchPublishedStatus()
{
    if (m_watcher)
        return;
    const QString folder = QFileInfo(setup::statusFilePath()).absolutePath();
    if (!QDir(folder).exists() && QDir().mkpath(folder))
        QFile::setPermissions(folder, kPrivateFolder);
    // The folder, not the file: the file is replaced by a rename on every publication. inotify wakes
    // this process only when the holder writes, once per tick at most.
    m_watcher = std::make_unique<QFileSystemWatcher>(QStringList{folder});
    connect(m_watcher.get(), &QFileSystemWatcher::directoryChanged, this, &Updater::adoptPublishedStatus);
}

} // namespace vennacott
