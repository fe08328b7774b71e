// An error as the platform's services report it.
#include "error.h"

namespace vennacott {

QString Error::description() const
{
    // One multi-argument call: a "%1" inside the description (a folder's name, say) is not a placeholder.
    return QStringLiteral("Error Domain=%1 Code=%2 \"%3\"").arg(domain, QString::number(code), localizedDescription);
}

} // namespace vennacott
