#pragma once
#include <pthread.h>
#include <signal.h>
#include <time.h>

namespace tls
{
/// Blocks SIGPIPE on this thread while OpenSSL writes to a socket the peer may have closed,
/// and swallows a SIGPIPE raised meanwhile (one already pending before is left alone): a
/// terminal that hangs up must end its connection with an error code, not the program.
class CSigPipeGuard
{
public:
    CSigPipeGuard()
    {
        sigset_t set;
        sigemptyset(&set);
        sigaddset(&set, SIGPIPE);
        sigset_t pending;
        sigpending(&pending);
        m_bPendingBefore = sigismember(&pending, SIGPIPE) == 1;
        pthread_sigmask(SIG_BLOCK, &set, &m_oldMask);
    }
    ~CSigPipeGuard()
    {
        sigset_t pending;
        sigpending(&pending);
        if (!m_bPendingBefore && sigismember(&pending, SIGPIPE) == 1)
        {
            sigset_t set;
            sigemptyset(&set);
            sigaddset(&set, SIGPIPE);
            const timespec tsZero{0, 0};
            sigtimedwait(&set, nullptr, &tsZero);
        }
        pthread_sigmask(SIG_SETMASK, &m_oldMask, nullptr);
    }
    CSigPipeGuard(const CSigPipeGuard&) = delete;
    CSigPipeGuard& operator=(const CSigPipeGuard&) = delete;

private:
    sigset_t m_oldMask{};
    bool m_bPendingBefore = false;
};
} // namespace tls
