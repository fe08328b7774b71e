// Events counted per key within a time span, so that a burst of them is cut short: failed sign-ins per
// account and caller address, failed sign-ins per account, new accounts per caller address.
#pragma once

#include <QHash>
#include <QString>

#include <chrono>

namespace vennacott::refsvc {

inline constexpr int kDefaultSignInFailures = 5;
inline constexpr std::chrono::milliseconds kDefaultSignInLockout = std::chrono::minutes(5);
// Whatever the caller's address: a higher count, since all callers share it, and a shorter lock, since it
// also keeps the account's owner out.
inline constexpr int kDefaultAccountSignInFailures = 20;
inline constexpr std::chrono::milliseconds kDefaultAccountSignInLockout = std::chrono::minutes(1);
inline constexpr int kDefaultNewAccountsPerAddress = 20;
inline constexpr std::chrono::milliseconds kNewAccountWindow = std::chrono::hours(1);

// After `count` events in a row for one key, each within `lockout` of the one before, the key is refused
// for `lockout` from the last event; forget() drops its events. Refused attempts are no events. Zero
// turns the limit off.
class SignInThrottle final
{
public:
    using Clock = std::chrono::steady_clock;
    struct Limits
    {
        int count = kDefaultSignInFailures;
        std::chrono::milliseconds lockout = kDefaultSignInLockout;
        // The most keys remembered at once. When the table is full a new key takes the place of a stale
        // one, else of the one unrefused key whose last event is oldest; a refused key is never forgotten
        // to make room, and while every key is refused a new key is refused too.
        qsizetype maxKeys = 10'000;
    };

    explicit SignInThrottle(Limits limits)
        : m_limits(limits)
    {}

    // How much longer `key` is refused; zero when it may be tried now (and its event can be counted).
    std::chrono::milliseconds refusedFor(const QString &key, Clock::time_point now = Clock::now());
    void record(const QString &key, Clock::time_point now = Clock::now());
    void forget(const QString &key) { m_entries.remove(key); }

private:
    struct Entry
    {
        int count = 0;
        Clock::time_point last;
    };
    bool isStale(const Entry &entry, Clock::time_point now) const { return now - entry.last >= m_limits.lockout; }
    bool isRefused(const Entry &entry, Clock::time_point now) const
    {
        return entry.count >= m_limits.count && !isStale(entry, now);
    }
    bool makeRoom(Clock::time_point now);

    const Limits m_limits;
    QHash<QString, Entry> m_entries;
};

} // namespace vennacott::refsvc
