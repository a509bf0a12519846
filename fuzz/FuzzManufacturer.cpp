// Fuzz target: the manufacturer data object (GET STATUS P2 0x46) in its three forms.
// Checks the field sizes the diagnosis dialog, the export file and the firmware version
// line rely on.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "ResponseDecoder.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* pData, size_t nSize)
{
    if (nSize > 70000)
        return 0;
    ManufacturerInfo info;
    (void)CResponseDecoder::DecodeManufacturer(pData, nSize, info);
    if (info.strVersion.size() > 12 || info.strManufacturer.size() > 5 || info.strType.size() > 5 ||
        info.vecDiscretionary.size() > 112)
        std::abort();
    return 0;
}
