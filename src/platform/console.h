// Whole-line diagnostics on standard output and standard error.
#pragma once

#include <QByteArray>
#include <QStringView>

#include <functional>

namespace vennacott::console {

// Writes one line (the text and a line feed) to standard output in a single write, flushed at once.
// Control characters in the text are written as escapes, so the call always writes exactly one line.
// Safe from any thread: lines from different threads never interleave.
void printLine(QStringView text);

// The same for standard error; the stand-in for the system log.
void logLine(QStringView text);

// The priorities of sd-daemon(3) that problems on standard error carry.
enum class Priority { Error = 3, Warning = 4, Notice = 5 };

// logLine, and when standard error is the journal (JOURNAL_STREAM names it, as systemd sets it for a
// service) the line starts with "<N>" so that the journal files it at that priority. Elsewhere the text
// stands alone.
void logLine(QStringView text, Priority priority);

enum class Stream { Output, Error };

// Replaces the file descriptors with a sink until reset with an empty function. Tests only.
using Sink = std::function<void(Stream, const QByteArray &line)>;
void setSinkForTesting(Sink sink);

} // namespace vennacott::console
