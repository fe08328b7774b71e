// Which address families an update goes out over, and from which IPv6 source address.
#pragma once

#include "urlsession.h"

#include <QByteArray>
#include <QList>
#include <QString>

#include <optional>

namespace vennacott {

// The user's choice: both families where both reach the update server, or one of them only.
enum class FamilyChoice { Both, IPv4Only, IPv6Only };

// "both", "ipv4", "ipv6": the names of the command line and of the desktop preferences file.
QString familyChoiceName(FamilyChoice choice);
std::optional<FamilyChoice> familyChoiceFromName(const QString &name);

// "IPv4", "IPv6" for people; empty for Any.
QString familyLabel(AddressFamily family);
// "ipv4" or "ipv6" for scripts; empty for Any.
QString familyKey(AddressFamily family);
// The family of an address as the service reports it: IPv6 when it reads as one, IPv4 for any other text.
AddressFamily familyOfAddress(const QString &address);
// Whether `host` is an IPv4 or IPv6 address rather than a name.
bool isAddressLiteral(const QString &host);

// The requests of one tick to `host`: IPv4 then IPv6 when the choice allows both, the name has addresses of
// both kinds and this machine has a route to each; the one chosen family; otherwise one request of either
// family, as the system picks it. Resolves a name (it blocks): call it off the GUI thread unless `host` is an
// address or the choice is one family.
QList<AddressFamily> familiesToSend(const QString &host, FamilyChoice choice);

// The interface a request to `host` over `family` leaves through, as the routing table says ("eth0", "wg0");
// empty when unknown. Resolves a name (it blocks) unless `host` is an address.
QString routeInterface(const QString &host, AddressFamily family);

// From the lines of /proc/net/if_inet6: a stable global address of an interface that also has a temporary
// (privacy) one, in curl's "host!ADDRESS" form; empty when there is no such pair, and the system's own
// choice is as good.
QString stableIPv6Source(const QByteArray &ifInet6);
// The same, read from this machine.
QString stableIPv6Source();

} // namespace vennacott
