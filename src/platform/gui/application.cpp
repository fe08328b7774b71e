// The application object: termination route, alerts and error reports.
#include "application.h"

#include <QCoreApplication>

namespace vennacott {

Application &Application::shared()
{
    static Application application;
    return application;
}

void Application::terminate()
{
    if (m_termination != Termination::Idle)
        return;
    m_termination = Termination::Deciding;
    const TerminateReply reply = m_delegate ? m_delegate->applicationShouldTerminate(*this) : TerminateReply::Now;
    switch (reply) {
    case TerminateReply::Now:
        finishTermination();
        return;
    case TerminateReply::Later:
        m_termination = Termination::AwaitingReply;
        return;
    case TerminateReply::Cancel:
        break;
    }
    m_termination = Termination::Idle;
}

void Application::replyToApplicationShouldTerminate(bool shouldTerminate)
{
    if (m_termination != Termination::AwaitingReply)
        return;
    if (shouldTerminate)
        finishTermination();
    else
        m_termination = Termination::Idle;
}

void Application::finishTermination()
{
    if (m_delegate)
        m_delegate->applicationWillTerminate();
    m_termination = Termination::Idle;
    // Ends the main event loop, so exec() returns 0.
    QCoreApplication::exit(0);
}

void Application::presentError(const Error &error, ErrorHandler handler)
{
    if (!handler)
        handler = [](bool) {};
    if (m_errorPresenter)
        return m_errorPresenter->presentError(error, std::move(handler));
    Alert alert;
    alert.setAlertStyle(Alert::Style::Critical);
    alert.setMessageText(error.localizedDescription);
    alert.open([handler = std::move(handler)](ModalResponse) { handler(false); });
}

void Application::openAlert(const Alert &alert, AlertHandler handler)
{
    if (m_alertRunner)
        m_alertRunner->open(alert, std::move(handler));
    else
        openAlertInMessageBox(alert, std::move(handler));
}

} // namespace vennacott
