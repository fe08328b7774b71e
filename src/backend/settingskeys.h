// The keys of the stored settings shared by the window and the updater.
#pragma once

#include <QString>

namespace vennacott::keys {

inline const QString kToken = QStringLiteral("token");
inline const QString kHostname = QStringLiteral("hostname");
inline const QString kDnsLink = QStringLiteral("dnsLink");

} // namespace vennacott::keys
