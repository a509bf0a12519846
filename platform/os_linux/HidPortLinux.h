#pragma once
#include <atomic>

#include "HidPort.h"

namespace os
{
/// A /dev/hidrawN node opened read/write and non-blocking. Reads and writes wait with
/// poll(), a read also on the caller's stop descriptor (an eventfd), so that the stop of a
/// listener never needs a thread to be killed. Threads as for CHidPort.
class CHidPortLinux : public CHidPort
{
public:
    CHidPortLinux() = default;
    ~CHidPortLinux() override;
    CHidPortLinux(const CHidPortLinux&) = delete;
    CHidPortLinux& operator=(const CHidPortLinux&) = delete;

    int Open(const std::string& strPath) override;
    bool IsOpen() const override { return m_nFd >= 0; }
    int GetRawInfo(HidRawInfo& info) override;
    int GetReportDescriptor(std::vector<uint8_t>& vecDescriptor) override;
    int Read(uint8_t* pBuf, int nSize, int nTimeoutMs, int nStopFd) override;
    int Write(const uint8_t* pData, int nLength, int nTimeoutMs) override;
    void Close() override;
    int LastErrorCode() const override { return m_nLastError.load(); }

private:
    /// Records errno and maps it to an OsResult.
    int Fail(int nErrno);

    int m_nFd = -1;
    std::atomic<int> m_nLastError{0};  // written by the reader and the writer thread
};
} // namespace os
