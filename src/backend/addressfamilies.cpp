// Which address families an update goes out over, and from which IPv6 source address.
#include "addressfamilies.h"

#include <QFile>

#include <arpa/inet.h>
#include <cstring>
#include <ifaddrs.h>
#include <mutex>
#include <netdb.h>
#include <sys/socket.h>
#include <unistd.h>

namespace vennacott {
namespace {

// Flags of /proc/net/if_inet6 (linux/if_addr.h).
constexpr uint kTemporary = 0x01;
constexpr uint kUnusable = 0x08 | 0x20 | 0x40; // failed duplicate detection, deprecated, tentative
constexpr uint kGlobalScope = 0x00;

// A UDP socket's connect() only looks up a route: nothing goes on the wire.
bool hasRouteTo(const addrinfo &address)
{
    const int fd = ::socket(address.ai_family, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return false;
    const bool routed = ::connect(fd, address.ai_addr, address.ai_addrlen) == 0;
    ::close(fd);
    return routed;
}

} // namespace

QString familyChoiceName(FamilyChoice choice)
{
    switch (choice) {
    case FamilyChoice::IPv4Only:
        return QStringLiteral("ipv4");
    case FamilyChoice::IPv6Only:
        return QStringLiteral("ipv6");
    case FamilyChoice::Both:
        break;
    }
    return QStringLiteral("both");
}

std::optional<FamilyChoice> familyChoiceFromName(const QString &name)
{
    for (const FamilyChoice choice : {FamilyChoice::Both, FamilyChoice::IPv4Only, FamilyChoice::IPv6Only}) {
        if (familyChoiceName(choice) == name)
            return choice;
    }
    return std::nullopt;
}

QString familyLabel(AddressFamily family)
{
    switch (family) {
    case AddressFamily::IPv4:
        return QStringLiteral("IPv4");
    case AddressFamily::IPv6:
        return QStringLiteral("IPv6");
    case AddressFamily::Any:
        break;
    }
    return {};
}

QString familyKey(AddressFamily family)
{
    return familyLabel(family).toLower();
}

AddressFamily familyOfAddress(const QString &address)
{
    in6_addr parsed{};
    return ::inet_pton(AF_INET6, address.toLatin1().constData(), &parsed) == 1 ? AddressFamily::IPv6
                                                                               : AddressFamily::IPv4;
}

bool isAddressLiteral(const QString &host)
{
    in6_addr parsed{};
    const QByteArray text = host.toLatin1();
    return ::inet_pton(AF_INET, text.constData(), &parsed) == 1 ||
           ::inet_pton(AF_INET6, text.constData(), &parsed) == 1;
}

QList<AddressFamily> familiesToSend(const QString &host, FamilyChoice choice)
{
    if (choice == FamilyChoice::IPv4Only)
        return {AddressFamily::IPv4};
    if (choice == FamilyChoice::IPv6Only)
        return {AddressFamily::IPv6};
    if (isAddressLiteral(host))
        return {AddressFamily::Any};
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo *found = nullptr;
    if (::getaddrinfo(host.toUtf8().constData(), "443", &hints, &found) != 0)
        return {AddressFamily::Any};
    bool v4 = false;
    bool v6 = false;
    for (const addrinfo *address = found; address; address = address->ai_next) {
        if (address->ai_family == AF_INET && !v4)
            v4 = hasRouteTo(*address);
        else if (address->ai_family == AF_INET6 && !v6)
            v6 = hasRouteTo(*address);
    }
    ::freeaddrinfo(found);
    if (v4 && v6)
        return {AddressFamily::IPv4, AddressFamily::IPv6};
    return {AddressFamily::Any};
}

QString routeInterface(const QString &host, AddressFamily family)
{
    addrinfo hints{};
    hints.ai_family = family == AddressFamily::IPv4 ? AF_INET : family == AddressFamily::IPv6 ? AF_INET6 : AF_UNSPEC;
    hints.ai_socktype = SOCK_DGRAM;
    addrinfo *found = nullptr;
    if (::getaddrinfo(host.toUtf8().constData(), "443", &hints, &found) != 0)
        return {};
    sockaddr_storage local{};
    socklen_t length = sizeof local;
    const int fd = ::socket(found->ai_family, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    const bool routed = fd >= 0 && ::connect(fd, found->ai_addr, found->ai_addrlen) == 0 &&
                        ::getsockname(fd, reinterpret_cast<sockaddr *>(&local), &length) == 0;
    if (fd >= 0)
        ::close(fd);
    ::freeaddrinfo(found);
    if (!routed)
        return {};
    // The port is a new ephemeral one each time: only the family and the address tell the route.
    if (local.ss_family == AF_INET)
        reinterpret_cast<sockaddr_in *>(&local)->sin_port = 0;
    else if (local.ss_family == AF_INET6)
        reinterpret_cast<sockaddr_in6 *>(&local)->sin6_port = 0;
    // The interface list is a netlink dump of every interface and address: asked again only when the route
    // leaves from another local address than the last tick's (a VPN coming up, a new lease).
    static std::mutex mutex;
    static sockaddr_storage lastLocal{};
    static QString lastName;
    const std::lock_guard lock(mutex);
    if (std::memcmp(&local, &lastLocal, sizeof local) == 0)
        return lastName;
    ifaddrs *interfaces = nullptr;
    if (::getifaddrs(&interfaces) != 0)
        return {};
    QString name;
    for (const ifaddrs *entry = interfaces; entry && name.isEmpty(); entry = entry->ifa_next) {
        const sockaddr *address = entry->ifa_addr;
        if (!address || address->sa_family != local.ss_family)
            continue;
        const bool same =
            address->sa_family == AF_INET
                ? reinterpret_cast<const sockaddr_in *>(address)->sin_addr.s_addr ==
                      reinterpret_cast<const sockaddr_in *>(&local)->sin_addr.s_addr
                : std::memcmp(&reinterpret_cast<const sockaddr_in6 *>(address)->sin6_addr,
                              &reinterpret_cast<const sockaddr_in6 *>(&local)->sin6_addr, sizeof(in6_addr)) == 0;
        if (same)
            name = QString::fromLocal8Bit(entry->ifa_name);
    }
    ::freeifaddrs(interfaces);
    lastLocal = local;
    lastName = name;
    return name;
}

QString stableIPv6Source(const QByteArray &ifInet6)
{
    // Each line: address (32 hex digits), interface index, prefix length, scope, flags, interface name.
    struct Entry
    {
        QString address;
        QByteArray interface;
        bool temporary;
    };
    QList<Entry> usable;
    for (const QByteArray &line : ifInet6.split('\n')) {
        const QList<QByteArray> fields = line.simplified().split(' ');
        if (fields.size() != 6 || fields.at(0).size() != 32)
            continue;
        bool scopeOk = false;
        bool flagsOk = false;
        const uint scope = fields.at(3).toUInt(&scopeOk, 16);
        const uint flags = fields.at(4).toUInt(&flagsOk, 16);
        if (!scopeOk || !flagsOk || scope != kGlobalScope || (flags & kUnusable))
            continue;
        QByteArray text;
        for (int i = 0; i < 32; i += 4)
            text += fields.at(0).mid(i, 4) + (i < 28 ? ":" : "");
        in6_addr address{};
        char shortest[INET6_ADDRSTRLEN] = {};
        if (::inet_pton(AF_INET6, text.constData(), &address) != 1 ||
            !::inet_ntop(AF_INET6, &address, shortest, sizeof shortest))
            continue;
        usable.append({QString::fromLatin1(shortest), fields.at(5), bool(flags & kTemporary)});
    }
    for (const Entry &temporary : usable) {
        if (!temporary.temporary)
            continue;
        for (const Entry &stable : usable) {
            if (!stable.temporary && stable.interface == temporary.interface)
                return QStringLiteral("host!") + stable.address;
        }
    }
    return {};
}

QString stableIPv6Source()
{
    QFile file(QStringLiteral("/proc/net/if_inet6"));
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return stableIPv6Source(file.read(256 * 1024));
}

} // namespace vennacott
