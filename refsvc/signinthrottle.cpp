// Failed sign-ins counted per account and caller address, so that a burst of guesses is cut short.
#include "signinthrottle.h"

#include <algorithm>

namespace vennacott::refsvc {

std::chrono::milliseconds SignInThrottle::refusedFor(const QString &key, Clock::time_point now) const
{
    const auto it = m_entries.constFind(key);
    if (m_limits.failures <= 0 || it == m_entries.cend() || it->failures < m_limits.failures || isStale(*it, now))
        return std::chrono::milliseconds::zero();
    return std::chrono::ceil<std::chrono::milliseconds>(it->last + m_limits.lockout - now);
}

void SignInThrottle::recordFailure(const QString &key, Clock::time_point now)
{
    if (m_limits.failures <= 0)
        return;
    auto it = m_entries.find(key);
    if (it == m_entries.end()) {
        makeRoom(now);
        it = m_entries.insert(key, Entry{});
    } else if (isStale(*it, now)) {
        it->failures = 0;
    }
    ++it->failures;
    it->last = now;
}

void SignInThrottle::makeRoom(Clock::time_point now)
{
    if (m_entries.size() < kMaxKeys)
        return;
    m_entries.removeIf([&](const auto &entry) { return isStale(entry.value(), now); });
    // Many addresses guessing at once: the key whose last failure is oldest goes.
    if (m_entries.size() >= kMaxKeys) {
        const auto oldest = std::min_element(m_entries.begin(), m_entries.end(),
                                             [](const Entry &a, const Entry &b) { return a.last < b.last; });
        m_entries.erase(oldest);
    }
}

} // namespace vennacott::refsvc
