// vennacott-ddnsctl: the command line and the headless updater, on Qt Core and Network only.
#include "buildconfig.h"
#include "commandline.h"
#include "coredumps.h"
#include "urlsession.h"

#include <QCoreApplication>

#include <csignal>

int main(int argc, char *argv[])
{
    vennacott::turnCoreDumpsOff();
    // Output to a closed pipe must not kill an updater that runs for months.
    std::signal(SIGPIPE, SIG_IGN);
    QCoreApplication app(argc, argv);
    QCoreApplication::setOrganizationName(QStringLiteral("vennacott"));
    QCoreApplication::setApplicationName(QStringLiteral("vennacott-ddns"));
    QCoreApplication::setApplicationVersion(QString::fromUtf8(vennacott::buildconfig::kVersion));

    vennacott::ctl::CommandLine commandLine;
    commandLine.start(QCoreApplication::arguments().mid(1),
                      [](vennacott::ctl::ExitStatus status) { QCoreApplication::exit(int(status)); });
    const int status = QCoreApplication::exec();
    vennacott::UrlSession::shared().shutdown();
    return status;
}
