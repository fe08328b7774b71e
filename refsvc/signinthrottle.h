// Failed sign-ins counted per account and caller address, so that a burst of guesses is cut short.
#pragma once

#include <QHash>
#include <QString>

#include <chrono>

namespace vennacott::refsvc {

inline constexpr int kDefaultSignInFailures = 5;
inline constexpr std::chrono::milliseconds kDefaultSignInLockout = std::chrono::minutes(5);

// After `failures` refused sign-ins in a row for one key, each within `lockout` of the one before, sign-ins
// for that key are refused for `lockout` from the last failure; a success forgets the failures. Refused
// attempts do not extend the lockout. Zero failures turns the limit off.
class SignInThrottle final
{
public:
    using Clock = std::chrono::steady_clock;
    struct Limits
    {
        int failures = kDefaultSignInFailures;
        std::chrono::milliseconds lockout = kDefaultSignInLockout;
    };

    explicit SignInThrottle(Limits limits)
        : m_limits(limits)
    {}

    // How much longer sign-ins for `key` are refused; zero when one may be tried now.
    std::chrono::milliseconds refusedFor(const QString &key, Clock::time_point now = Clock::now()) const;
    void recordFailure(const QString &key, Clock::time_point now = Clock::now());
    void recordSuccess(const QString &key) { m_entries.remove(key); }

    // The most keys remembered at once; past that the stalest are forgotten first.
    static constexpr qsizetype kMaxKeys = 10'000;

private:
    struct Entry
    {
        int failures = 0;
        Clock::time_point last;
    };
    bool isStale(const Entry &entry, Clock::time_point now) const { return now - entry.last >= m_limits.lockout; }
    void makeRoom(Clock::time_point now);

    const Limits m_limits;
    QHash<QString, Entry> m_entries;
};

} // namespace vennacott::refsvc
