// The service origins and texts the client is built with.
#include "endpoints.h"

#include "buildconfig.h"

#include <mutex>

namespace vennacott::endpoints {
namespace {

struct Override
{
    std::mutex mutex;
    QString api;
    QString update;
};

Override &overrides()
{
    static Override instance;
    return instance;
}

} // namespace

QString apiBaseUrl()
{
    Override &current = overrides();
    const std::lock_guard lock(current.mutex);
    return current.api.isEmpty() ? QString::fromUtf8(buildconfig::kApiUrl) : current.api;
}

QString updateBaseUrl()
{
    Override &current = overrides();
    const std::lock_guard lock(current.mutex);
    return current.update.isEmpty() ? QString::fromUtf8(buildconfig::kUpdateUrl) : current.update;
}

QString zoneSuffix()
{
    return QString::fromUtf8(buildconfig::kZoneSuffix);
}

void overrideForTesting(const QString &apiBaseUrl, const QString &updateBaseUrl)
{
    Override &current = overrides();
    const std::lock_guard lock(current.mutex);
    current.api = apiBaseUrl;
    current.update = updateBaseUrl;
}

} // namespace vennacott::endpoints
