// The shared URL session: one network access manager on its own delivery thread.
#pragma once

#include <QByteArray>
#include <QList>
#include <QNetworkRequest>
#include <QSslCertificate>

#include <chrono>
#include <functional>
#include <memory>
#include <optional>

class QThread;

namespace vennacott {

// The outcome of a data task: the reply body and its HTTP status, or no body when the exchange failed at
// the transport level (no connection, TLS failure, timeout, a body cut short or over the size limit). An
// HTTP error status with a body is a delivered reply, not a failure.
using DataTaskCompletion = std::function<void(std::optional<QByteArray> body, int httpStatus)>;

struct SessionOptions
{
    // How long a request may go without progress before it fails.
    std::chrono::milliseconds inactivityTimeout{60'000};
    // Larger replies count as transport failures: a hostile server must not make us buffer without limit.
    qint64 maxBodyBytes = 1024 * 1024;
    // Trusted in addition to the system roots; never instead of them.
    QList<QSslCertificate> extraCaCertificates;
};

class UrlSession final
{
public:
    static UrlSession &shared();

    UrlSession();
    ~UrlSession();
    UrlSession(const UrlSession &) = delete;
    UrlSession &operator=(const UrlSession &) = delete;

    // Applies to tasks started afterwards. Set once, before the first task, in the product.
    void setOptions(SessionOptions options);
    SessionOptions options() const;

    // Starts one exchange on the delivery thread and returns at once. `completion` runs on the delivery
    // thread, exactly once, unless the session has been shut down.
    void dataTask(QNetworkRequest request, QByteArray method, std::optional<QByteArray> body,
                  DataTaskCompletion completion);

    // Runs `work` on the delivery thread, for answers decided without a request.
    void deliver(std::function<void()> work);

    QThread *deliveryThread() const;

    // How many tasks have ended, with or without calling their completion. Lets tests and the benchmark
    // tell "no completion" from "not finished yet".
    quint64 finishedTaskCount() const;

    // Stops the delivery thread; tasks in flight end without their completions. Called once at exit.
    void shutdown();

private:
    struct Private;
    std::unique_ptr<Private> d;
};

} // namespace vennacott
