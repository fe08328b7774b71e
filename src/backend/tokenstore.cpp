// The sign-in token in the desktop's keyring (the Secret Service: GNOME Keyring, KWallet).
#include "tokenstore.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusVariant>
#include <QPointer>
#include <qt6keychain/keychain.h>

namespace vennacott {
namespace {

const QString kService = QStringLiteral("vennacott-ddns");
const QString kSecrets = QStringLiteral("org.freedesktop.secrets");

QDBusMessage call(const QString &path, const QString &interface, const QString &method, const QVariantList &arguments)
{
    QDBusMessage message = QDBusMessage::createMethodCall(kSecrets, path, interface, method);
    message.setArguments(arguments);
    return message;
}

// Calls `method` on the session bus and hands its reply to `then`, which may be destroyed with `context`.
void callAsync(QObject *context, const QDBusMessage &message, std::function<void(const QDBusMessage &)> then)
{
    auto *watcher = new QDBusPendingCallWatcher(QDBusConnection::sessionBus().asyncCall(message), context);
    QObject::connect(watcher, &QDBusPendingCallWatcher::finished, context, [watcher, then = std::move(then)] {
        watcher->deleteLater();
        then(watcher->reply());
    });
}

} // namespace

TokenStore::TokenStore(QString settingsPath, QObject *parent)
    : QObject(parent)
    , m_settingsPath(std::move(settingsPath))
{}

void TokenStore::read(Reply reply)
{
    start(Operation::Read, {}, std::move(reply));
}

void TokenStore::write(const QString &token, Reply reply)
{
    start(Operation::Write, token, std::move(reply));
}

void TokenStore::remove(Reply reply)
{
    start(Operation::Remove, {}, std::move(reply));
}

void TokenStore::probe(std::function<void(Outcome)> answer)
{
    if (!QDBusConnection::sessionBus().isConnected())
        return answer(Outcome::Absent);
    // The default collection's own Locked property: asking for an item in a locked one would make the keyring
    // prompt for its password.
    const QDBusMessage readAlias =
        call(QStringLiteral("/org/freedesktop/secrets"), QStringLiteral("org.freedesktop.Secret.Service"),
             QStringLiteral("ReadAlias"), {QStringLiteral("default")});
    callAsync(this, readAlias, [this, answer](const QDBusMessage &aliasReply) {
        if (aliasReply.type() != QDBusMessage::ReplyMessage)
            return answer(Outcome::Absent);
        const QString collection = aliasReply.arguments().value(0).value<QDBusObjectPath>().path();
        if (collection.isEmpty() || collection == QLatin1String("/"))
            return answer(Outcome::Done); // no collection yet: the first write makes one
        const QDBusMessage locked =
            call(collection, QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("Get"),
                 {QStringLiteral("org.freedesktop.Secret.Collection"), QStringLiteral("Locked")});
        callAsync(this, locked, [answer](const QDBusMessage &lockedReply) {
            if (lockedReply.type() != QDBusMessage::ReplyMessage)
                return answer(Outcome::Locked);
            const bool isLocked = lockedReply.arguments().value(0).value<QDBusVariant>().variant().toBool();
            answer(isLocked ? Outcome::Locked : Outcome::Done);
        });
    });
}

void TokenStore::start(Operation operation, const QString &token, Reply reply)
{
    probe([this, operation, token, reply](Outcome reachable) {
        if (reachable != Outcome::Done)
            return reply(reachable, {});
        QKeychain::Job *job = nullptr;
        if (operation == Operation::Read)
            job = new QKeychain::ReadPasswordJob(kService, this);
        else if (operation == Operation::Write)
            job = new QKeychain::WritePasswordJob(kService, this);
        else
            job = new QKeychain::DeletePasswordJob(kService, this);
        job->setKey(m_settingsPath);
        job->setInsecureFallback(false);
        if (auto *writeJob = qobject_cast<QKeychain::WritePasswordJob *>(job))
            writeJob->setTextData(token);
        connect(job, &QKeychain::Job::finished, this, [operation, reply](QKeychain::Job *done) {
            switch (done->error()) {
            case QKeychain::NoError: {
                auto *readJob = qobject_cast<QKeychain::ReadPasswordJob *>(done);
                return reply(Outcome::Done, readJob ? readJob->textData() : QString());
            }
            case QKeychain::EntryNotFound:
                return reply(operation == Operation::Remove ? Outcome::Done : Outcome::NotFound, {});
            case QKeychain::NoBackendAvailable:
            case QKeychain::NotImplemented:
                return reply(Outcome::Absent, {});
            default:
                return reply(Outcome::Locked, {});
            }
        });
        job->start(); // the job deletes itself once it has answered
    });
}

} // namespace vennacott
