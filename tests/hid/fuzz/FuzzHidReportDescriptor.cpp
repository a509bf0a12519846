// Fuzz target: the report descriptor parser. Besides memory safety it checks what the
// transport relies on: report lengths that fit 16 bits with room for the ID byte, report
// IDs ascending and never 0, and a value capability ID that is one of them (or 0).
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "HidReportDescriptor.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* pData, size_t nSize)
{
    HidCaps caps;
    if (CHidReportDescriptor::Parse(pData, nSize, caps) != CHidReportDescriptor::DESC_OK)
        return 0;
    for (uint16_t nLength : {caps.nInputReportByteLength, caps.nOutputReportByteLength, caps.nFeatureReportByteLength})
    {
        // A present report has at least one data byte behind its ID byte.
        if (nLength == 1)
            std::abort();
    }
    if (!std::is_sorted(caps.vecReportIds.begin(), caps.vecReportIds.end()) ||
        std::adjacent_find(caps.vecReportIds.begin(), caps.vecReportIds.end()) != caps.vecReportIds.end() ||
        std::find(caps.vecReportIds.begin(), caps.vecReportIds.end(), 0) != caps.vecReportIds.end())
        std::abort();
    if (caps.nValueCapsReportId != 0 &&
        std::find(caps.vecReportIds.begin(), caps.vecReportIds.end(), caps.nValueCapsReportId) == caps.vecReportIds.end())
        std::abort();
    return 0;
}
