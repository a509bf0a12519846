#pragma once
#include <memory>

#include "HidPort.h"

class CFakeHidSystem;
class CSimKeyboard;

/// A port onto a simulated keyboard of a CFakeHidSystem, looked up by path at Open.
/// Threads as for os::CHidPort.
class CFakeHidPort : public os::CHidPort
{
public:
    explicit CFakeHidPort(CFakeHidSystem& system) : m_system(system) {}

    int Open(const std::string& strPath) override;
    bool IsOpen() const override { return m_pKeyboard != nullptr; }
    int GetRawInfo(os::HidRawInfo& info) override;
    int GetReportDescriptor(std::vector<uint8_t>& vecDescriptor) override;
    int Read(uint8_t* pBuf, int nSize, int nTimeoutMs, int nStopFd) override;
    int Write(const uint8_t* pData, int nLength, int nTimeoutMs) override;
    void Close() override { m_pKeyboard.reset(); }
    int LastErrorCode() const override { return m_nLastError; }

private:
    CFakeHidSystem& m_system;
    std::shared_ptr<CSimKeyboard> m_pKeyboard;
    int m_nLastError = 0;
};
