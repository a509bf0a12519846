#include "DeviceNotifier.h"

#include <exception>

#include "HidDevice.h"
#include "MiddlewareCodes.h"
#include "MwTrace.h"
#include "OsCodes.h"

namespace
{
constexpr const char* kTraceCtApiUpper = "CTApi";
constexpr int kStopWaitMs = 500;
// Bound of one wait for an event; the stop event ends it earlier.
constexpr int kEventWaitMs = 500;
// Pause after a failing event source, so that a broken monitor cannot spin the thread.
constexpr int kFailurePauseMs = 100;

std::mutex g_mtxInstance;  // guards the two below; never taken by the notification thread
CDeviceNotifier* g_pInstance = nullptr;
int g_nUsers = 0;

/// The kernel name of a node path ("/dev/hidraw3" -> "hidraw3").
std::string BaseName(const std::string& strPath)
{
    const size_t nSlash = strPath.rfind('/');
    return nSlash == std::string::npos ? strPath : strPath.substr(nSlash + 1);
}
} // namespace

CDeviceNotifier::CDeviceNotifier(std::unique_ptr<os::CDeviceMonitor> pMonitor)
    : m_pMonitor(std::move(pMonitor))
{
}

CDeviceNotifier::~CDeviceNotifier()
{
    Stop();
}

int CDeviceNotifier::Acquire(os::CHidSystem* pHidSystem)
{
    std::lock_guard<std::mutex> lock(g_mtxInstance);
    if (g_pInstance == nullptr)
    {
        g_pInstance = new CDeviceNotifier(pHidSystem != nullptr ? pHidSystem->CreateMonitor() : nullptr);
        g_nUsers = 0;
        g_pInstance->Start();
    }
    return ++g_nUsers;
}

int CDeviceNotifier::Release()
{
    CDeviceNotifier* pDelete = nullptr;
    int nLeft = 0;
    {
        std::lock_guard<std::mutex> lock(g_mtxInstance);
        if (g_pInstance == nullptr)
            return 0;
        nLeft = --g_nUsers;
        if (nLeft <= 0)
        {
            pDelete = g_pInstance;
            g_pInstance = nullptr;
            g_nUsers = 0;
            nLeft = 0;
        }
    }
    // Stopped outside the instance lock: a transport registering meanwhile finds no
    // instance and gets 0, instead of waiting for the thread's end.
    delete pDelete;
    return nLeft;
}

int CDeviceNotifier::UserCount()
{
    std::lock_guard<std::mutex> lock(g_mtxInstance);
    return g_pInstance != nullptr ? g_nUsers : 0;
}

bool CDeviceNotifier::WaitReady(int nTimeoutMs)
{
    std::lock_guard<std::mutex> lock(g_mtxInstance);
    if (g_pInstance == nullptr)
        return false;
    std::unique_lock<std::mutex> lockState(g_pInstance->m_mtxState);
    return g_pInstance->m_cvState.wait_for(lockState, std::chrono::milliseconds(nTimeoutMs < 0 ? 0 : nTimeoutMs),
                                           [] { return g_pInstance->m_bReady; });
}

uintptr_t CDeviceNotifier::Register(const std::string& strDevicePath, CHidDevice* pDevice)
{
    if (strDevicePath.empty() || pDevice == nullptr)
        return 0;
    std::lock_guard<std::mutex> lock(g_mtxInstance);
    if (g_pInstance == nullptr)
        return 0;
    std::lock_guard<std::mutex> lockTable(g_pInstance->m_mtxTable);
    const uintptr_t hNotify = g_pInstance->m_nNextHandle++;
    g_pInstance->m_mapRegistrations[hNotify] = Registration{strDevicePath, pDevice};
    return hNotify;
}

bool CDeviceNotifier::Unregister(uintptr_t hNotify)
{
    std::lock_guard<std::mutex> lock(g_mtxInstance);
    if (g_pInstance == nullptr)
        return false;
    std::lock_guard<std::mutex> lockTable(g_pInstance->m_mtxTable);
    return g_pInstance->m_mapRegistrations.erase(hNotify) > 0;
}

size_t CDeviceNotifier::RegistrationCount()
{
    std::lock_guard<std::mutex> lock(g_mtxInstance);
    if (g_pInstance == nullptr)
        return 0;
    std::lock_guard<std::mutex> lockTable(g_pInstance->m_mtxTable);
    return g_pInstance->m_mapRegistrations.size();
}

void CDeviceNotifier::HandleEvent(const os::DeviceEvent& ev)
{
    if (ev.strAction != "remove")
        return;
    const std::string strName = !ev.strDevicePath.empty() ? ev.strDevicePath : ev.strSysName;
    MW_TRACEF(kTraceCtApiUpper, trace::LEVEL_INFO, 0, "Device %s remove complete", strName.c_str());

    std::lock_guard<std::mutex> lockTable(m_mtxTable);
    for (auto it = m_mapRegistrations.begin(); it != m_mapRegistrations.end();)
    {
        const Registration& reg = it->second;
        const bool bMatch = (!ev.strDevicePath.empty() && reg.strDevicePath == ev.strDevicePath) ||
                            (!ev.strSysName.empty() && BaseName(reg.strDevicePath) == ev.strSysName);
        if (!bMatch)
        {
            ++it;
            continue;
        }
        MW_TRACEF(kTraceCtApiUpper, trace::LEVEL_INFO, 0, "Device with handle =0x%x gone",
                  static_cast<unsigned>(it->first));
        CHidDevice* pDevice = reg.pDevice;
        it = m_mapRegistrations.erase(it);
        // Under the table lock: the device cannot finish Unregister (and be destroyed)
        // while its removal handling runs.
        pDevice->OnDeviceRemoved();
    }
}

void CDeviceNotifier::Start()
{
    try
    {
        m_thread = std::thread(&CDeviceNotifier::ThreadBody, this);
    }
    catch (const std::exception&)
    {
        TC_TRACE(kTraceCtApiUpper, trace::LEVEL_ERROR, "notification thread could not be started", 0);
        std::lock_guard<std::mutex> lock(m_mtxState);
        m_bEnded = true;
    }
}

void CDeviceNotifier::Stop()
{
    if (!m_thread.joinable())
        return;
    m_stopEvent.Set();
    bool bEnded = false;
    {
        std::unique_lock<std::mutex> lock(m_mtxState);
        bEnded = m_cvState.wait_for(lock, std::chrono::milliseconds(kStopWaitMs), [this] { return m_bEnded; });
    }
    if (!bEnded)
        TC_TRACE(kTraceCtApiUpper, trace::LEVEL_INFO, "notification thread ran into Timeout, waiting for its end.",
                 0);
    m_thread.join();
}

void CDeviceNotifier::ThreadBody()
{
    try
    {
        bool bWatching = false;
        if (m_pMonitor)
        {
            const int nStart = m_pMonitor->Start();
            bWatching = nStart == os::OS_OK;
            if (!bWatching)
                TC_TRACE(kTraceCtApiUpper, trace::LEVEL_ERROR, "device monitor could not be started", nStart);
        }
        {
            std::lock_guard<std::mutex> lock(m_mtxState);
            m_bReady = true;
        }
        m_cvState.notify_all();

        for (;;)
        {
            if (!bWatching)
            {
                if (m_stopEvent.Wait(kEventWaitMs))
                    break;
                continue;
            }
            os::DeviceEvent ev;
            const int nWait = m_pMonitor->Wait(ev, kEventWaitMs, m_stopEvent.Fd());
            if (nWait == os::OS_ERR_STOPPED)
                break;
            if (nWait == os::OS_OK)
                HandleEvent(ev);
            else if (nWait != os::OS_ERR_TIMEOUT && m_stopEvent.Wait(kFailurePauseMs))
                break;
        }
    }
    catch (const std::exception& e)
    {
        TC_TRACE(kTraceCtApiUpper, trace::LEVEL_ERROR, e.what(), 0);
    }
    {
        std::lock_guard<std::mutex> lock(m_mtxState);
        m_bReady = true;  // a waiter for readiness must not hang on a thread that ended
        m_bEnded = true;
    }
    m_cvState.notify_all();
}
