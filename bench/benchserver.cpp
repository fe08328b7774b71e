// The benchmark's update server: HTTPS/1.1 on loopback, written on libssl so that it can count TCP
// connections and tell full TLS handshakes from resumed ones. Runs as its own process so that its CPU
// never counts as the client's.
//
//   vennacott-bench-server CERT KEY [PORT]
//
// Prints "port N" once listening, and keeps idle connections open. Reads commands on standard input:
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
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <map>
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

constexpr char kReply[] = "HTTP/1.1 200 OK\r\nContent-Type: application/json\r\nContent-Length: 18\r\n"
                          "Connection: keep-alive\r\n\r\n{\"ip\":\"127.0.0.1\"}";
constexpr std::size_t kMaxRequestBytes = 16 * 1024;

struct Counters
{
    long connections, full, resumed, requests, answered, dropped, stalled, restarts;
};

struct Connection
{
    SSL *ssl = nullptr;
    bool handshakeDone = false;
    bool stalled = false; // holds a request it will never answer
    std::string in, out;
    int unflushedReplies = 0;
};

const char *g_cert;
const char *g_key;
bool g_trace = false;
SSL_CTX *g_ctx = nullptr;
int g_listener = -1;
int g_port = 0;
std::map<int, Connection> g_connections;
Counters g_counters{};
long g_dropEvery = 0, g_stallEvery = 0, g_restartAt = 0, g_seen = 0; // faults, counted from their command on
bool g_restartDue = false;

// "<seconds>.<microseconds> fd <n> <event>" on the monotonic clock, the benchmark's steady clock.
void trace(const char *event, int fd)
{
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    if (g_trace)
        std::fprintf(stderr, "%lld.%06ld fd %d %s\n", static_cast<long long>(now.tv_sec), now.tv_nsec / 1000, fd,
                     event);
}

[[noreturn]] void fail(const char *what)
{
    std::fprintf(stderr, "vennacott-bench-server: %s: %s\n", what, std::strerror(errno));
    ERR_print_errors_fp(stderr);
    std::exit(1);
}

void listenOn(int port)
{
    g_ctx = SSL_CTX_new(TLS_server_method());
    if (!g_ctx || SSL_CTX_use_certificate_chain_file(g_ctx, g_cert) != 1 ||
        SSL_CTX_use_PrivateKey_file(g_ctx, g_key, SSL_FILETYPE_PEM) != 1)
        fail("certificate");
    SSL_CTX_set_min_proto_version(g_ctx, TLS1_2_VERSION);
    // Resumption as a typical server offers it: TLS 1.3 tickets, and a session cache for TLS 1.2.
    static const unsigned char context[] = "vennacott-bench";
    SSL_CTX_set_session_id_context(g_ctx, context, sizeof context - 1);
    SSL_CTX_set_session_cache_mode(g_ctx, SSL_SESS_CACHE_SERVER);

    g_listener = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    const int one = 1;
    setsockopt(g_listener, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(static_cast<uint16_t>(port));
    socklen_t length = sizeof address;
    if (g_listener < 0 || bind(g_listener, reinterpret_cast<sockaddr *>(&address), sizeof address) < 0 ||
        listen(g_listener, 64) < 0 || getsockname(g_listener, reinterpret_cast<sockaddr *>(&address), &length) < 0)
        fail("listen");
    g_port = ntohs(address.sin_port);
}

void close(int fd, bool notifyPeer)
{
    Connection &connection = g_connections[fd];
    if (notifyPeer && connection.handshakeDone)
        SSL_shutdown(connection.ssl); // one close_notify; the peer's answer is not waited for
    SSL_free(connection.ssl);
    trace(notifyPeer ? "closed with close_notify" : "closed", fd);
    ::close(fd);
    g_connections.erase(fd);
}

// What a restarted server looks like to its clients: every connection ends without a word, and the port
// answers again at once, with the same certificate and new session keys.
void restart()
{
    g_restartDue = false;
    ++g_counters.restarts;
    while (!g_connections.empty())
        close(g_connections.begin()->first, false);
    ::close(g_listener);
    SSL_CTX_free(g_ctx);
    listenOn(g_port);
    trace("restarted", g_listener);
}

// Whether the SSL call's `result` only means "again later"; otherwise the connection is closed.
bool retryOrClose(int fd, int result)
{
    const int error = SSL_get_error(g_connections[fd].ssl, result);
    if (error == SSL_ERROR_WANT_READ || error == SSL_ERROR_WANT_WRITE)
        return true;
    ERR_clear_error();
    close(fd, error == SSL_ERROR_ZERO_RETURN); // the peer closed, or the stream broke
    return false;
}

void flush(int fd)
{
    Connection &connection = g_connections[fd];
    while (!connection.out.empty()) {
        const int written = SSL_write(connection.ssl, connection.out.data(), static_cast<int>(connection.out.size()));
        if (written <= 0) {
            retryOrClose(fd, written);
            return;
        }
        connection.out.erase(0, static_cast<std::size_t>(written));
    }
    g_counters.answered += connection.unflushedReplies;
    connection.unflushedReplies = 0;
}

// Reads what there is, then answers each whole request (a GET, without a body) unless a fault says otherwise.
void readRequests(int fd)
{
    Connection &connection = g_connections[fd];
    char buffer[4096];
    int got;
    while ((got = SSL_read(connection.ssl, buffer, sizeof buffer)) > 0) {
        connection.in.append(buffer, static_cast<std::size_t>(got));
        if (connection.in.size() > kMaxRequestBytes)
            return close(fd, false);
    }
    if (!retryOrClose(fd, got))
        return;
    std::size_t end;
    while ((end = connection.in.find("\r\n\r\n")) != std::string::npos) {
        connection.in.erase(0, end + 4);
        ++g_counters.requests;
        trace("request", fd);
        if (connection.stalled)
            continue;
        // Drops fall halfway between stalls, so that no request is both.
        const long n = ++g_seen;
        if (g_restartAt > 0 && n == g_restartAt) {
            g_restartDue = true;
            return;
        }
        if (g_stallEvery > 0 && n % g_stallEvery == 0) {
            ++g_counters.stalled;
            trace("stalled", fd);
            connection.stalled = true;
            continue;
        }
        if (g_dropEvery > 0 && n % g_dropEvery == g_dropEvery / 2) {
            ++g_counters.dropped;
            return close(fd, false);
        }
        connection.out += kReply;
        ++connection.unflushedReplies;
    }
    flush(fd);
}

void handshake(int fd)
{
    Connection &connection = g_connections[fd];
    const int result = SSL_accept(connection.ssl);
    if (result != 1) {
        retryOrClose(fd, result);
        return;
    }
    connection.handshakeDone = true;
    const bool resumed = SSL_session_reused(connection.ssl);
    ++(resumed ? g_counters.resumed : g_counters.full);
    trace(resumed ? "resumed handshake" : "full handshake", fd);
    readRequests(fd);
}

void acceptAll()
{
    int fd;
    while ((fd = accept4(g_listener, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC)) >= 0) {
        const int one = 1;
        setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        Connection &connection = g_connections[fd];
        connection.ssl = SSL_new(g_ctx);
        SSL_set_fd(connection.ssl, fd);
        SSL_set_accept_state(connection.ssl);
        ++g_counters.connections;
        trace("accepted", fd);
        handshake(fd);
    }
}

void command(const std::string &line)
{
    if (line == "stats") {
        const Counters &c = g_counters;
        std::printf("stats connections %ld full %ld resumed %ld requests %ld answered %ld dropped %ld stalled %ld "
                    "restarts %ld\n",
                    c.connections, c.full, c.resumed, c.requests, c.answered, c.dropped, c.stalled, c.restarts);
        std::fflush(stdout);
        g_counters = Counters{};
    } else if (line.rfind("faults ", 0) == 0) {
        g_seen = 0;
        std::sscanf(line.c_str() + 7, "%ld %ld %ld", &g_dropEvery, &g_stallEvery, &g_restartAt);
    } else {
        std::fprintf(stderr, "vennacott-bench-server: unknown command '%s'\n", line.c_str());
    }
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
    g_cert = argv[1];
    g_key = argv[2];
    listenOn(argc > 3 ? std::atoi(argv[3]) : 0);
    std::printf("port %d\n", g_port);
    std::fflush(stdout);
    fcntl(STDIN_FILENO, F_SETFL, fcntl(STDIN_FILENO, F_GETFL, 0) | O_NONBLOCK);
    std::string commands;
    for (;;) {
        std::vector<pollfd> fds = {{STDIN_FILENO, POLLIN, 0}, {g_listener, POLLIN, 0}};
        for (const auto &[fd, connection] : g_connections)
            fds.push_back({fd, static_cast<short>(POLLIN | (connection.out.empty() ? 0 : POLLOUT)), 0});
        if (poll(fds.data(), fds.size(), -1) < 0) {
            if (errno == EINTR)
                continue;
            fail("poll");
        }
        if (fds[0].revents) {
            char buffer[512];
            const ssize_t got = read(STDIN_FILENO, buffer, sizeof buffer);
            if (got == 0 || (got < 0 && errno != EAGAIN))
                return 0;
            commands.append(buffer, static_cast<std::size_t>(std::max<ssize_t>(got, 0)));
            for (std::size_t end; (end = commands.find('\n')) != std::string::npos; commands.erase(0, end + 1))
                command(commands.substr(0, end));
        }
        if (fds[1].revents)
            acceptAll();
        for (std::size_t i = 2; i < fds.size(); ++i) {
            const auto it = g_connections.find(fds[i].fd);
            if (!fds[i].revents || it == g_connections.end())
                continue;
            if (!it->second.handshakeDone)
                handshake(fds[i].fd);
            else if (fds[i].revents & (POLLIN | POLLHUP | POLLERR))
                readRequests(fds[i].fd);
            else
                flush(fds[i].fd);
        }
        if (g_restartDue)
            restart();
    }
}
