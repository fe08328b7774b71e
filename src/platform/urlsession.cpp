// The shared URL session: one network access manager on its own delivery thread.
#include "urlsession.h"

#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QPointer>
#include <QSslConfiguration>
#include <QThread>

#include <atomic>
#include <mutex>

namespace vennacott {
namespace {

// Qt gives the connections to an origin one OpenSSL context, and OpenSSL keeps every session ticket a
// server sends in that context's cache until the ticket expires, for hours with many servers: one or two
// tickets of a few kilobytes per new connection, which nothing ever looks up. A client whose server closes
// idle connections, or drops them, would grow by them for as long as they live. After this many new
// connections the session lets Qt start over with a fresh context, once nothing is in flight.
constexpr int kHandshakesPerTlsContext = 16;

// Errors that Qt raises for a reply the server did send (4xx and 5xx statuses). Network and proxy
// errors, an unknown scheme and a broken protocol stream are failures of the exchange itself.
bool isDeliveredReply(const QNetworkReply &reply)
{
    const QNetworkReply::NetworkError error = reply.error();
    if (error == QNetworkReply::NoError)
        return true;
    if (error < QNetworkReply::ContentAccessDenied || error == QNetworkReply::ProtocolUnknownError ||
        error == QNetworkReply::ProtocolFailure)
        return false;
    return reply.attribute(QNetworkRequest::HttpStatusCodeAttribute).isValid();
}

// Lives on the delivery thread; owns the access manager and every reply.
class SessionContext final : public QObject
{
public:
    void start(QNetworkRequest request, const QByteArray &method, const std::optional<QByteArray> &body,
               const SessionOptions &options, DataTaskCompletion completion);

    // Shared with the session, which outlives this object.
    std::shared_ptr<std::atomic<quint64>> finishedTasks = std::make_shared<std::atomic<quint64>>(0);

private:
    QNetworkAccessManager &manager(const SessionOptions &options);

    void taskEnded();

    QNetworkAccessManager *m_manager = nullptr;
    int m_inFlight = 0;
    int m_handshakes = 0;
    std::optional<QSslConfiguration> m_tls;
    QList<QSslCertificate> m_tlsExtraCas;
};

QNetworkAccessManager &SessionContext::manager(const SessionOptions &options)
{
    if (!m_manager) {
        m_manager = new QNetworkAccessManager(this);
        m_manager->setRedirectPolicy(QNetworkRequest::NoLessSafeRedirectPolicy);
    }
    if (!options.extraCaCertificates.isEmpty() && (!m_tls || m_tlsExtraCas != options.extraCaCertificates)) {
        // addCaCertificates() would drop the system roots; the extra ones are added to them instead.
        QSslConfiguration tls = QSslConfiguration::defaultConfiguration();
        tls.setCaCertificates(QSslConfiguration::systemCaCertificates() + options.extraCaCertificates);
        m_tls = tls;
        m_tlsExtraCas = options.extraCaCertificates;
        m_manager->clearConnectionCache();
    }
    return *m_manager;
}

void SessionContext::start(QNetworkRequest request, const QByteArray &method, const std::optional<QByteArray> &body,
                           const SessionOptions &options, DataTaskCompletion completion)
{
    QNetworkAccessManager &nam = manager(options);
    if (m_tls)
        request.setSslConfiguration(*m_tls);
    request.setTransferTimeout(static_cast<int>(options.inactivityTimeout.count()));
    request.setAttribute(QNetworkRequest::CacheLoadControlAttribute, QNetworkRequest::AlwaysNetwork);
    request.setAttribute(QNetworkRequest::CacheSaveControlAttribute, false);

    QNetworkReply *reply =
        body ? nam.sendCustomRequest(request, method, *body) : nam.sendCustomRequest(request, method);
    // Back-pressure: Qt reads no further than this ahead of us, so the size limit bounds memory.
    reply->setReadBufferSize(64 * 1024);
    ++m_inFlight;
    QObject::connect(reply, &QNetworkReply::encrypted, this, [this] { ++m_handshakes; });

    struct Transfer
    {
        QByteArray body;
        bool overLimit = false;
    };
    auto transfer = std::make_shared<Transfer>();
    const qint64 limit = options.maxBodyBytes;
    auto abortIfOverLimit = [reply, transfer, limit](qint64 announced) {
        if (!transfer->overLimit && announced > limit) {
            transfer->overLimit = true;
            reply->abort();
        }
    };
    QObject::connect(reply, &QNetworkReply::metaDataChanged, reply, [reply, abortIfOverLimit] {
        const QVariant length = reply->header(QNetworkRequest::ContentLengthHeader);
        if (length.isValid())
            abortIfOverLimit(length.toLongLong());
    });
    QObject::connect(reply, &QNetworkReply::readyRead, reply, [reply, transfer, abortIfOverLimit] {
        if (transfer->overLimit)
            return;
        transfer->body += reply->readAll();
        abortIfOverLimit(transfer->body.size());
    });
    QObject::connect(reply, &QNetworkReply::finished, reply,
                     [this, reply, transfer, limit, completion = std::move(completion)] {
                         reply->deleteLater();
                         if (!transfer->overLimit && reply->isOpen()) {
                             transfer->body += reply->readAll();
                             transfer->overLimit = transfer->body.size() > limit;
                         }
                         if (transfer->overLimit || !isDeliveredReply(*reply))
                             completion(std::nullopt, 0);
                         else
                             completion(std::move(transfer->body),
                                        reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt());
                         ++*finishedTasks;
                         taskEnded();
                     });
}

void SessionContext::taskEnded()
{
    if (--m_inFlight > 0 || m_handshakes < kHandshakesPerTlsContext)
        return;
    // Drops Qt's cached connections and the thread they live on, and with them their TLS context.
    m_manager->clearConnectionCache();
    m_handshakes = 0;
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
        // The access manager and its replies are destroyed on the thread they live on.
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

void UrlSession::dataTask(QNetworkRequest request, QByteArray method, std::optional<QByteArray> body,
                          DataTaskCompletion completion)
{
    const std::lock_guard lock(d->mutex);
    if (d->shutDown)
        return;
    SessionContext *context = d->context;
    QMetaObject::invokeMethod(
        context,
        [context, request = std::move(request), method = std::move(method), body = std::move(body),
         options = d->options, completion = std::move(completion)]() mutable {
            context->start(std::move(request), method, body, options, std::move(completion));
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
