#include "UdevMonitorLinux.h"

#include <libudev.h>
#include <poll.h>

#include <cerrno>
#include <chrono>

#include "OsCodes.h"

namespace os
{
CUdevMonitorLinux::~CUdevMonitorLinux()
{
    Free();
}

void CUdevMonitorLinux::Free()
{
    if (m_pMonitor != nullptr)
        udev_monitor_unref(m_pMonitor);
    if (m_pUdev != nullptr)
        udev_unref(m_pUdev);
    m_pMonitor = nullptr;
    m_pUdev = nullptr;
}

int CUdevMonitorLinux::Start()
{
    Free();
    m_pUdev = udev_new();
    if (m_pUdev == nullptr)
        return OS_ERR_GENERAL;
    m_pMonitor = udev_monitor_new_from_netlink(m_pUdev, "udev");
    if (m_pMonitor == nullptr)
    {
        const int nErr = errno;
        Free();
        return nErr == EPERM || nErr == EACCES ? OS_ERR_ACCESS : OS_ERR_GENERAL;
    }
    if (udev_monitor_filter_add_match_subsystem_devtype(m_pMonitor, "hidraw", nullptr) < 0 ||
        udev_monitor_enable_receiving(m_pMonitor) < 0)
    {
        Free();
        return OS_ERR_GENERAL;
    }
    return OS_OK;
}

int CUdevMonitorLinux::Wait(DeviceEvent& ev, int nTimeoutMs, int nStopFd)
{
    if (m_pMonitor == nullptr)
        return OS_ERR_GENERAL;
    const int nFd = udev_monitor_get_fd(m_pMonitor);
    const auto tpDeadline =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(nTimeoutMs < 0 ? 0 : nTimeoutMs);
    for (;;)
    {
        const auto nLeft = std::chrono::duration_cast<std::chrono::milliseconds>(
                               tpDeadline - std::chrono::steady_clock::now())
                               .count();
        pollfd afd[2] = {{nFd, POLLIN, 0}, {nStopFd, POLLIN, 0}};
        const int nReady = ::poll(afd, nStopFd >= 0 ? 2 : 1, nLeft < 0 ? 0 : static_cast<int>(nLeft));
        if (nReady < 0)
        {
            if (errno == EINTR)
                continue;
            return OS_ERR_GENERAL;
        }
        if (nReady == 0)
            return OS_ERR_TIMEOUT;
        if (nStopFd >= 0 && (afd[1].revents & POLLIN) != 0)
            return OS_ERR_STOPPED;
        udev_device* pDevice = udev_monitor_receive_device(m_pMonitor);
        if (pDevice == nullptr)
            continue;  // a message that did not pass the filter or could not be read
        const char* pszAction = udev_device_get_action(pDevice);
        const char* pszNode = udev_device_get_devnode(pDevice);
        const char* pszSysName = udev_device_get_sysname(pDevice);
        ev.strAction = pszAction != nullptr ? pszAction : "";
        ev.strDevicePath = pszNode != nullptr ? pszNode : "";
        ev.strSysName = pszSysName != nullptr ? pszSysName : "";
        udev_device_unref(pDevice);
        return OS_OK;
    }
}
} // namespace os
