// The shared URL session: libcurl's multi interface driven by the delivery thread's event loop.
#include "urlsession.h"

#include "console.h"

#include <QElapsedTimer>
#include <QLoggingCategory>
#include <QSocketNotifier>
#include <QThread>
#include <QTimer>

#include <algorithm>
#include <curl/curl.h>
#include <limits>
#include <mutex>
#include <unordered_set>

namespace vennacott {
namespace {

// QT_LOGGING_RULES="vennacott.transport.debug=true" shows each exchange's end and its new connections.
Q_LOGGING_CATEGORY(lcTransport, "vennacott.transport", QtInfoMsg)

// Same-origin redirects followed for one request, as browsers allow about as many.
constexpr int kMaxRedirects = 10;
// Idle connections kept for the next request; a DDNS client talks to two origins.
constexpr long kMaxIdleConnections = 4;

int defaultPort(const QUrl &url)
{
    return url.scheme() == QLatin1String("https") ? 443 : 80;
}

bool sameOrigin(const QUrl &a, const QUrl &b)
{
    return a.scheme() == b.scheme() && a.host().compare(b.host(), Qt::CaseInsensitive) == 0 &&
           a.port(defaultPort(a)) == b.port(defaultPort(b)) && a.userInfo() == b.userInfo();
}

QString sizeText(qint64 bytes)
{
    if (bytes % (1024 * 1024) == 0)
        return QStringLiteral("%1 MiB").arg(bytes / (1024 * 1024));
    if (bytes % 1024 == 0)
        return QStringLiteral("%1 KiB").arg(bytes / 1024);
    return QStringLiteral("%1 bytes").arg(bytes);
}

QString durationText(std::chrono::milliseconds duration)
{
    if (duration.count() % 1000 == 0)
        return QStringLiteral("%1 s").arg(duration.count() / 1000);
    return QStringLiteral("%1 ms").arg(duration.count());
}

// One request, from its first hop to its completion; the easy handle's private pointer.
struct Transfer
{
    CURL *easy = nullptr;
    curl_slist *headers = nullptr;
    DataTaskRequest request;
    SessionOptions options;
    DataTaskCompletion completion;
    QByteArray body;
    qint64 headerBytes = 0;
    bool headersComplete = false;
    bool connected = false;
    QElapsedTimer hopStarted;
    QString breach; // which limit ended the transfer, when one did
    int redirects = 0;

    bool isCancelled() const { return request.options.cancelled && request.options.cancelled->load(); }
};

// The notifiers of one socket curl asked us to watch.
struct SocketWatch
{
    QSocketNotifier *read = nullptr;
    QSocketNotifier *write = nullptr;
};

// Lives on the delivery thread; owns the multi handle and every transfer.
class SessionContext final : public QObject
{
public:
    ~SessionContext() override;

    void start(DataTaskRequest request, const SessionOptions &options, DataTaskCompletion completion);

    // Shared with the session, which outlives this object.
    std::shared_ptr<std::atomic<quint64>> finishedTasks = std::make_shared<std::atomic<quint64>>(0);

private:
    CURLM *multi();
    void configureHop(Transfer &transfer);
    void socketAction(curl_socket_t socket, int events);
    void collectFinished();
    void finish(Transfer *transfer, CURLcode result);
    bool followRedirect(Transfer &transfer);
    void end(Transfer *transfer, DataTaskResult result);

    static int onSocket(CURL *easy, curl_socket_t socket, int what, void *context, void *watch);
    static int onTimer(CURLM *multi, long timeoutMs, void *context);
    static size_t onHeader(char *data, size_t size, size_t count, void *transfer);
    static size_t onBody(char *data, size_t size, size_t count, void *transfer);
    static int onProgress(void *transfer, curl_off_t, curl_off_t, curl_off_t, curl_off_t);
    static int onConnected(void *transfer, char *, char *, int, int);

    CURLM *m_multi = nullptr;
    CURLSH *m_share = nullptr;
    QTimer *m_timer = nullptr;
    std::unordered_set<Transfer *> m_transfers;
    std::unordered_set<SocketWatch *> m_watches;
};

SessionContext::~SessionContext()
{
    for (Transfer *transfer : m_transfers) {
        curl_multi_remove_handle(m_multi, transfer->easy);
        curl_easy_cleanup(transfer->easy);
        curl_slist_free_all(transfer->headers);
        delete transfer;
    }
    if (m_multi)
        curl_multi_cleanup(m_multi);
    if (m_share)
        curl_share_cleanup(m_share);
    // The notifiers are children of this object.
    for (SocketWatch *watch : m_watches)
        delete watch;
}

CURLM *SessionContext::multi()
{
    if (m_multi)
        return m_multi;
    m_multi = curl_multi_init();
    curl_multi_setopt(m_multi, CURLMOPT_SOCKETFUNCTION, &SessionContext::onSocket);
    curl_multi_setopt(m_multi, CURLMOPT_SOCKETDATA, this);
    curl_multi_setopt(m_multi, CURLMOPT_TIMERFUNCTION, &SessionContext::onTimer);
    curl_multi_setopt(m_multi, CURLMOPT_TIMERDATA, this);
    curl_multi_setopt(m_multi, CURLMOPT_MAXCONNECTS, kMaxIdleConnections);
    // The multi handle keeps connections across requests; TLS sessions are kept per easy handle unless
    // shared, and every request has a fresh one. Only this thread uses the share, so it needs no locks.
    m_share = curl_share_init();
    curl_share_setopt(m_share, CURLSHOPT_SHARE, CURL_LOCK_DATA_SSL_SESSION);
    m_timer = new QTimer(this);
    m_timer->setSingleShot(true);
    connect(m_timer, &QTimer::timeout, this, [this] { socketAction(CURL_SOCKET_TIMEOUT, 0); });
    return m_multi;
}

void SessionContext::start(DataTaskRequest request, const SessionOptions &options, DataTaskCompletion completion)
{
    auto *transfer = new Transfer{};
    transfer->request = std::move(request);
    transfer->options = options;
    transfer->completion = std::move(completion);
    if (transfer->isCancelled()) {
        end(transfer, {DataTaskResult::End::Cancelled, 0, {}});
        return;
    }
    CURLM *const transfers = multi();
    CURL *easy = curl_easy_init();
    transfer->easy = easy;
    m_transfers.insert(transfer);

    curl_easy_setopt(easy, CURLOPT_PRIVATE, transfer);
    curl_easy_setopt(easy, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(easy, CURLOPT_SHARE, m_share);
    curl_easy_setopt(easy, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(easy, CURLOPT_FOLLOWLOCATION, 0L); // decided per hop in followRedirect()
    curl_easy_setopt(easy, CURLOPT_TCP_KEEPALIVE, 1L);
    // "gzip, deflate", as Qt offered; curl decodes, and the body limit counts the decoded bytes.
    curl_easy_setopt(easy, CURLOPT_ACCEPT_ENCODING, "gzip, deflate");

    // Trust: the system roots, looked up by hash as a handshake needs them rather than read as a whole
    // bundle, plus the extra CAs. Verification is never turned off.
    curl_easy_setopt(easy, CURLOPT_CAINFO, nullptr);
    curl_easy_setopt(easy, CURLOPT_CAPATH, "/etc/ssl/certs");
    if (!options.extraCaPem.isEmpty()) {
        curl_blob blob{const_cast<char *>(options.extraCaPem.constData()),
                       static_cast<size_t>(options.extraCaPem.size()), CURL_BLOB_COPY};
        curl_easy_setopt(easy, CURLOPT_CAINFO_BLOB, &blob);
    }
    curl_easy_setopt(easy, CURLOPT_SSL_VERIFYPEER, 1L);
    curl_easy_setopt(easy, CURLOPT_SSL_VERIFYHOST, 2L);
    curl_easy_setopt(easy, CURLOPT_SSLVERSION, static_cast<long>(CURL_SSLVERSION_TLSv1_2));

    // Bounds against whatever the server sends.
    const long inactivitySeconds =
        std::max<long>(1, static_cast<long>((options.inactivityTimeout.count() + 999) / 1000));
    curl_easy_setopt(easy, CURLOPT_LOW_SPEED_LIMIT, 1L);
    curl_easy_setopt(easy, CURLOPT_LOW_SPEED_TIME, inactivitySeconds);
    curl_easy_setopt(easy, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(options.connectTimeout.count()));
    curl_easy_setopt(easy, CURLOPT_MAXFILESIZE_LARGE, static_cast<curl_off_t>(options.maxBodyBytes));
    curl_easy_setopt(easy, CURLOPT_HEADERFUNCTION, &SessionContext::onHeader);
    curl_easy_setopt(easy, CURLOPT_HEADERDATA, transfer);
    curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, &SessionContext::onBody);
    curl_easy_setopt(easy, CURLOPT_WRITEDATA, transfer);
    curl_easy_setopt(easy, CURLOPT_NOPROGRESS, 0L);
    curl_easy_setopt(easy, CURLOPT_XFERINFOFUNCTION, &SessionContext::onProgress);
    curl_easy_setopt(easy, CURLOPT_XFERINFODATA, transfer);
    curl_easy_setopt(easy, CURLOPT_PREREQFUNCTION, &SessionContext::onConnected);
    curl_easy_setopt(easy, CURLOPT_PREREQDATA, transfer);

    const RequestOptions &choices = transfer->request.options;
    switch (choices.family) {
    case AddressFamily::Any:
        curl_easy_setopt(easy, CURLOPT_IPRESOLVE, static_cast<long>(CURL_IPRESOLVE_WHATEVER));
        break;
    case AddressFamily::IPv4:
        curl_easy_setopt(easy, CURLOPT_IPRESOLVE, static_cast<long>(CURL_IPRESOLVE_V4));
        break;
    case AddressFamily::IPv6:
        curl_easy_setopt(easy, CURLOPT_IPRESOLVE, static_cast<long>(CURL_IPRESOLVE_V6));
        break;
    }
    if (!choices.interface.isEmpty())
        curl_easy_setopt(easy, CURLOPT_INTERFACE, choices.interface.toUtf8().constData());
    if (!choices.useProxy)
        curl_easy_setopt(easy, CURLOPT_NOPROXY, "*");

    configureHop(*transfer);
    curl_multi_add_handle(transfers, easy);
}

// What changes from one hop of a redirect to the next: the URL, the method, the headers and the body.
void SessionContext::configureHop(Transfer &transfer)
{
    CURL *easy = transfer.easy;
    const DataTaskRequest &request = transfer.request;
    curl_easy_setopt(easy, CURLOPT_URL, request.url.toEncoded().constData());
    curl_slist_free_all(transfer.headers);
    transfer.headers = nullptr;
    for (const QByteArray &header : request.headers)
        transfer.headers = curl_slist_append(transfer.headers, header.constData());
    // curl would otherwise ask for "100-continue" before a body over 1 MiB, costing a round trip.
    transfer.headers = curl_slist_append(transfer.headers, "Expect:");
    curl_easy_setopt(easy, CURLOPT_HTTPHEADER, transfer.headers);
    if (request.body) {
        curl_easy_setopt(easy, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(request.body->size()));
        curl_easy_setopt(easy, CURLOPT_COPYPOSTFIELDS, request.body->constData());
    } else {
        curl_easy_setopt(easy, CURLOPT_HTTPGET, 1L);
    }
    transfer.body.clear();
    transfer.headerBytes = 0;
    transfer.headersComplete = false;
    transfer.connected = false;
    transfer.hopStarted.start();
}

int SessionContext::onSocket(CURL *, curl_socket_t socket, int what, void *context, void *watchData)
{
    auto *self = static_cast<SessionContext *>(context);
    auto *watch = static_cast<SocketWatch *>(watchData);
    if (what == CURL_POLL_REMOVE) {
        if (watch) {
            // Possibly called from one of these notifiers' own signals: they go once it has returned.
            for (QSocketNotifier *notifier : {watch->read, watch->write}) {
                notifier->setEnabled(false);
                notifier->deleteLater();
            }
            self->m_watches.erase(watch);
            delete watch;
        }
        return 0;
    }
    if (!watch) {
        watch = new SocketWatch;
        watch->read = new QSocketNotifier(socket, QSocketNotifier::Read, self);
        watch->write = new QSocketNotifier(socket, QSocketNotifier::Write, self);
        QObject::connect(watch->read, &QSocketNotifier::activated, self,
                         [self, socket] { self->socketAction(socket, CURL_CSELECT_IN); });
        QObject::connect(watch->write, &QSocketNotifier::activated, self,
                         [self, socket] { self->socketAction(socket, CURL_CSELECT_OUT); });
        curl_multi_assign(self->m_multi, socket, watch);
        self->m_watches.insert(watch);
    }
    watch->read->setEnabled(what == CURL_POLL_IN || what == CURL_POLL_INOUT);
    watch->write->setEnabled(what == CURL_POLL_OUT || what == CURL_POLL_INOUT);
    return 0;
}

int SessionContext::onTimer(CURLM *, long timeoutMs, void *context)
{
    QTimer *timer = static_cast<SessionContext *>(context)->m_timer;
    if (timeoutMs < 0)
        timer->stop();
    else
        timer->start(static_cast<int>(std::min<long>(timeoutMs, std::numeric_limits<int>::max())));
    return 0;
}

size_t SessionContext::onHeader(char *data, size_t size, size_t count, void *transferData)
{
    auto *transfer = static_cast<Transfer *>(transferData);
    const size_t bytes = size * count;
    transfer->headerBytes += static_cast<qint64>(bytes);
    if (transfer->headerBytes > transfer->options.maxHeaderBytes) {
        transfer->breach = QStringLiteral("the reply's headers passed ") + sizeText(transfer->options.maxHeaderBytes);
        return 0;
    }
    if (bytes > 0 && bytes <= 2 && (data[0] == '\r' || data[0] == '\n')) {
        long status = 0;
        curl_easy_getinfo(transfer->easy, CURLINFO_RESPONSE_CODE, &status);
        // An interim 1xx reply is followed by the real one.
        transfer->headersComplete = status >= 200;
    }
    return bytes;
}

size_t SessionContext::onBody(char *data, size_t size, size_t count, void *transferData)
{
    auto *transfer = static_cast<Transfer *>(transferData);
    const size_t bytes = size * count;
    if (transfer->body.size() + static_cast<qint64>(bytes) > transfer->options.maxBodyBytes) {
        transfer->breach = QStringLiteral("the reply's body passed ") + sizeText(transfer->options.maxBodyBytes);
        return 0;
    }
    transfer->body.append(data, static_cast<qsizetype>(bytes));
    return bytes;
}

// Called as data moves and about once a second while none does (the no-progress check keeps it awake).
int SessionContext::onProgress(void *transferData, curl_off_t, curl_off_t, curl_off_t, curl_off_t)
{
    auto *transfer = static_cast<Transfer *>(transferData);
    // Headers trickled a byte at a time never look stalled: they get the no-progress time in all.
    if (transfer->connected && !transfer->headersComplete &&
        transfer->hopStarted.elapsed() > transfer->options.inactivityTimeout.count()) {
        transfer->breach = transfer->headerBytes == 0 ? QStringLiteral("no progress for ")
                                                      : QStringLiteral("the reply's headers did not end within ");
        transfer->breach += durationText(transfer->options.inactivityTimeout);
        return 1;
    }
    return 0;
}

int SessionContext::onConnected(void *transferData, char *, char *, int, int)
{
    static_cast<Transfer *>(transferData)->connected = true;
    return CURL_PREREQFUNC_OK;
}

void SessionContext::socketAction(curl_socket_t socket, int events)
{
    int running = 0;
    curl_multi_socket_action(m_multi, socket, events, &running);
    collectFinished();
}

void SessionContext::collectFinished()
{
    int queued = 0;
    while (CURLMsg *message = curl_multi_info_read(m_multi, &queued)) {
        if (message->msg != CURLMSG_DONE)
            continue;
        Transfer *transfer = nullptr;
        curl_easy_getinfo(message->easy_handle, CURLINFO_PRIVATE, &transfer);
        finish(transfer, message->data.result);
    }
}

void SessionContext::finish(Transfer *transfer, CURLcode result)
{
    if (lcTransport().isDebugEnabled()) {
        long status = 0;
        long connects = 0;
        curl_easy_getinfo(transfer->easy, CURLINFO_RESPONSE_CODE, &status);
        curl_easy_getinfo(transfer->easy, CURLINFO_NUM_CONNECTS, &connects);
        qCDebug(lcTransport, "%s ended: %s, status %ld, %ld new connection(s), %lld ms",
                transfer->request.method.constData(), curl_easy_strerror(result), status, connects,
                static_cast<long long>(transfer->hopStarted.elapsed()));
    }
    curl_multi_remove_handle(m_multi, transfer->easy);
    if (result == CURLE_OK) {
        if (followRedirect(*transfer)) {
            curl_multi_add_handle(m_multi, transfer->easy);
            return;
        }
        if (transfer->breach.isEmpty()) {
            long status = 0;
            curl_easy_getinfo(transfer->easy, CURLINFO_RESPONSE_CODE, &status);
            end(transfer, {DataTaskResult::End::Answered, static_cast<int>(status), std::move(transfer->body)});
            return;
        }
    } else if (transfer->breach.isEmpty()) {
        if (result == CURLE_FILESIZE_EXCEEDED)
            transfer->breach = QStringLiteral("the reply's body passed ") + sizeText(transfer->options.maxBodyBytes);
        else if (result == CURLE_OUT_OF_MEMORY && transfer->connected && !transfer->headersComplete)
            // curl's own limit on one header line (100 KiB): it buffers a line before handing it over.
            transfer->breach =
                QStringLiteral("the reply's headers passed ") + sizeText(transfer->options.maxHeaderBytes);
        else if (result == CURLE_OPERATION_TIMEDOUT && transfer->connected)
            transfer->breach = QStringLiteral("no progress for ") + durationText(transfer->options.inactivityTimeout);
        else if (result == CURLE_OPERATION_TIMEDOUT)
            transfer->breach = QStringLiteral("no connection within ") + durationText(transfer->options.connectTimeout);
    }
    if (!transfer->breach.isEmpty())
        console::logLine(QStringLiteral("vennacott-ddns: no answer: ") + transfer->breach);
    end(transfer, {DataTaskResult::End::NoAnswer, 0, {}});
}

// Follows a redirect within the origin, as a browser would change the method; sets `breach` when the
// redirect leads elsewhere (where the body or the token must not go) or goes on too long.
bool SessionContext::followRedirect(Transfer &transfer)
{
    long status = 0;
    curl_easy_getinfo(transfer.easy, CURLINFO_RESPONSE_CODE, &status);
    const char *location = nullptr;
    curl_easy_getinfo(transfer.easy, CURLINFO_REDIRECT_URL, &location);
    if (!location || (status != 301 && status != 302 && status != 303 && status != 307 && status != 308))
        return false;
    const QUrl target = QUrl::fromEncoded(QByteArray(location), QUrl::StrictMode);
    if (!target.isValid() || !sameOrigin(target, transfer.request.url)) {
        transfer.breach = QStringLiteral("a redirect to another origin was not followed");
        return false;
    }
    if (++transfer.redirects > kMaxRedirects) {
        transfer.breach = QStringLiteral("more than %1 redirects").arg(kMaxRedirects);
        return false;
    }
    DataTaskRequest &request = transfer.request;
    if (status == 303 || ((status == 301 || status == 302) && request.method == "POST")) {
        request.method = QByteArrayLiteral("GET");
        request.body.reset();
        request.headers.removeIf([](const QByteArray &header) { return header.startsWith("Content-Type:"); });
    }
    request.url = target;
    configureHop(transfer);
    return true;
}

void SessionContext::end(Transfer *transfer, DataTaskResult result)
{
    if (transfer->easy) {
        m_transfers.erase(transfer);
        curl_easy_cleanup(transfer->easy);
        curl_slist_free_all(transfer->headers);
    }
    DataTaskCompletion completion = std::move(transfer->completion);
    delete transfer;
    completion(std::move(result));
    ++*finishedTasks;
}

class DeliveryThread final : public QThread
{
public:
    explicit DeliveryThread(SessionContext *context)
        : m_context(context)
    {
        setObjectName(QStringLiteral("vennacott-delivery"));
    }

protected:
    void run() override
    {
        exec();
        // The transfers, the notifiers and the timer are destroyed on the thread they live on.
        delete m_context;
    }

private:
    SessionContext *m_context;
};

} // namespace

struct UrlSession::Private
{
    mutable std::mutex mutex;
    SessionOptions options;
    SessionContext *context = nullptr;
    std::shared_ptr<std::atomic<quint64>> finishedTasks;
    std::unique_ptr<DeliveryThread> thread;
    bool shutDown = false;
};

UrlSession &UrlSession::shared()
{
    // Never destroyed: the delivery thread may still be delivering while static objects are torn down.
    static UrlSession *session = new UrlSession;
    return *session;
}

UrlSession::UrlSession()
    : d(std::make_unique<Private>())
{
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
    d->context = new SessionContext;
    d->finishedTasks = d->context->finishedTasks;
    d->thread = std::make_unique<DeliveryThread>(d->context);
    d->context->moveToThread(d->thread.get());
    d->thread->start();
}

UrlSession::~UrlSession()
{
    shutdown();
}

void UrlSession::setOptions(SessionOptions options)
{
    const std::lock_guard lock(d->mutex);
    d->options = std::move(options);
}

SessionOptions UrlSession::options() const
{
    const std::lock_guard lock(d->mutex);
    return d->options;
}

void UrlSession::dataTask(DataTaskRequest request, DataTaskCompletion completion)
{
    const std::lock_guard lock(d->mutex);
    if (d->shutDown)
        return;
    SessionContext *context = d->context;
    QMetaObject::invokeMethod(
        context,
        [context, request = std::move(request), options = d->options, completion = std::move(completion)]() mutable {
            context->start(std::move(request), options, std::move(completion));
        },
        Qt::QueuedConnection);
}

void UrlSession::deliver(std::function<void()> work)
{
    const std::lock_guard lock(d->mutex);
    if (!d->shutDown)
        QMetaObject::invokeMethod(d->context, std::move(work), Qt::QueuedConnection);
}

QThread *UrlSession::deliveryThread() const
{
    return d->thread.get();
}

quint64 UrlSession::finishedTaskCount() const
{
    return d->finishedTasks->load();
}

void UrlSession::shutdown()
{
    {
        const std::lock_guard lock(d->mutex);
        if (d->shutDown)
            return;
        d->shutDown = true;
    }
    d->thread->quit();
    d->thread->wait();
}

} // namespace vennacott
