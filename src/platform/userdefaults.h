// The per-user settings store: a few text values kept in one private file.
#pragma once

#include <QHash>
#include <QString>

#include <chrono>
#include <mutex>
#include <optional>

class QSettings;

namespace vennacott {

// Text values by key, readable at once from any thread after a write and kept on disk across launches.
// The file may hold a bearer token, so it is kept private to the user (mode 0600). A corrupt file is set
// aside under a new name and read as empty; a file that cannot be read is read as empty and never
// overwritten. A change that does not reach the disk (a full disk, say) is kept in memory and written again
// at the next read or write until it does; one line on standard error says when saving starts to fail and
// one when it works again. What another process writes to the file (the command line beside the window)
// is seen at the next read, and wins over a change of this process that had not reached the disk.
class UserDefaults final
{
public:
    // `lockWait`: how long a write waits for another program that is writing the file. A change that cannot
    // wait longer is kept in memory and written at the next read or write.
    explicit UserDefaults(QString filePath, std::chrono::milliseconds lockWait = std::chrono::milliseconds(5000));
    UserDefaults(const UserDefaults &) = delete;
    UserDefaults &operator=(const UserDefaults &) = delete;

    std::optional<QString> stringForKey(const QString &key);
    void setObject(const QString &value, const QString &key);
    void removeObjectForKey(const QString &key);

    // Several changes in one write: a reader in any process sees all of them or none. An absent value
    // removes its key.
    using Change = std::pair<QString, std::optional<QString>>;
    void apply(const QList<Change> &changes);

    // Every value, as the file and this process's unsaved changes have them; tries no write.
    QHash<QString, QString> values();
    // True when every change made so far is on disk.
    bool isSaved();
    // Loads the file again when another process has changed it (one stat when it has not); true when it
    // was read anew, or a retried write brought another process's values with it.
    bool reload();

    QString filePath() const { return m_filePath; }

private:
    void load();
    // Loads the file again when another process has replaced or changed it since this one last did.
    bool reloadIfChangedOnDisk();
    struct FileStamp
    {
        bool exists = false;
        quint64 device = 0;
        quint64 inode = 0;
        qint64 size = 0;
        qint64 modifiedNs = 0;
        bool operator==(const FileStamp &other) const;
    };
    FileStamp stampOnDisk() const;
    void save();
    std::optional<QString> writeUnsaved();
    bool setAsideIfCorrupt(const QSettings &settings);

    // A change not on disk yet, and the value the file held for its key when it was made.
    struct Unsaved
    {
        std::optional<QString> value;
        std::optional<QString> onDisk;
    };

    const QString m_filePath;
    const std::chrono::milliseconds m_lockWait;
    std::mutex m_mutex;
    QHash<QString, QString> m_values;
    QHash<QString, Unsaved> m_unsaved;
    bool m_saveFailing = false;
    bool m_fileUnreadable = false;
    FileStamp m_stamp;
};

} // namespace vennacott
