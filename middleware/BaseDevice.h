#pragma once
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "StopEvent.h"

class CSicctDevice;
class CDeviceInfo;

/// Common base of the middleware transports (CLanDevice, CHidDevice).
///
/// Holds the protocol object that classifies received messages (not owned, may be null),
/// one background listener thread with its running flag and stop event, and the hand-over
/// of one complete received message from the listener to a waiting writer.
///
/// Threads: the caller of Connect/Write/KillListener (one at a time) and the listener.
/// The response buffer, its presence and the response event are guarded by one mutex;
/// the listener fills the buffer and signals, the writer waits, copies and frees it.
/// The listener is never killed: it must poll StopEventFd() (or check IsRunning()) at
/// least every 100 ms, so that KillListener ends it within 500 ms.
/// A derived class must call KillListener() in its own destructor: the listener runs
/// the derived class's code.
class CBaseDevice
{
public:
    CBaseDevice();
    virtual ~CBaseDevice();
    CBaseDevice(const CBaseDevice&) = delete;
    CBaseDevice& operator=(const CBaseDevice&) = delete;

    /// Starts the listener thread running ListenerThread(); the connection string is not
    /// used here. Returns 0; when the thread cannot be started the running flag is cleared.
    virtual int Connect(std::string strConnection);
    /// Closes the link and stops the listener; 0.
    virtual int DisConnect() = 0;
    /// Sends a request and waits at most nTimeoutMs for the response; nResponseLength is the
    /// buffer size on entry and the response length on success. Codes: mw::TransportResult.
    virtual int Write(const uint8_t* pRequest, int nLength, uint8_t* pResponse, int& nResponseLength,
                      int nTimeoutMs, int nFlag) = 0;
    /// Searches devices; the list holds the wanted devices on entry (entries may be null) and
    /// newly allocated records of every device found on return (the caller owns them).
    virtual void GetDevices(std::vector<CDeviceInfo*>& vecDevices) = 0;
    /// The body of the connection listener.
    virtual int ListenerThread() = 0;

    /// Stops the listener (or the discovery thread): clears the running flag, sets the stop
    /// event and waits at most 500 ms for the thread to end, then forgets it.
    void KillListener();

    void SetOwner(CSicctDevice* pOwner) { m_pOwner = pOwner; }
    CSicctDevice* GetOwner() const { return m_pOwner; }
    bool IsRunning() const { return m_bRunning.load(); }
    /// True while a listener thread exists and has not ended.
    bool HasLiveListener() const;

protected:
    using Clock = std::chrono::steady_clock;

    /// Starts fnBody on the listener thread unless a live one exists (an ended thread is
    /// joined first). Sets the running flag; clears it again when the thread cannot start.
    /// The stop event is created on first use and reset before each start.
    bool StartListenerThread(std::function<int()> fnBody);

    /// Descriptor of the stop event for poll(), -1 when none exists yet.
    int StopEventFd() const { return m_pStopEvent ? m_pStopEvent->Fd() : -1; }
    void ClearRunning() { m_bRunning.store(false); }

    // --- response hand-over (all of these need m_mtxResponse held) ------------------------
    /// Sets the auto-reset response event (caller holds the lock).
    void SignalResponseLocked();
    /// Waits until the response event is set or the deadline passes; resets the event.
    /// True when the event came.
    bool WaitResponseLocked(std::unique_lock<std::mutex>& lock, Clock::time_point tpDeadline);
    /// Frees the response buffer.
    void FreeResponseLocked();

    CSicctDevice* m_pOwner;
    std::mutex m_mtxResponse;                 // guards the four members below
    std::vector<uint8_t> m_vecResponse;       // one message, complete or being assembled
    bool m_bHasResponse;                      // the buffer is present (a message started)
    bool m_bResponseEvent;                    // auto-reset response event
    std::condition_variable m_cvResponse;

private:
    void ThreadEntry(std::function<int()> fnBody);

    std::atomic<bool> m_bRunning;
    std::unique_ptr<CStopEvent> m_pStopEvent;
    std::thread m_thrListener;
    mutable std::mutex m_mtxThreadState;      // guards m_bThreadEnded
    std::condition_variable m_cvThreadEnded;
    bool m_bThreadEnded;
};
