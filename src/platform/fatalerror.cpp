// The end of the process for a state it cannot go on from.
#include "fatalerror.h"

#include "console.h"

#include <QString>

#include <cstdlib>

namespace vennacott {

void fatalError(QStringView message)
{
    console::logLine(QStringLiteral("Fatal error: ") + message.toString());
    std::_Exit(EXIT_FAILURE);
}

} // namespace vennacott
