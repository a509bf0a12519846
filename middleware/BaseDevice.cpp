#include "BaseDevice.h"

#include <exception>

#include "MiddlewareCodes.h"
#include "MwTrace.h"

namespace
{
constexpr int kKillWaitMs = 500;
}

CBaseDevice::CBaseDevice()
    : m_pOwner(nullptr)
    , m_bHasResponse(false)
    , m_bResponseEvent(false)
    , m_bRunning(false)
    , m_bThreadEnded(true)
{
}

CBaseDevice::~CBaseDevice()
{
    // Normally the derived destructor has stopped the listener already.
    KillListener();
}

int CBaseDevice::Connect(std::string /*strConnection*/)
{
    StartListenerThread([this] { return ListenerThread(); });
    return mw::MW_OK;
}

bool CBaseDevice::HasLiveListener() const
{
    std::lock_guard<std::mutex> lock(m_mtxThreadState);
    return m_thrListener.joinable() && !m_bThreadEnded;
}

bool CBaseDevice::StartListenerThread(std::function<int()> fnBody)
{
    m_bRunning.store(true);
    TC_TRACE(mw::kTraceCtApi, trace::LEVEL_ENTER, "Create Listener", 0);
    if (!m_pStopEvent)
        m_pStopEvent = std::make_unique<CStopEvent>();
    if (m_thrListener.joinable())
    {
        {
            std::lock_guard<std::mutex> lock(m_mtxThreadState);
            if (!m_bThreadEnded)
                return true;  // one listener at a time
        }
        m_thrListener.join();  // ended by itself: returns at once
    }
    // A stop left over from an earlier run must not end the new thread at once.
    m_pStopEvent->Reset();
    {
        std::lock_guard<std::mutex> lock(m_mtxThreadState);
        m_bThreadEnded = false;
    }
    try
    {
        m_thrListener = std::thread(&CBaseDevice::ThreadEntry, this, std::move(fnBody));
    }
    catch (const std::exception&)
    {
        std::lock_guard<std::mutex> lock(m_mtxThreadState);
        m_bThreadEnded = true;
        m_bRunning.store(false);
        TC_TRACE(mw::kTraceCtApi, trace::LEVEL_ERROR, "Create Listener failed", 0);
        return false;
    }
    return true;
}

void CBaseDevice::ThreadEntry(std::function<int()> fnBody)
{
    try
    {
        fnBody();
    }
    catch (const std::exception& e)
    {
        TC_TRACE(mw::kTraceCtApi, trace::LEVEL_ERROR, e.what(), 0);
    }
    catch (...)
    {
        TC_TRACE(mw::kTraceCtApi, trace::LEVEL_ERROR, "ListenerThread: unknown exception", 0);
    }
    std::lock_guard<std::mutex> lock(m_mtxThreadState);
    m_bThreadEnded = true;
    m_cvThreadEnded.notify_all();
}

void CBaseDevice::KillListener()
{
    TC_TRACE(mw::kTraceCtApi, trace::LEVEL_ENTER, "(KillListener) entering", 0);
    m_bRunning.store(false);
    if (m_thrListener.joinable())
    {
        if (m_pStopEvent)
            m_pStopEvent->Set();
        bool bEnded = false;
        {
            std::unique_lock<std::mutex> lock(m_mtxThreadState);
            bEnded = m_cvThreadEnded.wait_for(lock, std::chrono::milliseconds(kKillWaitMs),
                                              [this] { return m_bThreadEnded; });
        }
        if (!bEnded)
        {
            // Never killed: every wait of a listener is bounded, so the join below ends
            // soon; the line records that the bound was missed.
            TC_TRACE(mw::kTraceCtApi, trace::LEVEL_INFO, "ListenerThread ran into Timeout, waiting for its end.",
                     0);
        }
        m_thrListener.join();
    }
    TC_TRACE(mw::kTraceCtApi, trace::LEVEL_LEAVE, "(KillListener) leaving", 0);
}

void CBaseDevice::SignalResponseLocked()
{
    m_bResponseEvent = true;
    m_cvResponse.notify_all();
}

bool CBaseDevice::WaitResponseLocked(std::unique_lock<std::mutex>& lock, Clock::time_point tpDeadline)
{
    const bool bSignalled = m_cvResponse.wait_until(lock, tpDeadline, [this] { return m_bResponseEvent; });
    if (bSignalled)
        m_bResponseEvent = false;  // auto-reset
    return bSignalled;
}

void CBaseDevice::FreeResponseLocked()
{
    m_vecResponse.clear();
    m_vecResponse.shrink_to_fit();
    m_bHasResponse = false;
}
