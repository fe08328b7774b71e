// What the fuzz targets share: the check that stops a run, a scratch folder, and printed lines kept in memory.
#pragma once

#include "console.h"

#include <QList>
#include <QTemporaryDir>

#include <cstdio>
#include <cstdlib>

// A broken invariant ends the run; libFuzzer keeps the input that broke it.
#define FUZZ_CHECK(condition)                                                                                          \
    ((condition)                                                                                                       \
         ? void()                                                                                                      \
         : (std::fprintf(stderr, "%s:%d: invariant broken: %s\n", __FILE__, __LINE__, #condition), std::abort()))

namespace vennacott::fuzz {

// A folder of this run's own under $TMPDIR, removed when the run ends normally.
inline QString scratchFolder()
{
    static const QTemporaryDir folder;
    return folder.path();
}

// A new path at each call: Qt rereads a settings file it cached only when its size or time stamp (in ms) changed.
inline QString newPath(const QString &name)
{
    static quint64 count = 0;
    return scratchFolder() + QStringLiteral("/%1-").arg(++count) + name;
}

// Every line printed since the last clear(), kept instead of written once keepPrintedLines() ran, each one line.
inline QList<QByteArray> &printedLines()
{
    static QList<QByteArray> lines;
    return lines;
}
inline void keepPrintedLines()
{
    console::setSinkForTesting([](console::Stream, const QByteArray &line) {
        FUZZ_CHECK(line.endsWith('\n') && line.count('\n') == 1 && !line.contains('\r'));
        printedLines().append(line);
    });
}

} // namespace vennacott::fuzz
