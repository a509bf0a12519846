#include "StopEvent.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cstdint>

CStopEvent::CStopEvent()
    : m_nFd(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK))
{
}

CStopEvent::~CStopEvent()
{
    if (m_nFd >= 0)
        ::close(m_nFd);
}

void CStopEvent::Set()
{
    if (m_nFd < 0)
        return;
    const uint64_t nOne = 1;
    // A full counter is impossible in practice; a failed write leaves the event set anyway.
    [[maybe_unused]] ssize_t n = ::write(m_nFd, &nOne, sizeof nOne);
}

void CStopEvent::Reset()
{
    if (m_nFd < 0)
        return;
    uint64_t nValue = 0;
    [[maybe_unused]] ssize_t n = ::read(m_nFd, &nValue, sizeof nValue);  // non-blocking
}

bool CStopEvent::Wait(int nTimeoutMs)
{
    if (m_nFd < 0)
        return false;
    pollfd pfd{m_nFd, POLLIN, 0};
    const int nReady = ::poll(&pfd, 1, nTimeoutMs < 0 ? 0 : nTimeoutMs);
    if (nReady <= 0 || (pfd.revents & POLLIN) == 0)
        return false;
    uint64_t nValue = 0;
    return ::read(m_nFd, &nValue, sizeof nValue) == static_cast<ssize_t>(sizeof nValue);
}
