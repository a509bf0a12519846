#include "FakeHidSystem.h"

#include <poll.h>

#include <cerrno>
#include <chrono>

#include "FakeHidPort.h"
#include "OsCodes.h"

// --- CFakeDeviceMonitor ------------------------------------------------------------------

int CFakeDeviceMonitor::Wait(os::DeviceEvent& ev, int nTimeoutMs, int nStopFd)
{
    const auto tpDeadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(nTimeoutMs);
    for (;;)
    {
        if (nStopFd >= 0)
        {
            pollfd pfd{nStopFd, POLLIN, 0};
            if (::poll(&pfd, 1, 0) > 0 && (pfd.revents & POLLIN) != 0)
                return os::OS_ERR_STOPPED;
        }
        if (m_pQueue->Pop(ev, 5))
            return os::OS_OK;
        if (std::chrono::steady_clock::now() >= tpDeadline)
            return os::OS_ERR_TIMEOUT;
    }
}

// --- CFakeHidPort -------------------------------------------------------------------------

int CFakeHidPort::Open(const std::string& strPath)
{
    if (m_system.IsInaccessible(strPath))
    {
        m_nLastError = EACCES;
        return os::OS_ERR_ACCESS;
    }
    std::shared_ptr<CSimKeyboard> pKeyboard = m_system.Find(strPath);
    if (!pKeyboard || !pKeyboard->IsPlugged())
    {
        m_nLastError = ENOENT;
        return os::OS_ERR_NOT_FOUND;
    }
    m_pKeyboard = std::move(pKeyboard);
    return os::OS_OK;
}

int CFakeHidPort::GetRawInfo(os::HidRawInfo& info)
{
    if (!m_pKeyboard || !m_pKeyboard->IsPlugged())
        return os::OS_ERR_GENERAL;
    info = m_pKeyboard->RawInfo();
    return os::OS_OK;
}

int CFakeHidPort::GetReportDescriptor(std::vector<uint8_t>& vecDescriptor)
{
    if (!m_pKeyboard || !m_pKeyboard->IsPlugged())
        return os::OS_ERR_GENERAL;
    vecDescriptor = m_pKeyboard->ReportDescriptor();
    return os::OS_OK;
}

int CFakeHidPort::Read(uint8_t* pBuf, int nSize, int nTimeoutMs, int nStopFd)
{
    if (!m_pKeyboard)
        return os::OS_ERR_GENERAL;
    return m_pKeyboard->ReadInput(pBuf, nSize, nTimeoutMs, nStopFd);
}

int CFakeHidPort::Write(const uint8_t* pData, int nLength, int /*nTimeoutMs*/)
{
    if (!m_pKeyboard)
        return os::OS_ERR_GENERAL;
    return m_pKeyboard->OnOutputReport(pData, nLength);
}

// --- CFakeHidSystem -----------------------------------------------------------------------

std::shared_ptr<CSimKeyboard> CFakeHidSystem::Add(const std::string& strPath, SimKeyboardConfig config,
                                                  bool bListIds)
{
    auto pKeyboard = std::make_shared<CSimKeyboard>(config);
    std::lock_guard<std::mutex> lock(m_mtx);
    m_mapKeyboards[strPath] = pKeyboard;
    m_mapListIds[strPath] = bListIds;
    return pKeyboard;
}

void CFakeHidSystem::AddInaccessible(const std::string& strPath)
{
    std::lock_guard<std::mutex> lock(m_mtx);
    m_mapInaccessible[strPath] = true;
}

std::shared_ptr<CSimKeyboard> CFakeHidSystem::Find(const std::string& strPath) const
{
    std::lock_guard<std::mutex> lock(m_mtx);
    auto it = m_mapKeyboards.find(strPath);
    return it == m_mapKeyboards.end() ? nullptr : it->second;
}

bool CFakeHidSystem::IsInaccessible(const std::string& strPath) const
{
    std::lock_guard<std::mutex> lock(m_mtx);
    return m_mapInaccessible.count(strPath) > 0;
}

void CFakeHidSystem::Unplug(const std::string& strPath)
{
    std::shared_ptr<CSimKeyboard> pKeyboard = Find(strPath);
    if (pKeyboard)
        pKeyboard->Unplug();
    const size_t nSlash = strPath.rfind('/');
    m_pEvents->Push(os::DeviceEvent{"remove", strPath, strPath.substr(nSlash + 1)});
}

int CFakeHidSystem::Enumerate(std::vector<os::HidDeviceEntry>& vecDevices)
{
    std::lock_guard<std::mutex> lock(m_mtx);
    std::map<std::string, os::HidDeviceEntry> mapAll;
    for (const auto& [strPath, pKeyboard] : m_mapKeyboards)
    {
        if (!pKeyboard->IsPlugged())
            continue;
        os::HidDeviceEntry entry;
        entry.strDevicePath = strPath;
        entry.strSysName = strPath.substr(strPath.rfind('/') + 1);
        if (m_mapListIds[strPath])
        {
            entry.nBusType = 3;
            entry.nVendorId = pKeyboard->Config().nVendorId;
            entry.nProductId = pKeyboard->Config().nProductId;
        }
        mapAll[strPath] = entry;
    }
    for (const auto& [strPath, bUnused] : m_mapInaccessible)
    {
        os::HidDeviceEntry entry;
        entry.strDevicePath = strPath;
        mapAll[strPath] = entry;
    }
    for (auto& [strPath, entry] : mapAll)
        vecDevices.push_back(entry);
    return os::OS_OK;
}

std::unique_ptr<os::CHidPort> CFakeHidSystem::CreatePort()
{
    return std::make_unique<CFakeHidPort>(*this);
}

std::unique_ptr<os::CDeviceMonitor> CFakeHidSystem::CreateMonitor()
{
    std::lock_guard<std::mutex> lock(m_mtx);
    ++m_nMonitorsCreated;
    return std::make_unique<CFakeDeviceMonitor>(m_pEvents, m_nMonitorStart);
}
