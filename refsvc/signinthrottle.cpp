// Events counted per key within a time span, so that a burst of them is cut short.
#include "signinthrottle.h"

#include <algorithm>

namespace vennacott::refsvc {

std::chrono::milliseconds SignInThrottle::refusedFor(const QString &key, Clock::time_point now)
{
    if (m_limits.count <= 0)
        return std::chrono::milliseconds::zero();
    const auto it = m_entries.constFind(key);
    if (it != m_entries.cend()) {
        if (!isRefused(*it, now))
            return std::chrono::milliseconds::zero();
        return std::chrono::ceil<std::chrono::milliseconds>(it->last + m_limits.lockout - now);
    }
    if (makeRoom(now))
        return std::chrono::milliseconds::zero();
    // Every key remembered is refused: a new one waits until the first of them is free again, so that an
    // event it causes can be counted.
    const auto first = std::min_element(m_entries.cbegin(), m_entries.cend(),
                                        [](const Entry &a, const Entry &b) { return a.last < b.last; });
    return std::chrono::ceil<std::chrono::milliseconds>(first->last + m_limits.lockout - now);
}

void SignInThrottle::record(const QString &key, Clock::time_point now)
{
    if (m_limits.count <= 0)
        return;
    auto it = m_entries.find(key);
    if (it == m_entries.end()) {
        if (!makeRoom(now))
            return; // refusedFor() said so before the event
        it = m_entries.insert(key, Entry{});
    } else if (isStale(*it, now)) {
        it->count = 0;
    }
    ++it->count;
    it->last = now;
}

bool SignInThrottle::makeRoom(Clock::time_point now)
{
    if (m_entries.size() < m_limits.maxKeys)
        return true;
    m_entries.removeIf([&](const auto &entry) { return isStale(entry.value(), now); });
    if (m_entries.size() < m_limits.maxKeys)
        return true;
    // Many keys at once: the unrefused one whose last event is oldest goes.
    auto oldest = m_entries.end();
    for (auto it = m_entries.begin(); it != m_entries.end(); ++it) {
        if (!isRefused(*it, now) && (oldest == m_entries.end() || it->last < oldest->last))
            oldest = it;
    }
    if (oldest == m_entries.end())
        return false;
    m_entries.erase(oldest);
    return true;
}

} // namespace vennacott::refsvc
