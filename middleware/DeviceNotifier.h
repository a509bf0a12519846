#pragma once
#include <condition_variable>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "DeviceMonitor.h"
#include "HidSystem.h"
#include "StopEvent.h"

class CHidDevice;

/// The process-wide receiver of device removal notifications for open HID devices (the
/// role of the hidden notification window CMainWnd on other platforms).
///
/// One instance per process, reference-counted: every HID transport that has connected
/// holds one reference (Acquire) until it is destroyed (Release). The first reference
/// creates the instance and its notification thread, which waits on the event source of
/// the HID system (udev, or a fake in tests); the last reference stops the thread through
/// its stop event, waits at most 500 ms for it and deletes the instance. The thread is
/// never killed: each of its waits also wakes on the stop event.
///
/// Registration table: notification handle -> (device node, device). Register and
/// Unregister are called by the HID transports' threads, the lookup runs on the
/// notification thread; one lock guards the table, and a device's removal handling runs
/// under it, so that once Unregister has returned no removal handling of that device
/// runs or will run. The devices are not owned.
///
/// On a "remove" event the thread logs "Device %s remove complete" (the node), and for
/// a registered node "Device with handle =0x%x gone", removes the registration and calls
/// the device's OnDeviceRemoved(). A second removal of the same node finds nothing.
class CDeviceNotifier
{
public:
    ~CDeviceNotifier();
    CDeviceNotifier(const CDeviceNotifier&) = delete;
    CDeviceNotifier& operator=(const CDeviceNotifier&) = delete;

    /// Takes one reference; the first creates the instance and starts its thread with an
    /// event source from pHidSystem (may be null: the thread then only waits to be
    /// stopped). Returns the number of references afterwards.
    static int Acquire(os::CHidSystem* pHidSystem);
    /// Drops one reference; at 0 (or below, for an unmatched release) stops the thread and
    /// deletes the instance. Returns the number of references left (never below 0).
    static int Release();
    /// References held; 0 when no instance exists.
    static int UserCount();

    /// Waits at most nTimeoutMs until the notification thread is running and watching.
    /// False when there is no instance or it did not get ready in time.
    static bool WaitReady(int nTimeoutMs);
    /// Enters a device's node into the table. Returns the notification handle (non-zero),
    /// or 0 when there is no instance or an argument is missing.
    static uintptr_t Register(const std::string& strDevicePath, CHidDevice* pDevice);
    /// Removes a registration. False when the handle is unknown (already removed, or
    /// no instance).
    static bool Unregister(uintptr_t hNotify);
    /// Registrations in the table.
    static size_t RegistrationCount();

    /// Handles one event as the notification thread does (exposed for the thread and for
    /// tests of the table; any thread).
    void HandleEvent(const os::DeviceEvent& ev);

private:
    explicit CDeviceNotifier(std::unique_ptr<os::CDeviceMonitor> pMonitor);

    struct Registration
    {
        std::string strDevicePath;
        CHidDevice* pDevice;
    };

    void Start();
    /// Sets the stop event and waits at most 500 ms for the thread, then joins it.
    void Stop();
    void ThreadBody();

    std::unique_ptr<os::CDeviceMonitor> m_pMonitor;  // used by the thread only
    CStopEvent m_stopEvent;
    std::thread m_thread;

    std::mutex m_mtxState;                 // guards m_bReady and m_bEnded
    std::condition_variable m_cvState;
    bool m_bReady = false;
    bool m_bEnded = false;

    mutable std::mutex m_mtxTable;         // guards the table and the handle counter
    std::map<uintptr_t, Registration> m_mapRegistrations;
    uintptr_t m_nNextHandle = 1;
};
