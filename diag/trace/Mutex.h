#pragma once
#include <atomic>
#include <condition_variable>
#include <mutex>
#include <thread>

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

    /// Releases one ownership taken by a successful Lock of the same thread; a call from a
    /// thread that does not own the mutex changes nothing.
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
    // Built from a plain mutex and a condition variable rather than a timed mutex, so that
    // the thread sanitizer follows the hand-over (it does not see timed mutex locking).
    std::mutex m_stateMutex;
    std::condition_variable m_cvFree;
    std::thread::id m_owner;            // guarded by m_stateMutex
    int m_nCount = 0;                   // ownerships of m_owner; guarded by m_stateMutex
    std::atomic<bool> m_bHeld{false};   // a hint for the spin, read without the lock
};
