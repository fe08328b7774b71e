// The benchmark's update server: HTTPS/1.1 on loopback, written on libssl so that it can count TCP
// connections and tell full TLS handshakes from resumed ones. Runs as its own process so that its CPU
// never counts as the client's.
//
//   vennacott-bench-server CERT KEY [PORT]
//
// Prints "port N" once listening. Keeps idle connections open. Reads commands on standard input, one per line:
//   stats         print "stats connections C full F resumed R requests Q answered A dropped D stalled S
//                 restarts T" and reset them
//   faults D S R  from now on, of the requests that follow, close the connection of every Dth one unanswered,
//                 never answer every Sth one (until the client gives up and closes), and at the Rth one close
//                 every connection and the listener and listen again on the same port, as a restart would
//                 (0 turns a fault off)
// It ends at the end of its input, so it never outlives the benchmark that started it. With
// VENNACOTT_BENCH_SERVER_TRACE set it writes one line per connection event on standard error.
#include <algorithm>
#include <arpa/inet.h>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <map>
#include <memory>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <poll.h>
#include <string>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

constexpr char kBody[] = R"({"ip":"127.0.0.1"})";
constexpr std::size_t kMaxRequestBytes = 16 * 1024;

struct Counters
{
    long connections = 0;
    long fullHandshakes = 0;
    long resumedHandshakes = 0;
    long requests = 0;
    long answered = 0; // replies written whole
    long dropped = 0;
    long stalled = 0;
    long restarts = 0;
};

// Which requests fail, counted from the "faults" command on.
struct Faults
{
    long dropEvery = 0;
    long stallEvery = 0;
    long restartAt = 0;
    long seen = 0;
};

struct Connection
{
    int fd = -1;
    SSL *ssl = nullptr;
    bool handshakeDone = false;
    std::string in;
    std::string out;
    bool closeAfterWrite = false;
    bool stalled = false; // holds a request it will never answer
    int unflushedReplies = 0;
};

bool g_trace = false;

void trace(const char *event, int fd)
{
    if (!g_trace)
        return;
    const auto now = std::chrono::duration_cast<std::chrono::microseconds>(Clock::now().time_since_epoch()).count();
    std::fprintf(stderr, "%lld.%06lld fd %d %s\n", static_cast<long long>(now / 1000000),
                 static_cast<long long>(now % 1000000), fd, event);
}

[[noreturn]] void fail(const char *what)
{
    std::fprintf(stderr, "vennacott-bench-server: %s: %s\n", what, std::strerror(errno));
    ERR_print_errors_fp(stderr);
    std::exit(1);
}

void setNonBlocking(int fd)
{
    const int flags = fcntl(fd, F_GETFL, 0);
    if (flags < 0 || fcntl(fd, F_SETFL, flags | O_NONBLOCK) < 0)
        fail("fcntl");
}

class Server
{
public:
    Server(const char *cert, const char *key, int port);
    void run();

private:
    void acceptAll();
    void service(Connection &connection, short revents);
    void handshake(Connection &connection);
    void readRequests(Connection &connection);
    void flush(Connection &connection);
    void close(Connection &connection, bool notifyPeer);
    bool command(const std::string &line);
    void createContext();
    void listenOn(int port);
    void restart();

    const char *m_cert;
    const char *m_key;
    SSL_CTX *m_ctx = nullptr;
    int m_listener = -1;
    std::map<int, std::unique_ptr<Connection>> m_connections;
    Counters m_counters;
    std::string m_commandBuffer;
    bool m_running = true;
    Faults m_faults;
    bool m_restartDue = false;
    int m_port = 0;
};

Server::Server(const char *cert, const char *key, int port)
    : m_cert(cert)
    , m_key(key)
{
    createContext();
    listenOn(port);
    std::printf("port %d\n", m_port);
    std::fflush(stdout);
}

void Server::createContext()
{
    m_ctx = SSL_CTX_new(TLS_server_method());
    if (!m_ctx || SSL_CTX_use_certificate_chain_file(m_ctx, m_cert) != 1 ||
        SSL_CTX_use_PrivateKey_file(m_ctx, m_key, SSL_FILETYPE_PEM) != 1)
        fail("certificate");
    SSL_CTX_set_min_proto_version(m_ctx, TLS1_2_VERSION);
    if (std::getenv("VENNACOTT_BENCH_SERVER_TLS12"))
        SSL_CTX_set_max_proto_version(m_ctx, TLS1_2_VERSION);
    // Resumption as a typical server offers it: TLS 1.3 tickets, and a session cache for TLS 1.2.
    static const unsigned char context[] = "vennacott-bench";
    SSL_CTX_set_session_id_context(m_ctx, context, sizeof context - 1);
    SSL_CTX_set_session_cache_mode(m_ctx, SSL_SESS_CACHE_SERVER);
}

void Server::listenOn(int port)
{
    m_listener = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (m_listener < 0)
        fail("socket");
    const int one = 1;
    setsockopt(m_listener, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(static_cast<uint16_t>(port));
    if (bind(m_listener, reinterpret_cast<sockaddr *>(&address), sizeof address) < 0)
        fail("bind");
    if (listen(m_listener, 64) < 0)
        fail("listen");
    setNonBlocking(m_listener);
    socklen_t length = sizeof address;
    getsockname(m_listener, reinterpret_cast<sockaddr *>(&address), &length);
    m_port = ntohs(address.sin_port);
}

// What a restarted server looks like to its clients: every connection ends without a word, and the port
// answers again at once, with the same certificate and new session keys.
void Server::restart()
{
    m_restartDue = false;
    ++m_counters.restarts;
    while (!m_connections.empty())
        close(*m_connections.begin()->second, false);
    ::close(m_listener);
    SSL_CTX_free(m_ctx);
    createContext();
    listenOn(m_port);
    trace("restarted", m_listener);
}

void Server::run()
{
    setNonBlocking(STDIN_FILENO);
    while (m_running) {
        std::vector<pollfd> fds;
        fds.push_back({STDIN_FILENO, POLLIN, 0});
        fds.push_back({m_listener, POLLIN, 0});
        for (const auto &[fd, connection] : m_connections)
            fds.push_back({fd, static_cast<short>(POLLIN | (connection->out.empty() ? 0 : POLLOUT)), 0});
        if (poll(fds.data(), fds.size(), -1) < 0) {
            if (errno == EINTR)
                continue;
            fail("poll");
        }
        if (fds[0].revents) {
            char buffer[512];
            const ssize_t got = read(STDIN_FILENO, buffer, sizeof buffer);
            if (got == 0 || (got < 0 && errno != EAGAIN))
                return;
            if (got > 0)
                m_commandBuffer.append(buffer, static_cast<std::size_t>(got));
            std::size_t end;
            while (m_running && (end = m_commandBuffer.find('\n')) != std::string::npos) {
                const std::string line = m_commandBuffer.substr(0, end);
                m_commandBuffer.erase(0, end + 1);
                m_running = command(line);
            }
        }
        if (fds[1].revents)
            acceptAll();
        for (std::size_t i = 2; i < fds.size(); ++i) {
            if (!fds[i].revents)
                continue;
            const auto it = m_connections.find(fds[i].fd);
            if (it != m_connections.end())
                service(*it->second, fds[i].revents);
        }
        if (m_restartDue)
            restart();
    }
}

bool Server::command(const std::string &line)
{
    if (line == "stats") {
        std::printf("stats connections %ld full %ld resumed %ld requests %ld answered %ld dropped %ld stalled %ld "
                    "restarts %ld\n",
                    m_counters.connections, m_counters.fullHandshakes, m_counters.resumedHandshakes,
                    m_counters.requests, m_counters.answered, m_counters.dropped, m_counters.stalled,
                    m_counters.restarts);
        std::fflush(stdout);
        m_counters = Counters{};
    } else if (line.rfind("faults ", 0) == 0) {
        m_faults = Faults{};
        std::sscanf(line.c_str() + 7, "%ld %ld %ld", &m_faults.dropEvery, &m_faults.stallEvery, &m_faults.restartAt);
    } else if (line == "quit") {
        return false;
    } else {
        std::fprintf(stderr, "vennacott-bench-server: unknown command '%s'\n", line.c_str());
    }
    return true;
}

void Server::acceptAll()
{
    for (;;) {
        const int fd = accept4(m_listener, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (fd < 0)
            return;
        const int one = 1;
        setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        auto connection = std::make_unique<Connection>();
        connection->fd = fd;
        connection->ssl = SSL_new(m_ctx);
        SSL_set_fd(connection->ssl, fd);
        SSL_set_accept_state(connection->ssl);
        ++m_counters.connections;
        trace("accepted", fd);
        Connection &added = *connection;
        m_connections.emplace(fd, std::move(connection));
        handshake(added);
    }
}

void Server::service(Connection &connection, short revents)
{
    const int fd = connection.fd;
    if (!connection.handshakeDone) {
        handshake(connection);
    } else {
        if (revents & (POLLIN | POLLHUP | POLLERR))
            readRequests(connection);
        if (m_connections.count(fd) && !connection.out.empty())
            flush(connection);
    }
}

void Server::handshake(Connection &connection)
{
    const int result = SSL_accept(connection.ssl);
    if (result == 1) {
        connection.handshakeDone = true;
        const bool resumed = SSL_session_reused(connection.ssl);
        ++(resumed ? m_counters.resumedHandshakes : m_counters.fullHandshakes);
        trace(resumed ? "resumed handshake" : "full handshake", connection.fd);
        readRequests(connection);
        return;
    }
    const int error = SSL_get_error(connection.ssl, result);
    if (error != SSL_ERROR_WANT_READ && error != SSL_ERROR_WANT_WRITE) {
        ERR_clear_error();
        close(connection, false);
    }
}

void Server::readRequests(Connection &connection)
{
    char buffer[4096];
    for (;;) {
        const int got = SSL_read(connection.ssl, buffer, sizeof buffer);
        if (got > 0) {
            connection.in.append(buffer, static_cast<std::size_t>(got));
            if (connection.in.size() > kMaxRequestBytes) {
                close(connection, false);
                return;
            }
            continue;
        }
        const int error = SSL_get_error(connection.ssl, got);
        if (error == SSL_ERROR_WANT_READ || error == SSL_ERROR_WANT_WRITE)
            break;
        ERR_clear_error();
        close(connection, error == SSL_ERROR_ZERO_RETURN); // the peer closed or the stream broke
        return;
    }
    // Requests without a body (GET), one after another on the same connection.
    std::size_t end;
    while ((end = connection.in.find("\r\n\r\n")) != std::string::npos) {
        const std::string head = connection.in.substr(0, end);
        connection.in.erase(0, end + 4);
        ++m_counters.requests;
        trace("request", connection.fd);
        if (connection.stalled)
            continue;
        // Drops fall halfway between stalls, so that no request is both.
        const long n = ++m_faults.seen;
        if (m_faults.restartAt > 0 && n == m_faults.restartAt) {
            m_restartDue = true;
            return;
        }
        if (m_faults.stallEvery > 0 && n % m_faults.stallEvery == 0) {
            ++m_counters.stalled;
            trace("stalled", connection.fd);
            connection.stalled = true;
            continue;
        }
        if (m_faults.dropEvery > 0 && n % m_faults.dropEvery == m_faults.dropEvery / 2) {
            ++m_counters.dropped;
            close(connection, false);
            return;
        }
        std::string lower = head;
        for (char &c : lower)
            c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        const bool peerCloses = lower.find("\r\nconnection: close") != std::string::npos;
        connection.out +=
            "HTTP/1.1 200 OK\r\nContent-Type: application/json\r\nContent-Length: " + std::to_string(sizeof kBody - 1) +
            "\r\n" + (peerCloses ? "Connection: close\r\n" : "Connection: keep-alive\r\n") + "\r\n" + kBody;
        connection.closeAfterWrite = connection.closeAfterWrite || peerCloses;
        ++connection.unflushedReplies;
    }
    if (!connection.out.empty())
        flush(connection);
}

void Server::flush(Connection &connection)
{
    while (!connection.out.empty()) {
        const int written = SSL_write(connection.ssl, connection.out.data(), static_cast<int>(connection.out.size()));
        if (written <= 0) {
            const int error = SSL_get_error(connection.ssl, written);
            if (error == SSL_ERROR_WANT_WRITE || error == SSL_ERROR_WANT_READ)
                return;
            ERR_clear_error();
            close(connection, false);
            return;
        }
        connection.out.erase(0, static_cast<std::size_t>(written));
    }
    m_counters.answered += connection.unflushedReplies;
    connection.unflushedReplies = 0;
    if (connection.closeAfterWrite)
        close(connection, true);
}

void Server::close(Connection &connection, bool notifyPeer)
{
    if (notifyPeer && connection.handshakeDone)
        SSL_shutdown(connection.ssl); // one close_notify; the peer's answer is not waited for
    SSL_free(connection.ssl);
    const int fd = connection.fd;
    trace(notifyPeer ? "closed with close_notify" : "closed", fd);
    ::close(fd);
    m_connections.erase(fd);
}

} // namespace

int main(int argc, char **argv)
{
    if (argc < 3) {
        std::fprintf(stderr, "usage: %s CERT KEY [PORT]\n", argv[0]);
        return 2;
    }
    std::signal(SIGPIPE, SIG_IGN);
    g_trace = std::getenv("VENNACOTT_BENCH_SERVER_TRACE") != nullptr;
    Server server(argv[1], argv[2], argc > 3 ? std::atoi(argv[3]) : 0);
    server.run();
    return 0;
}
