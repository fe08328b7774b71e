// The shared URL session: libcurl's multi interface on its own delivery thread.
#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QUrl>

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <optional>

class QThread;

namespace vennacott {

enum class AddressFamily { Any, IPv4, IPv6 };

// Choices made per request.
struct RequestOptions
{
    AddressFamily family = AddressFamily::Any;
    // The interface or source address to send from, as curl names them ("if!wg0", "host!2001:db8::1"); empty: any.
    QString interface;
    // False keeps the request off any proxy the environment names (update requests: the service must see
    // this machine's own address).
    bool useProxy = true;
    // Once set before the request starts, it is dropped, without its completion's answer; a request already
    // sent ends as usual (its reply still comes).
    std::shared_ptr<const std::atomic_bool> cancelled;
};

// One exchange as the session sends it. Same-origin redirects are followed; any other ends the exchange.
struct DataTaskRequest
{
    QByteArray method;         // GET or POST
    QUrl url;                  // http or https
    QList<QByteArray> headers; // "Name: value", sent in this order
    std::optional<QByteArray> body;
    RequestOptions options;
};

// How a data task ended: a reply (its HTTP status and body, whatever the status), no answer (no connection,
// TLS failure, timeout, a reply cut short or over a limit, a redirect elsewhere), or cancelled.
struct DataTaskResult
{
    enum class End { Answered, NoAnswer, Cancelled };
    End end = End::NoAnswer;
    int httpStatus = 0;
    QByteArray body;
};
using DataTaskCompletion = std::function<void(DataTaskResult result)>;

struct SessionOptions
{
    // How long a request may go without progress before it fails; whole seconds on the wire (at least one),
    // and the time the reply's headers have to arrive in full.
    std::chrono::milliseconds inactivityTimeout{60'000};
    std::chrono::milliseconds connectTimeout{30'000};
    // Larger replies count as transport failures: a hostile server must not make us buffer without limit.
    // The body counts after decoding; the headers count all their lines together.
    qint64 maxBodyBytes = 1024 * 1024;
    qint64 maxHeaderBytes = 64 * 1024;
    // PEM certificates trusted in addition to the system roots; never instead of them.
    QByteArray extraCaPem;
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
    void dataTask(DataTaskRequest request, DataTaskCompletion completion);

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
