// The client's stored settings: the one owner of the settings file of a setup.
#pragma once

#include <QHash>
#include <QObject>
#include <QString>

#include <chrono>
#include <functional>
#include <memory>
#include <optional>

class QFileSystemWatcher;
class QTimer;

namespace vennacott {

class TokenStore;
class UserDefaults;

// The sign-in token, the host name and its update link, read from and written to one private file. Every
// read and write of the settings goes through here; what another process writes (the command line beside
// the window) is noticed through a watch on the file's folder and told like a change of this process.
class Settings final : public QObject
{
    Q_OBJECT
public:
    // `lockWait`: how long a write may wait for another process that is writing the file. The window keeps
    // it short (its thread draws the window); a change that cannot wait is kept and written soon after.
    Settings(QString filePath, std::chrono::milliseconds lockWait, QObject *parent = nullptr);
    ~Settings() override;

    // $XDG_CONFIG_HOME/vennacott/vennacott-ddns.conf.
    static QString defaultFilePath();
    QString filePath() const;

    std::optional<QString> value(const QString &key);
    // The stored token, or the empty text: both mean that no account is signed in.
    QString token();
    // The stored update link, or the empty text: both mean that there is nothing to update.
    QString dnsLink();
    // The host name when one is registered: not absent, empty or "ERROR".
    std::optional<QString> registeredHostname();

    // Each write is one locked replacement of the file; true when it reached the disk. Otherwise the values
    // are kept in memory, written again at the next chance, and one line on standard error says so.
    bool setToken(const QString &token);
    // The host name and its link together, so no reader ever sees one without the other.
    bool setHost(const QString &hostname, const QString &link);
    bool forgetHost();
    bool forgetSignIn();

    // Checks the file now instead of waiting for the watch; the result is told through `changed`.
    void refresh();

    // Where the token lives when the user chose the keyring: the state of the keyring as last seen.
    enum class Keyring {
        Off,     // the token is in the settings file
        Waiting, // a read or move is under way
        Ready,   // the token (or its absence) is known
        Locked,  // the keyring is locked or refused; tried again a little later
        Absent,  // no keyring on this session; tried again a little later
    };
    // The choice is kept in vennacott-ddns-desktop.conf beside the settings file, so the command line and
    // the window share it.
    bool keyringChosen() const { return m_keyringChosen; }
    Keyring keyring() const { return m_keyringState; }
    // What the window shows about the keyring, in plain words; empty when all is well.
    QString keyringProblem() const { return m_keyringProblem; }
    // Moves the token into the keyring (true) or back into the settings file (false). The choice changes only
    // once the token has arrived; a keyring that cannot be reached leaves the choice and the token where they
    // were, and says so through keyringProblem(). Told through `keyringChanged`.
    void chooseKeyring(bool chosen);
    // True while a write to the keyring has not been answered; `keyringChanged` tells its end.
    bool keyringBusy() const { return m_keyringWrites > 0 || m_keyringState == Keyring::Waiting; }

Q_SIGNALS:
    // A stored value changed, here or in another process (`elsewhere`).
    void changed(const QString &key, bool elsewhere);
    void keyringChanged();

private:
    using Change = std::pair<QString, std::optional<QString>>;
    bool write(const QList<Change> &changes);
    void watch();
    void watchFile();
    // Tells every value that differs from what listeners last heard.
    void announce(bool elsewhere);
    QHash<QString, std::optional<QString>> current();
    QString choiceFilePath() const;
    void saveChoice(bool chosen);
    void readKeyring();
    void setKeyringState(Keyring state, QString problem = {});
    // Keeps the token in the keyring; `done` hears whether it arrived.
    void keepInKeyring(const std::optional<QString> &token, std::function<void(bool)> done = {});

    std::unique_ptr<UserDefaults> m_defaults;
    std::unique_ptr<QFileSystemWatcher> m_watcher;
    QHash<QString, std::optional<QString>> m_known;
    QTimer *m_retry = nullptr;
    int m_retries = 0;

    bool m_keyringChosen = false;
    Keyring m_keyringState = Keyring::Off;
    QString m_keyringProblem;
    std::unique_ptr<TokenStore> m_tokenStore;
    std::optional<QString> m_keyringToken; // the token as read from or written to the keyring
    int m_keyringWrites = 0;
    QTimer *m_keyringRetry = nullptr;
};

} // namespace vennacott
