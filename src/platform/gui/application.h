// The application object: the termination route that asks the delegate, and alerts and error reports,
// all answered through callbacks.
#pragma once

#include "alert.h"
#include "error.h"

#include <QObject>

#include <functional>

namespace vennacott {

class Application;

// The delegate's answer to whether the application may terminate now.
enum class TerminateReply { Cancel = 0, Now = 1, Later = 2 };

class ApplicationDelegate
{
public:
    virtual ~ApplicationDelegate() = default;
    // Asked on the main thread each time termination is requested. Later means that the delegate will
    // answer through Application::replyToApplicationShouldTerminate.
    virtual TerminateReply applicationShouldTerminate(Application &sender) = 0;
    // Told once the answer is to terminate, just before the event loop ends.
    virtual void applicationWillTerminate() = 0;
};

// Called once, from the event loop, when the user has dealt with an error: true when it was resolved (a
// recovery the user chose succeeded).
using ErrorHandler = std::function<void(bool resolved)>;

// Shows an error to the user and answers later.
class ErrorPresenter
{
public:
    virtual ~ErrorPresenter() = default;
    virtual void presentError(const Error &error, ErrorHandler handler) = 0;
};

class Application final : public QObject
{
    Q_OBJECT
public:
    // The one application object of the process. Main thread only.
    static Application &shared();

    // Not owned; unset it before the delegate goes away.
    void setDelegate(ApplicationDelegate *delegate) { m_delegate = delegate; }
    ApplicationDelegate *delegate() const { return m_delegate; }

    // The termination route. Asks the delegate (without one the answer is Now). On Now the delegate is
    // told that the application will terminate and the event loop ends with status 0; on Cancel
    // everything keeps running. A request made while one is being decided (from within the quit alert,
    // say) is ignored: the question already asked stands.
    void terminate();
    // The delegate's answer after it replied Later; ignored at any other time.
    void replyToApplicationShouldTerminate(bool shouldTerminate);

    // Shows the error through the error presenter and returns at once; `handler`, if any, gets the outcome.
    // The default presenter shows it in an alert with one button and, offering no recovery, reports it as
    // not resolved.
    void presentError(const Error &error, ErrorHandler handler = {});
    // Shows an alert through the alert runner; Alert::open comes here.
    void openAlert(const Alert &alert, AlertHandler handler);

    // Replace how errors and alerts are shown, e.g. to answer them in tests. Not owned; nullptr restores
    // the message boxes.
    void setErrorPresenter(ErrorPresenter *presenter) { m_errorPresenter = presenter; }
    void setAlertRunner(AlertRunner *runner) { m_alertRunner = runner; }

private:
    Application() = default;
    void finishTermination();

    enum class Termination { Idle, Deciding, AwaitingReply };

    ApplicationDelegate *m_delegate = nullptr;
    ErrorPresenter *m_errorPresenter = nullptr;
    AlertRunner *m_alertRunner = nullptr;
    Termination m_termination = Termination::Idle;
};

} // namespace vennacott
