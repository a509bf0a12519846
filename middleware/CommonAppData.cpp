#include "CommonAppData.h"

#include <mutex>
#include <vector>

#include "SettingsStore.h"

namespace
{
std::mutex g_mtxAppData;
os::CSettingsStore* g_pStore = nullptr;
std::string g_strOverride;

constexpr const char* kShellFolders = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders";
constexpr const char* kCommonAppData = "Common AppData";
constexpr const char* kDefaultFolder = "/etc";
} // namespace

void CCommonAppData::SetSettingsStore(os::CSettingsStore* pStore)
{
    std::lock_guard<std::mutex> lock(g_mtxAppData);
    g_pStore = pStore;
}

void CCommonAppData::SetFolderOverride(const std::string& strFolder)
{
    std::lock_guard<std::mutex> lock(g_mtxAppData);
    g_strOverride = strFolder;
}

std::string CCommonAppData::Folder(unsigned nBufferSize)
{
    std::lock_guard<std::mutex> lock(g_mtxAppData);
    if (!g_strOverride.empty())
        return g_strOverride;
    if (g_pStore != nullptr && nBufferSize > 1)
    {
        std::vector<uint8_t> vecBuffer(nBufferSize, 0);
        uint32_t nType = 0;
        uint32_t nSize = nBufferSize;
        const long nResult = g_pStore->QueryValue(os::ERegRoot::LocalMachine, kShellFolders, kCommonAppData, nType,
                                                  vecBuffer.data(), nSize);
        if (nResult == os::REG_OK && nType == os::REG_TYPE_SZ && nSize > 0 && nSize <= nBufferSize)
        {
            std::string strValue(reinterpret_cast<const char*>(vecBuffer.data()), nSize);
            const size_t nNul = strValue.find('\0');
            if (nNul != std::string::npos)
                strValue.resize(nNul);
            if (!strValue.empty())
                return strValue;
        }
    }
    return kDefaultFolder;
}

std::string CCommonAppData::CtApiFile(const std::string& strFile, unsigned nBufferSize)
{
    std::string strFolder = Folder(nBufferSize);
    if (!strFolder.empty() && strFolder.back() != '/')
        strFolder += '/';
    return strFolder + "Vantor/CtApi/" + strFile;
}
