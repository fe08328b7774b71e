// The client's stored settings: the one owner of the settings file of a setup.
#include "settings.h"

#include "settingskeys.h"
#include "tokenstore.h"
#include "userdefaults.h"

#include <QDir>
#include <QFileInfo>
#include <QFileSystemWatcher>
#include <QHash>
#include <QSettings>
#include <QTimer>

namespace vennacott {
namespace {

const QList<QString> kKeys = {keys::kToken, keys::kHostname, keys::kDnsLink};

// A write that found the file locked by another process is tried again this soon, so a value set while the
// command line writes still reaches the disk without waiting for the next update.
constexpr std::chrono::milliseconds kRetryAfterLock{250};
constexpr int kQuickRetries = 8;

// A keyring that was locked or absent is read again this often, so the sign-in arrives soon after the desktop
// unlocks it at login, without anyone being asked for its password.
constexpr std::chrono::seconds kKeyringRetry{10};
const QString kKeyringChoiceKey = QStringLiteral("keyring");

Settings::Keyring unreachable(TokenStore::Outcome outcome)
{
    return outcome == TokenStore::Outcome::Absent ? Settings::Keyring::Absent : Settings::Keyring::Locked;
}

} // namespace

QString Settings::defaultFilePath()
{
    // Qt settles its settings folders once per process, so the name is worked out once too: every lock, socket,
    // status and history path of the setup is named after it.
    static const QString path = QSettings(QSettings::NativeFormat, QSettings::UserScope, QStringLiteral("vennacott"),
                                          QStringLiteral("vennacott-ddns"))
                                    .fileName();
    return path;
}

Settings::Settings(QString filePath, std::chrono::milliseconds lockWait, QObject *parent)
    : QObject(parent)
    , m_defaults(std::make_unique<UserDefaults>(std::move(filePath), lockWait))
    , m_retry(new QTimer(this))
{
    m_retry->setSingleShot(true);
    m_retry->setInterval(kRetryAfterLock);
    connect(m_retry, &QTimer::timeout, this, &Settings::refresh);
    m_keyringRetry = new QTimer(this);
    m_keyringRetry->setSingleShot(true);
    m_keyringRetry->setInterval(kKeyringRetry);
    connect(m_keyringRetry, &QTimer::timeout, this, &Settings::readKeyring);
    m_keyringChosen = QSettings(choiceFilePath(), QSettings::NativeFormat).value(kKeyringChoiceKey, false).toBool();
    m_known = current();
    watch();
    if (m_keyringChosen)
        readKeyring();
}

Settings::~Settings() = default;

QString Settings::filePath() const
{
    return m_defaults->filePath();
}

std::optional<QString> Settings::value(const QString &key)
{
    // A change another process made is told before anything reads it.
    refresh();
    return m_known.value(key);
}

QString Settings::token()
{
    return value(keys::kToken).value_or(QString());
}

QString Settings::dnsLink()
{
    return value(keys::kDnsLink).value_or(QString());
}

std::optional<QString> Settings::registeredHostname()
{
    const QString hostname = value(keys::kHostname).value_or(QString());
    if (hostname.isEmpty() || hostname == QLatin1String("ERROR"))
        return std::nullopt;
    return hostname;
}

bool Settings::setToken(const QString &token)
{
    if (!m_keyringChosen)
        return write({{keys::kToken, token}});
    keepInKeyring(token);
    return true;
}

bool Settings::setHost(const QString &hostname, const QString &link)
{
    return write({{keys::kHostname, hostname}, {keys::kDnsLink, link}});
}

bool Settings::forgetHost()
{
    return write({{keys::kHostname, std::nullopt}, {keys::kDnsLink, std::nullopt}});
}

bool Settings::forgetSignIn()
{
    if (m_keyringChosen) {
        keepInKeyring(std::nullopt);
        return forgetHost();
    }
    return write({{keys::kToken, std::nullopt}, {keys::kHostname, std::nullopt}, {keys::kDnsLink, std::nullopt}});
}

QHash<QString, std::optional<QString>> Settings::current()
{
    const QHash<QString, QString> stored = m_defaults->values();
    QHash<QString, std::optional<QString>> values;
    for (const QString &key : kKeys)
        values.insert(key, stored.contains(key) ? std::optional<QString>(stored.value(key)) : std::nullopt);
    if (m_keyringChosen)
        values.insert(keys::kToken, m_keyringToken);
    return values;
}

void Settings::announce(bool elsewhere)
{
    const QHash<QString, std::optional<QString>> now = current();
    QList<QString> changedKeys;
    for (const QString &key : kKeys) {
        if (m_known.value(key) != now.value(key))
            changedKeys.append(key);
    }
    // All of one write is known before the first listener hears of it, in the order the keys are written.
    m_known = now;
    for (const QString &key : changedKeys)
        Q_EMIT changed(key, elsewhere);
    // Another process that signs in or out with the keyring also changes the file (the host goes with the
    // sign-in): the token is read anew.
    if (elsewhere && !changedKeys.isEmpty() && m_keyringChosen && m_keyringState == Keyring::Ready)
        readKeyring();
}

bool Settings::write(const QList<Change> &changes)
{
    // What another process changed is told as its own, before this change goes on top of it.
    refresh();
    m_defaults->apply(changes);
    const bool saved = m_defaults->isSaved();
    m_retries = 0;
    if (!saved)
        m_retry->start();
    announce(false);
    watchFile();
    return saved;
}

void Settings::refresh()
{
    // One stat of the file when nothing changed: every update reads the link through here.
    if (m_defaults->reload()) {
        announce(true);
        watchFile();
    }
    // A few quick tries for a file another process held locked; after that the next read tries (the
    // updater reads at every tick), so a full disk costs no wake-ups of its own.
    if (m_defaults->isSaved())
        m_retries = 0;
    else if (!m_retry->isActive() && ++m_retries < kQuickRetries)
        m_retry->start();
}

void Settings::watchFile()
{
    // The file is replaced at every write: the watch on the old one is gone with it.
    if (m_watcher && QFileInfo::exists(filePath()) && !m_watcher->files().contains(filePath()))
        m_watcher->addPath(filePath());
}

void Settings::watch()
{
    const QString folder = QFileInfo(filePath()).absolutePath();
    if (!QDir().mkpath(folder))
        return; // a file in the folder's way: nothing to watch, and nothing another process could write
    m_watcher = std::make_unique<QFileSystemWatcher>();
    m_watcher->addPath(folder);
    if (QFileInfo::exists(filePath()))
        m_watcher->addPath(filePath());
    // The folder tells of a file replaced by a rename; the file of one written in place (by hand, say).
    connect(m_watcher.get(), &QFileSystemWatcher::directoryChanged, this, &Settings::refresh);
    connect(m_watcher.get(), &QFileSystemWatcher::fileChanged, this, &Settings::refresh);
}

QString Settings::choiceFilePath() const
{
    return QFileInfo(filePath()).absolutePath() + QStringLiteral("/vennacott-ddns-desktop.conf");
}

void Settings::saveChoice(bool chosen)
{
    QSettings choices(choiceFilePath(), QSettings::NativeFormat);
    choices.setValue(kKeyringChoiceKey, chosen);
    choices.sync();
}

void Settings::setKeyringState(Keyring state, QString problem)
{
    m_keyringState = state;
    m_keyringProblem = std::move(problem);
    Q_EMIT keyringChanged();
}

void Settings::readKeyring()
{
    if (!m_tokenStore)
        m_tokenStore = std::make_unique<TokenStore>(filePath());
    // A keyring already known to be unreachable keeps its message while it is tried again.
    if (m_keyringState != Keyring::Locked && m_keyringState != Keyring::Absent)
        setKeyringState(Keyring::Waiting);
    m_tokenStore->read([this](TokenStore::Outcome outcome, const QString &token) {
        if (!m_keyringChosen)
            return;
        if (outcome == TokenStore::Outcome::Done || outcome == TokenStore::Outcome::NotFound) {
            m_keyringToken = outcome == TokenStore::Outcome::Done ? std::optional<QString>(token) : std::nullopt;
            // The token is known before anyone hears that the keyring is ready and reads it.
            announce(true);
            setKeyringState(Keyring::Ready);
            return;
        }
        setKeyringState(unreachable(outcome),
                        outcome == TokenStore::Outcome::Absent
                            ? tr("No system keyring is running, so the sign-in kept there cannot be read. It is "
                                 "tried again every few seconds.")
                            : tr("The system keyring is locked, so the sign-in kept there cannot be read yet. It is "
                                 "read as soon as the keyring is unlocked."));
        m_keyringRetry->start();
    });
}

void Settings::keepInKeyring(const std::optional<QString> &token, std::function<void(bool)> done)
{
    if (!m_tokenStore)
        m_tokenStore = std::make_unique<TokenStore>(filePath());
    m_keyringToken = token && !token->isEmpty() ? token : std::nullopt;
    announce(false);
    ++m_keyringWrites;
    const auto answered = [this, done = std::move(done)](TokenStore::Outcome outcome, const QString &) {
        --m_keyringWrites;
        const bool kept = outcome == TokenStore::Outcome::Done;
        if (kept)
            setKeyringState(m_keyringChosen ? Keyring::Ready : Keyring::Off);
        else
            setKeyringState(unreachable(outcome),
                            outcome == TokenStore::Outcome::Absent
                                ? tr("The sign-in could not be kept in the system keyring: no keyring is running.")
                                : tr("The sign-in could not be kept in the system keyring: it is locked."));
        if (done)
            done(kept);
    };
    if (m_keyringToken)
        m_tokenStore->write(*m_keyringToken, answered);
    else
        m_tokenStore->remove(answered);
}

void Settings::chooseKeyring(bool chosen)
{
    if (chosen == m_keyringChosen)
        return;
    if (!chosen) {
        if (m_keyringState != Keyring::Ready) {
            setKeyringState(m_keyringState, tr("The sign-in can move back to the settings file only once the "
                                               "system keyring can be read."));
            return;
        }
        const std::optional<QString> token = m_keyringToken;
        m_keyringChosen = false;
        saveChoice(false);
        write({{keys::kToken, token}});
        keepInKeyring(std::nullopt); // the keyring's copy goes; the file holds the token now
        return;
    }
    const std::optional<QString> token = value(keys::kToken);
    setKeyringState(Keyring::Waiting);
    keepInKeyring(token, [this](bool kept) {
        if (!kept) {
            m_keyringProblem = m_keyringState == Keyring::Absent
                                   ? tr("The sign-in stays in the settings file: no system keyring is running.")
                                   : tr("The sign-in stays in the settings file: the system keyring is locked.");
            Q_EMIT keyringChanged();
            return;
        }
        m_keyringChosen = true;
        saveChoice(true);
        write({{keys::kToken, std::nullopt}}); // the keyring holds it now
        setKeyringState(Keyring::Ready);
    });
}

} // namespace vennacott
