// Fuzz target: the ELF section walk and the version record decoder get arbitrary bytes.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "ElfVersionReader.h"
#include "OsCodes.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* pData, size_t nSize)
{
    std::vector<uint8_t> vecSection;
    if (os::CElfVersionReader::ReadSectionFromMemory(pData, nSize, ".tc_version", vecSection) == os::OS_OK &&
        vecSection.size() > os::CElfVersionReader::kMaxSectionBytes)
        std::abort();
    os::SVersionRecord record;
    if (os::CElfVersionReader::ParseRecord(pData, nSize, record) == os::OS_OK)
    {
        if (record.vecTranslations.empty() || record.vecStrings.size() != record.vecTranslations.size())
            std::abort();
        std::string strValue;
        (void)record.QueryString("\\StringFileInfo\\040704b0\\ProductName", strValue);
    }
    return 0;
}
