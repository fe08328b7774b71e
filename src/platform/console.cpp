// Whole-line diagnostics on standard output and standard error.
#include "console.h"

#include <QString>

#include <cerrno>
#include <mutex>
#include <sys/stat.h>
#include <unistd.h>

namespace vennacott::console {
namespace {

std::mutex &outputMutex()
{
    static std::mutex mutex;
    return mutex;
}

Sink &sink()
{
    static Sink installed;
    return installed;
}

void writeAll(int fd, const QByteArray &bytes)
{
    const char *data = bytes.constData();
    qsizetype left = bytes.size();
    while (left > 0) {
        const ssize_t written = ::write(fd, data, static_cast<size_t>(left));
        if (written < 0) {
            if (errno == EINTR)
                continue;
            return; // a closed or full stream must never stop the program
        }
        data += written;
        left -= written;
    }
}

// Control characters (a line feed inside a server's reply, say) are written as escapes, so one call is
// always one line and nothing printed can forge a line of its own or drive the terminal.
QByteArray toLine(QStringView text)
{
    QString escaped;
    escaped.reserve(text.size());
    for (const QChar c : text) {
        const char16_t u = c.unicode();
        if (u >= 0x20 && u != 0x7f && u != 0x2028 && u != 0x2029) {
            escaped.append(c);
        } else if (u == '\n') {
            escaped.append(QLatin1String("\\n"));
        } else if (u == '\r') {
            escaped.append(QLatin1String("\\r"));
        } else if (u == '\t') {
            escaped.append(QLatin1String("\\t"));
        } else {
            escaped.append(QStringLiteral("\\u%1").arg(u, 4, 16, QLatin1Char('0')));
        }
    }
    QByteArray line = escaped.toUtf8();
    line.append('\n');
    return line;
}

void emitLine(Stream stream, QStringView text)
{
    const QByteArray line = toLine(text);
    // One lock around the whole write: a line longer than the pipe's atomic size could otherwise be
    // split by another thread's line.
    const std::lock_guard lock(outputMutex());
    if (sink()) {
        sink()(stream, line);
        return;
    }
    writeAll(stream == Stream::Output ? STDOUT_FILENO : STDERR_FILENO, line);
}

} // namespace

void printLine(QStringView text)
{
    emitLine(Stream::Output, text);
}

void logLine(QStringView text)
{
    emitLine(Stream::Error, text);
}

void logLine(QStringView text, Priority priority)
{
    // Looked up per line, not once: problem lines are rare, and a test sets the variable as systemd would.
    const QByteArray journal = qgetenv("JOURNAL_STREAM");
    const qsizetype colon = journal.indexOf(':');
    struct stat error = {};
    bool ok = colon > 0 && ::fstat(STDERR_FILENO, &error) == 0;
    ok =
        ok && journal.left(colon).toULongLong() == error.st_dev && journal.mid(colon + 1).toULongLong() == error.st_ino;
    if (!ok)
        return logLine(text);
    emitLine(Stream::Error, QStringLiteral("<%1>").arg(int(priority)) + text.toString());
}

void setSinkForTesting(Sink newSink)
{
    const std::lock_guard lock(outputMutex());
    sink() = std::move(newSink);
}

} // namespace vennacott::console
