#pragma once

/// An auto-reset event that can be polled beside a socket: an eventfd that is readable
/// while the event is set. Set() may be called from any thread; Wait()/Consume() by the
/// thread that is to be stopped. The file descriptor is owned and closed on destruction.
class CStopEvent
{
public:
    CStopEvent();
    ~CStopEvent();
    CStopEvent(const CStopEvent&) = delete;
    CStopEvent& operator=(const CStopEvent&) = delete;

    /// False when the eventfd could not be created (then Set/Wait do nothing / time out).
    bool IsValid() const { return m_nFd >= 0; }
    /// Signals the event; it stays signalled until a waiter consumes it.
    void Set();
    /// Clears the event without waiting.
    void Reset();
    /// Waits at most nTimeoutMs; true (and the event cleared) when it was set.
    bool Wait(int nTimeoutMs);
    /// The descriptor for poll(): POLLIN while the event is set.
    int Fd() const { return m_nFd; }

private:
    int m_nFd;
};
