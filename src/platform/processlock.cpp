// A lock on a file, held for as long as the process wants it or lives.
#include "processlock.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace vennacott {

ProcessLock::ProcessLock(QString path)
    : m_path(std::move(path))
{}

ProcessLock::~ProcessLock()
{
    unlock();
}

ProcessLock::Outcome ProcessLock::acquire()
{
    if (m_fd >= 0)
        return Outcome::Acquired;
    const QString folder = QFileInfo(m_path).absolutePath();
    if (!QDir(folder).exists() && QDir().mkpath(folder))
        QFile::setPermissions(folder, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    const int fd = ::open(QFile::encodeName(m_path).constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0) {
        m_failure = qt_error_string(errno);
        return Outcome::Unavailable;
    }
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const int error = errno;
        ::close(fd);
        if (error == EWOULDBLOCK)
            return Outcome::HeldElsewhere;
        m_failure = qt_error_string(error); // no locks on this file system, say
        return Outcome::Unavailable;
    }
    const QByteArray pid = QByteArray::number(qint64(::getpid())) + '\n';
    if (::ftruncate(fd, 0) == 0) [[maybe_unused]]
        const ssize_t written = ::pwrite(fd, pid.constData(), size_t(pid.size()), 0);
    m_fd = fd;
    return Outcome::Acquired;
}

void ProcessLock::unlock()
{
    if (m_fd < 0)
        return;
    ::close(m_fd); // closing the last descriptor lets the lock go
    m_fd = -1;
}

std::optional<qint64> ProcessLock::holder(const QString &path)
{
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return std::nullopt;
    std::optional<qint64> pid;
    if (::flock(fd, LOCK_SH | LOCK_NB) != 0 && errno == EWOULDBLOCK) {
        char buffer[32] = {};
        const ssize_t got = ::pread(fd, buffer, sizeof buffer - 1, 0);
        bool ok = false;
        const qint64 id = got > 0 ? QByteArray(buffer, int(got)).trimmed().toLongLong(&ok) : 0;
        pid = ok && id > 0 ? id : 0;
    }
    ::close(fd);
    return pid;
}

} // namespace vennacott
