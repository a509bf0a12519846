// Fuzz target: reading the client-to-terminal mapping file "ClientTerminalMapping.xml".
// The input is written to a private temporary file (the class reads files only), loaded,
// and every lookup runs with keys taken from the text itself.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "MACMapping.h"

namespace
{
const std::string& TempPath()
{
    static const std::string s_strPath = [] {
        std::string strPath = "/tmp/tc-fuzz-mapping-" + std::to_string(::getpid()) + ".xml";
        std::atexit([] { std::remove(("/tmp/tc-fuzz-mapping-" + std::to_string(::getpid()) + ".xml").c_str()); });
        return strPath;
    }();
    return s_strPath;
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* pData, size_t nSize)
{
    if (nSize > 0x20000)
        return 0;
    FILE* pFile = std::fopen(TempPath().c_str(), "wb");
    if (pFile == nullptr)
        return 0;
    const bool bWritten = std::fwrite(pData, 1, nSize, pFile) == nSize;
    std::fclose(pFile);
    if (!bWritten)
        return 0;

    CMACMapping mapping(TempPath());
    std::string strTargets;
    (void)mapping.AppendTerminalAddresses(strTargets);
    // Keys: the first few quoted values of the text (attribute values), and a fixed one.
    const std::string strText(reinterpret_cast<const char*>(pData), nSize);
    std::string strKeys[4] = {"00:11:22:33:44:55"};
    size_t nPos = 0;
    for (int i = 1; i < 4; ++i)
    {
        const size_t nOpen = strText.find('"', nPos);
        const size_t nClose = nOpen == std::string::npos ? nOpen : strText.find('"', nOpen + 1);
        if (nClose == std::string::npos)
            break;
        strKeys[i] = strText.substr(nOpen + 1, nClose - nOpen - 1);
        nPos = nClose + 1;
    }
    for (const std::string& strKey : strKeys)
    {
        std::string strResult;
        if (mapping.TerminalForClientMac(strKey, strResult) && strResult.size() > 17)
            std::abort();
        if (mapping.TerminalForClientName(strKey, strResult) && strResult.size() > 17)
            std::abort();
        if (mapping.TerminalIpForTerminalMac(strKey, strResult) && strResult.size() > 15)
            std::abort();
        if (mapping.TerminalMacForClientIp(strKey, strResult) && strResult.size() > 17)
            std::abort();
    }
    return 0;
}
