#pragma once
#include <map>
#include <memory>
#include <mutex>
#include <string>

#include "FakeDeviceMonitor.h"
#include "HidSystem.h"
#include "SimKeyboard.h"

/// The HID devices of a test: simulated keyboards by node path, listed in path order,
/// opened through CFakeHidPort, and a shared removal event queue behind the monitors.
/// Unplug() makes a keyboard's port fail and posts the "remove" event. Any thread.
class CFakeHidSystem : public os::CHidSystem
{
public:
    CFakeHidSystem() : m_pEvents(std::make_shared<CFakeEventQueue>()) {}

    /// Adds a keyboard at strPath (such as "/dev/hidraw0"). With bListIds the listing
    /// names its vendor and product (as sysfs does); without, only opening tells.
    std::shared_ptr<CSimKeyboard> Add(const std::string& strPath, SimKeyboardConfig config = {},
                                      bool bListIds = true);
    /// A node that is listed but cannot be opened (no permission).
    void AddInaccessible(const std::string& strPath);
    std::shared_ptr<CSimKeyboard> Find(const std::string& strPath) const;
    bool IsInaccessible(const std::string& strPath) const;
    /// Unplugs the keyboard and posts its removal event.
    void Unplug(const std::string& strPath);
    void PostEvent(const os::DeviceEvent& ev) { m_pEvents->Push(ev); }
    /// Result of the monitors' Start (OS_OK by default).
    void SetMonitorStartResult(int nResult) { m_nMonitorStart = nResult; }
    int MonitorsCreated() const { return m_nMonitorsCreated; }

    int Enumerate(std::vector<os::HidDeviceEntry>& vecDevices) override;
    std::unique_ptr<os::CHidPort> CreatePort() override;
    std::unique_ptr<os::CDeviceMonitor> CreateMonitor() override;

private:
    mutable std::mutex m_mtx;
    std::map<std::string, std::shared_ptr<CSimKeyboard>> m_mapKeyboards;
    std::map<std::string, bool> m_mapListIds;
    std::map<std::string, bool> m_mapInaccessible;
    std::shared_ptr<CFakeEventQueue> m_pEvents;
    int m_nMonitorStart = 0;
    int m_nMonitorsCreated = 0;
};
