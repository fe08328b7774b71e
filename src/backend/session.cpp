// The account and host operations of a setup.
#include "session.h"

#include "dispatch.h"
#include "settings.h"
#include "settingskeys.h"

#include <QPointer>

namespace vennacott {
namespace {

OperationResult::Kind kindOf(const OperationEnd &end)
{
    switch (end.kind) {
    case OperationEnd::Kind::Done:
        return OperationResult::Kind::Done;
    case OperationEnd::Kind::Refused:
        return OperationResult::Kind::Refused;
    case OperationEnd::Kind::NoAnswer:
        break;
    }
    return OperationResult::Kind::NoAnswer;
}

OperationResult ended(const OperationEnd &end)
{
    OperationResult result;
    result.kind = kindOf(end);
    result.error = end.error;
    return result;
}

OperationResult superseded()
{
    OperationResult result;
    result.kind = OperationResult::Kind::Superseded;
    return result;
}

} // namespace

Session::Session(Settings &settings, QObject *parent)
    : QObject(parent)
    , m_settings(settings)
{
    // Another process that signs in or out ends this session's state as well.
    connect(&m_settings, &Settings::changed, this, [this](const QString &key, bool elsewhere) {
        if (elsewhere && key == keys::kToken)
            moveOn();
    });
}

void Session::later(const QPointer<Session> &self, quint64 generation, std::function<void()> work,
                    std::function<void()> stale)
{
    // Called on the delivery thread: the session may be gone by then, and only the main thread may look.
    dispatch::mainAsync([self, generation, work = std::move(work), stale = std::move(stale)] {
        if (!self)
            return;
        // Another process's change may not have been noticed yet: look before deciding.
        self->m_settings.refresh();
        if (generation == self->m_generation)
            work();
        else
            stale();
    });
}

void Session::signIn(const QString &email, const QString &password, ResultHandler done)
{
    moveOn();
    const quint64 generation = m_generation;
    login(email, password, m_settings.token(),
          [self = QPointer<Session>(this), generation, done](const OperationEnd &end) {
              later(
                  self, generation,
                  [self, end, done] {
                      OperationResult result = ended(end);
                      if (end.kind == OperationEnd::Kind::Done)
                          result.saved = self->m_settings.setToken(end.value);
                      done(result);
                  },
                  [done] { done(superseded()); });
          });
}

void Session::fetchSavedHost(ResultHandler done)
{
    const quint64 generation = m_generation;
    getSavedHost(m_settings.token(), [self = QPointer<Session>(this), generation, done](const OperationEnd &end) {
        later(
            self, generation,
            [self, end, done] {
                OperationResult result = ended(end);
                if (end.kind == OperationEnd::Kind::Done) {
                    result.host = acceptedSavedHost(end.value);
                    if (result.host)
                        result.saved = self->m_settings.setHost(result.host->hostname, result.host->link);
                }
                done(result);
            },
            [done] { done(superseded()); });
    });
}

void Session::registerHost(const QString &name, ResultHandler done)
{
    moveOn();
    const quint64 generation = m_generation;
    vennacott::registerHost(name, [self = QPointer<Session>(this), generation, name, done](const OperationEnd &end) {
        later(
            self, generation,
            [self, generation, name, end, done] {
                OperationResult result = ended(end);
                if (end.kind != OperationEnd::Kind::Done) {
                    done(result);
                    return;
                }
                result.host = SavedHost{name, end.value};
                result.saved = self->m_settings.setHost(name, end.value);
                setSavedHost(end.value, self->m_settings.token(),
                             [self, generation, result, done](const OperationEnd &save) {
                                 later(
                                     self, generation,
                                     [result, save, done]() mutable {
                                         result.accountSave = save;
                                         done(result);
                                     },
                                     [done] { done(superseded()); });
                             });
            },
            [done] { done(superseded()); });
    });
}

bool Session::reset()
{
    moveOn();
    return m_settings.forgetHost();
}

bool Session::signOut()
{
    moveOn();
    return m_settings.forgetSignIn();
}

} // namespace vennacott
