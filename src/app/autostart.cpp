// Start at login: an XDG autostart entry for the window program.
#include "autostart.h"

#include "console.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStandardPaths>

namespace vennacott {
namespace {

void report(const QString &message)
{
    console::logLine(QStringLiteral("vennacott-ddns: ") + message);
}

// The program as one argument of an Exec line: quoted when it holds a character the desktop entry format
// reserves, "%" doubled, and then escaped as every string value of the file is.
QString execArgument(const QString &program)
{
    static const QString reserved = QStringLiteral(" \t\"'\\><~|&;$*?#()`");
    QString argument = program;
    if (std::any_of(program.begin(), program.end(), [](QChar c) { return reserved.contains(c); })) {
        argument = QStringLiteral("\"");
        for (const QChar c : program) {
            if (c == QLatin1Char('"') || c == QLatin1Char('`') || c == QLatin1Char('$') || c == QLatin1Char('\\'))
                argument += QLatin1Char('\\');
            argument += c;
        }
        argument += QLatin1Char('"');
    }
    argument.replace(QLatin1Char('%'), QStringLiteral("%%"));
    return argument.replace(QLatin1Char('\\'), QStringLiteral("\\\\"));
}

} // namespace

QString autostartEntry(const QString &program)
{
    if (program.isEmpty() || std::any_of(program.begin(), program.end(), [](QChar c) { return c.unicode() < 0x20; }))
        return QString();
    return QStringLiteral("[Desktop Entry]\n"
                          "Type=Application\n"
                          "Name=Vennacott DDNS\n"
                          "Comment=Keep a host name pointing at this computer's address\n"
                          "Exec=%1\n"
                          "Icon=vennacott-ddns\n"
                          "Terminal=false\n"
                          "X-GNOME-Autostart-enabled=true\n")
        .arg(execArgument(program));
}

Autostart::Autostart(QString installedProgram)
    : m_installedProgram(std::move(installedProgram))
{}

QString Autostart::defaultInstalledProgram()
{
    return QStringLiteral(VENNACOTT_INSTALLED_PROGRAM);
}

QString Autostart::entryPath()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
           QStringLiteral("/autostart/vennacott-ddns.desktop");
}

bool Autostart::isEnabled()
{
    return QFileInfo::exists(entryPath());
}

QString Autostart::program() const
{
    if (!m_installedProgram.isEmpty() && QFileInfo(m_installedProgram).isExecutable())
        return m_installedProgram;
    return QCoreApplication::applicationFilePath();
}

bool Autostart::setEnabled(bool enabled)
{
    const QString path = entryPath();
    if (!enabled) {
        if (!QFile::exists(path) || QFile::remove(path))
            return true;
        report(QStringLiteral("could not remove ") + path);
        return false;
    }
    const QString entry = autostartEntry(program());
    QSaveFile file(path);
    if (entry.isEmpty() || !QDir().mkpath(QFileInfo(path).absolutePath()) || !file.open(QIODevice::WriteOnly) ||
        file.write(entry.toUtf8()) < 0 || !file.commit()) {
        report(QStringLiteral("could not write ") + path);
        return false;
    }
    return true;
}

} // namespace vennacott
