// The account and host operations of a setup: sign in, fetch the saved host, register, reset and sign out.
#pragma once

#include "api.h"
#include "savedhost.h"

#include <QObject>
#include <QPointer>
#include <QString>

#include <functional>
#include <optional>

namespace vennacott {

class Settings;

// How an operation ended and what it stored.
struct OperationResult
{
    enum class Kind {
        Done,       // granted, and what it brought is stored
        Refused,    // the service or a local check said no; `error` says why; nothing stored
        NoAnswer,   // no reply; nothing stored
        Superseded, // the session moved on (sign out, reset, another sign-in or registration) before the
                    // answer came: nothing stored, nothing sent, nothing to show
    };
    Kind kind = Kind::NoAnswer;
    QString error;
    // What was stored: the host name and link (a registration, a fetched saved host).
    std::optional<SavedHost> host;
    // False when what was stored did not reach the disk and is kept in memory only.
    bool saved = true;
    // A registration that was granted goes on to save the link with the account: how that ended.
    OperationEnd accountSave;
};
using ResultHandler = std::function<void(const OperationResult &result)>;

// Every operation ends in exactly one result, on the main thread. Each belongs to the session's state when
// it started: once the user signs out, resets, signs in again or registers another name (here or in the
// other program), an answer to an older request changes nothing.
class Session final : public QObject
{
    Q_OBJECT
public:
    explicit Session(Settings &settings, QObject *parent = nullptr);

    // Signs in and stores the token.
    void signIn(const QString &email, const QString &password, ResultHandler done);
    // Asks the backend for the host saved with the account and stores it when it is one the update server
    // hands out. Done without a host when the reply is no such link.
    void fetchSavedHost(ResultHandler done);
    // Registers `name`; once granted, stores it with its link and saves the link with the account. Done
    // means registered and stored; `accountSave` tells how the save went.
    void registerHost(const QString &name, ResultHandler done);
    // Forgets the host name and its link; the sign-in stays. True when that reached the disk.
    bool reset();
    // Forgets the sign-in, the host name and its link. True when that reached the disk.
    bool signOut();

private:
    // Ends the current state: answers to requests started before change nothing.
    void moveOn() { ++m_generation; }
    // Runs `work` on the main thread if the session is still there and has not moved on since `generation`,
    // else `stale` (nothing when it is gone).
    static void later(const QPointer<Session> &self, quint64 generation, std::function<void()> work,
                      std::function<void()> stale);

    Settings &m_settings;
    quint64 m_generation = 0;
};

} // namespace vennacott
