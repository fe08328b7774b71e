// The service origins and texts the client is built with.
#pragma once

#include "buildconfig.h"

#include <QString>

namespace vennacott::endpoints {

inline QString apiBaseUrl()
{
    return QString::fromUtf8(buildconfig::kApiUrl);
}

inline QString updateBaseUrl()
{
    return QString::fromUtf8(buildconfig::kUpdateUrl);
}

inline QString zoneSuffix()
{
    return QString::fromUtf8(buildconfig::kZoneSuffix);
}

} // namespace vennacott::endpoints
