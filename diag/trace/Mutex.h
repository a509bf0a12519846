#pragma once
#include <mutex>

/// The middleware's small mutex wrapper, with the semantics of an unnamed Windows mutex:
/// the owning thread may acquire it again (each Lock needs its Unlock), and acquiring is
/// always bounded in time.
///
/// One process-wide instance (ProcessWide()) exists from first use until the program ends;
/// the trace facility takes it around every log write and the middleware may use it for
/// its own short critical sections. Any thread may call every operation.
class Mutex
{
public:
    /// The longest wait of the trace facility for the lock.
    static constexpr int DEFAULT_TIMEOUT_MS = 1000;

    Mutex() = default;
    Mutex(const Mutex&) = delete;
    Mutex& operator=(const Mutex&) = delete;

    /// The process-wide instance, created unowned on first use.
    static Mutex& ProcessWide();

    /// Waits at most nTimeoutMs (0: only tries) for the mutex.
    /// Returns true when the calling thread now owns it, false when the wait timed out.
    [[nodiscard]] bool Lock(int nTimeoutMs = DEFAULT_TIMEOUT_MS);

    /// Releases one ownership taken by a successful Lock of the same thread.
    void Unlock();

    /// Holds the mutex for one scope when the bounded wait succeeds; Owns() says whether it did.
    class CGuard
    {
    public:
        explicit CGuard(Mutex& mutex, int nTimeoutMs = DEFAULT_TIMEOUT_MS)
            : m_mutex(mutex), m_bOwns(mutex.Lock(nTimeoutMs))
        {
        }
        ~CGuard()
        {
            if (m_bOwns)
                m_mutex.Unlock();
        }
        CGuard(const CGuard&) = delete;
        CGuard& operator=(const CGuard&) = delete;
        bool Owns() const { return m_bOwns; }

    private:
        Mutex& m_mutex;
        bool m_bOwns;
    };

private:
    std::recursive_timed_mutex m_mutex;
};
