// The sign-in token in the desktop's keyring (the Secret Service: GNOME Keyring, KWallet).
#pragma once

#include <QObject>
#include <QString>

#include <functional>

namespace vennacott {

// One entry per settings file in the keyring. Every operation is asynchronous and answers once, on this
// object's thread. A locked keyring is never asked to unlock: the operation answers Locked without a prompt,
// and the caller tries again later (at login the keyring is unlocked a moment after the desktop starts).
class TokenStore final : public QObject
{
    Q_OBJECT
public:
    enum class Outcome {
        Done,
        NotFound, // the keyring holds no token for this settings file
        Locked,   // the keyring is locked, or refused the request
        Absent,   // no keyring on this session
    };
    using Reply = std::function<void(Outcome outcome, const QString &token)>;

    explicit TokenStore(QString settingsPath, QObject *parent = nullptr);

    void read(Reply reply);
    void write(const QString &token, Reply reply);
    void remove(Reply reply);

private:
    enum class Operation { Read, Write, Remove };
    void start(Operation operation, const QString &token, Reply reply);
    // Answers whether the keyring can be used now: Done, Locked or Absent.
    void probe(std::function<void(Outcome)> answer);

    const QString m_settingsPath;
};

} // namespace vennacott
