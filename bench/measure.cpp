// What the benchmark's programs share: the programs they start, reading a process's figures from /proc,
// and percentiles.
#include "measure.h"

#include <QFile>
#include <QProcessEnvironment>

#include <algorithm>
#include <cmath>
#include <csignal>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <sys/prctl.h>

namespace vennacott::bench {

void say(const char *format, ...)
{
    va_list arguments;
    va_start(arguments, format);
    std::vprintf(format, arguments);
    va_end(arguments);
    std::putchar('\n');
    std::fflush(stdout);
}

double percentile(std::vector<double> values, double p)
{
    if (values.empty())
        return NAN;
    std::sort(values.begin(), values.end());
    const auto index = static_cast<std::size_t>(std::ceil(p / 100.0 * values.size())) - 1;
    return values[std::min(index, values.size() - 1)];
}

std::string readText(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return file.readAll().toStdString();
}

long statusField(const std::string &status, const char *name)
{
    const std::string key = std::string("\n") + name + ":";
    const std::size_t at = ("\n" + status).find(key);
    if (at == std::string::npos)
        return -1;
    return std::atol(status.c_str() + at + key.size() - 1);
}

QStringList environmentWith(const QStringList &set, const QStringList &unset)
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    for (const QString &name : unset)
        environment.remove(name);
    for (const QString &entry : set)
        environment.insert(entry.section(QLatin1Char('='), 0, 0), entry.section(QLatin1Char('='), 1));
    return environment.toStringList();
}

bool Program::start(const QStringList &argv, const QStringList &environment, bool readOutput, bool readErrors)
{
    setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGKILL); });
    setEnvironment(environment);
    if (!readOutput)
        setStandardOutputFile(QProcess::nullDevice());
    if (!readErrors)
        setStandardErrorFile(QProcess::nullDevice());
    QProcess::start(argv.value(0), argv.mid(1));
    if (waitForStarted(10'000))
        return true;
    std::fprintf(stderr, "bench: cannot start %s: %s\n", qPrintable(argv.value(0)), qPrintable(errorString()));
    return false;
}

std::optional<std::string> Program::readLine(Clock::time_point deadline, ProcessChannel channel)
{
    setReadChannel(channel);
    while (!canReadLine()) {
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0 || !waitForReadyRead(static_cast<int>(left)))
            return std::nullopt;
    }
    return QProcess::readLine().chopped(1).toStdString();
}

void Program::stop(std::chrono::milliseconds grace)
{
    if (state() == NotRunning)
        return;
    closeWriteChannel(); // the benchmark's servers end at the end of their input
    terminate();
    if (!waitForFinished(static_cast<int>(grace.count()))) {
        kill();
        waitForFinished(5'000);
    }
}

} // namespace vennacott::bench
