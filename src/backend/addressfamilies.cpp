// Which address families an update goes out over, and from which IPv6 source address.
#include "addressfamilies.h"

#include <QFile>
#include <QHash>

#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <ifaddrs.h>
#include <linux/netlink.h>
#include <linux/rtnetlink.h>
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

QList<AddressFamily> lookUpFamilies(const QString &host, FamilyChoice choice)
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

QString lookUpRouteInterface(const QString &host, AddressFamily family)
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
    return name;
}

// Route answers stay good until the routing table, an address or a link changes, which a netlink socket
// subscribed to those changes tells, and, for a name, at most a minute, as its addresses may move. Without
// them every tick made a netlink dump, a UDP socket per family and, for a name, a DNS query of its own.
constexpr std::chrono::seconds kNameAnswerLife{60};

class RouteAnswers final
{
public:
    QList<AddressFamily> families(const QString &host, FamilyChoice choice)
    {
        return answer(m_families, host, host, [&] { return lookUpFamilies(host, choice); });
    }
    QString interface(const QString &host, AddressFamily family)
    {
        return answer(m_interfaces, host, host + u'|' + familyKey(family),
                      [&] { return lookUpRouteInterface(host, family); });
    }

private:
    template<typename Answer>
    using Table = QHash<QString, std::pair<Answer, std::chrono::steady_clock::time_point>>;

    template<typename Answer, typename LookUp>
    Answer answer(Table<Answer> &table, const QString &host, const QString &key, LookUp lookUp)
    {
        const auto now = std::chrono::steady_clock::now();
        {
            const std::lock_guard lock(m_mutex);
            forgetIfChanged();
            const auto found = table.constFind(key);
            if (found != table.cend() && (isAddressLiteral(host) || now - found->second < kNameAnswerLife))
                return found->first;
        }
        Answer fresh = lookUp(); // may block on a name: not under the lock
        const std::lock_guard lock(m_mutex);
        table.insert(key, {fresh, now});
        return fresh;
    }

    void forgetIfChanged()
    {
        if (!m_opened) {
            m_opened = true;
            m_changes = ::socket(AF_NETLINK, SOCK_RAW | SOCK_CLOEXEC | SOCK_NONBLOCK, NETLINK_ROUTE);
            sockaddr_nl groups{};
            groups.nl_family = AF_NETLINK;
            groups.nl_groups =
                RTMGRP_LINK | RTMGRP_IPV4_IFADDR | RTMGRP_IPV6_IFADDR | RTMGRP_IPV4_ROUTE | RTMGRP_IPV6_ROUTE;
            if (m_changes >= 0 && ::bind(m_changes, reinterpret_cast<sockaddr *>(&groups), sizeof groups) != 0) {
                ::close(m_changes);
                m_changes = -1;
            }
        }
        // Nothing telling of changes keeps nothing; a queue not drained in a few reads counts as a change.
        bool changed = true;
        char buffer[16 * 1024];
        for (int reads = 0; m_changes >= 0 && reads < 64; ++reads) {
            const ssize_t n = ::recv(m_changes, buffer, sizeof buffer, MSG_DONTWAIT);
            if (n < 0 && errno == EINTR)
                continue;
            if (n < 0 && errno != ENOBUFS) { // ENOBUFS: more changes than the queue held
                changed = reads > 0;
                break;
            }
        }
        if (changed) {
            m_families.clear();
            m_interfaces.clear();
        }
    }

    std::mutex m_mutex;
    bool m_opened = false;
    int m_changes = -1;
    Table<QList<AddressFamily>> m_families;
    Table<QString> m_interfaces;
};

RouteAnswers &routeAnswers()
{
    static RouteAnswers answers;
    return answers;
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
    if (choice != FamilyChoice::Both || isAddressLiteral(host))
        return lookUpFamilies(host, choice);
    return routeAnswers().families(host, choice);
}

QString routeInterface(const QString &host, AddressFamily family)
{
    return routeAnswers().interface(host, family);
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
