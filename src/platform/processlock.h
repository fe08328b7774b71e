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
    enum class Outcome {
        Acquired,      // this object holds the lock
        HeldElsewhere, // another open of the file (another process, as a rule) holds it
        Unavailable,   // the file or its folder cannot be created or opened, or the system refuses locks
    };

    explicit ProcessLock(QString path);
    ~ProcessLock();
    ProcessLock(const ProcessLock &) = delete;
    ProcessLock &operator=(const ProcessLock &) = delete;

    // Takes the lock without waiting. Creates the file (and its folder, private) when missing.
    Outcome acquire();
    // True when this object holds the lock afterwards.
    bool tryLock() { return acquire() == Outcome::Acquired; }
    bool isLocked() const { return m_fd >= 0; }
    void unlock();

    QString path() const { return m_path; }
    // Why the last acquire() was Unavailable, in the system's words.
    QString failure() const { return m_failure; }

    // The process id written by whoever holds the lock at `path` (this process included), or nothing when
    // nobody holds it. 0 when it is held but the id cannot be read.
    static std::optional<qint64> holder(const QString &path);

private:
    QString m_path;
    QString m_failure;
    int m_fd = -1;
};

} // namespace vennacott
