// Fuzz target: reading the client-to-terminal mapping file "ClientTerminalMapping.xml". The
// input is taken as the file's text (nothing is written to disk), and every lookup runs with
// keys taken from the text itself.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "MACMapping.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* pData, size_t nSize)
{
    if (nSize > 0x20000)
        return 0;
    const std::string strText(reinterpret_cast<const char*>(pData), nSize);
    CMACMapping mapping("/nonexistent/ClientTerminalMapping.xml");
    if (!mapping.LoadText(strText))
        return 0;
    std::string strTargets;
    (void)mapping.AppendTerminalAddresses(strTargets);
    // Keys: the first few quoted values of the text (attribute values), and a fixed one.
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
