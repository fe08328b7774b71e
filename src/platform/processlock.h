// A lock on a file, held for as long as the process wants it or lives.
#pragma once

#include <QString>

#include <optional>

namespace vennacott {

// An advisory lock (flock) on a file: the kernel lets it go when the process ends, however it ends, so a
// crash never leaves a stale lock behind. The file holds the holder's process id for others to read.
class ProcessLock final
{
public:
    explicit ProcessLock(QString path);
    ~ProcessLock();
    ProcessLock(const ProcessLock &) = delete;
    ProcessLock &operator=(const ProcessLock &) = delete;

    // True when this object holds the lock afterwards. Creates the file (and its folder) when missing.
    bool tryLock();
    bool isLocked() const { return m_fd >= 0; }
    void unlock();

    QString path() const { return m_path; }

    // The process id written by whoever holds the lock at `path` (this process included), or nothing when
    // nobody holds it. 0 when it is held but the id cannot be read.
    static std::optional<qint64> holder(const QString &path);

private:
    QString m_path;
    int m_fd = -1;
};

} // namespace vennacott
