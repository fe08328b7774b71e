// An error as the platform's services report it.
#include "error.h"

namespace vennacott {

QString Error::description() const
{
    return QStringLiteral("Error Domain=%1 Code=%2 \"%3\"").arg(domain).arg(code).arg(localizedDescription);
}

} // namespace vennacott
