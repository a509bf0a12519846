#pragma once
#include <cstdint>
#include <string>
#include <vector>

namespace os
{
/// Bus type, vendor and product ID of an open HID device (HIDIOCGRAWINFO).
struct HidRawInfo
{
    uint32_t nBusType = 0;
    uint16_t nVendorId = 0;
    uint16_t nProductId = 0;
};

/// One open HID device node: what the HID transport needs from the system, nothing more.
///
/// Report framing follows the kernel's raw HID interface: a report written starts with its
/// report ID (0 for a device without numbered reports); a report read starts with its
/// report ID only when the device numbers its reports.
///
/// Threads: one reader (the listener or a discovery exchange) and one writer may use the
/// port at the same time; Open/Close are called by the owner while neither runs.
/// The owner holds the port; the device node is closed on Close() or destruction.
class CHidPort
{
public:
    virtual ~CHidPort() = default;

    /// Opens the node for reading and writing. OS_OK, OS_ERR_NOT_FOUND, OS_ERR_ACCESS or
    /// OS_ERR_GENERAL; LastErrorCode() then holds the system's code.
    virtual int Open(const std::string& strPath) = 0;
    virtual bool IsOpen() const = 0;
    /// Bus, vendor and product. OS_OK or OS_ERR_GENERAL (not open, or the request failed).
    virtual int GetRawInfo(HidRawInfo& info) = 0;
    /// The device's report descriptor bytes. OS_OK or OS_ERR_GENERAL.
    virtual int GetReportDescriptor(std::vector<uint8_t>& vecDescriptor) = 0;
    /// Reads one input report into pBuf (at most nSize bytes), waiting at most nTimeoutMs.
    /// nStopFd (or -1) is a descriptor that becomes readable to cancel the wait; it is not
    /// consumed. Returns the report's length, or OS_ERR_TIMEOUT, OS_ERR_STOPPED,
    /// OS_ERR_CLOSED (the device went away) or OS_ERR_GENERAL.
    virtual int Read(uint8_t* pBuf, int nSize, int nTimeoutMs, int nStopFd) = 0;
    /// Writes one output report (report ID first), waiting at most nTimeoutMs for the device
    /// to take it. Returns the bytes written, or OS_ERR_TIMEOUT, OS_ERR_CLOSED or
    /// OS_ERR_GENERAL.
    virtual int Write(const uint8_t* pData, int nLength, int nTimeoutMs) = 0;
    /// Closes the node; a closed port fails every operation but Open.
    virtual void Close() = 0;
    /// The system's error code of the last failed operation (errno on Linux), for logs.
    virtual int LastErrorCode() const = 0;
};
} // namespace os
