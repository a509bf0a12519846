#include "HidAccess.h"

#include "MiddlewareCodes.h"
#include "MwTrace.h"
#include "OsCodes.h"

CHidAccess::CHidAccess(os::CHidSystem* pHidSystem)
    : m_pHidSystem(pHidSystem)
{
}

bool CHidAccess::HidEnumerate(std::vector<os::HidDeviceEntry>& vecDevices)
{
    if (m_pHidSystem == nullptr)
        return false;
    return m_pHidSystem->Enumerate(vecDevices) == os::OS_OK;
}

std::unique_ptr<os::CHidPort> CHidAccess::HidCreatePort()
{
    if (m_pHidSystem == nullptr)
        return nullptr;
    return m_pHidSystem->CreatePort();
}

bool CHidAccess::HidGetAttributes(os::CHidPort& port, os::HidRawInfo& info)
{
    if (m_pHidSystem == nullptr)
        return false;
    return port.GetRawInfo(info) == os::OS_OK;
}

bool CHidAccess::HidGetCaps(os::CHidPort& port, HidCaps& caps)
{
    if (m_pHidSystem == nullptr)
        return false;
    std::vector<uint8_t> vecDescriptor;
    if (port.GetReportDescriptor(vecDescriptor) != os::OS_OK)
        return false;
    const int nResult = CHidReportDescriptor::Parse(vecDescriptor, caps);
    if (nResult != CHidReportDescriptor::DESC_OK)
    {
        MW_TRACEF(mw::kTraceCtApi, trace::LEVEL_INFO, nResult, "report descriptor rejected (%d bytes)",
                  static_cast<int>(vecDescriptor.size()));
        return false;
    }
    return true;
}

bool CHidAccess::HidSetNumInputBuffers(os::CHidPort& port, int nBuffers)
{
    return m_pHidSystem != nullptr && port.IsOpen() && nBuffers > 0;
}
