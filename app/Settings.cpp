#include "Settings.h"

#include <cstring>
#include <mutex>
#include <vector>

namespace
{
// The base path is set once at start and read by every thread afterwards.
std::mutex g_baseMutex;
std::string g_strBasePath = "SOFTWARE\\Vantor";

constexpr size_t kMaxBasePath = 259;
constexpr size_t kMaxKeyPath = 400;  // the composed path stays below this

// Buffer sizes of the text settings: their longest text plus the terminator.
constexpr uint32_t kCtApiBuffer = 256;
constexpr uint32_t kFirmwareFileBuffer = 255;
constexpr uint32_t kCertFileBuffer = 1024;

// The default web interface port when "Port" holds no usable TCP port.
constexpr uint32_t kDefaultWebPort = 443;

void CopyDefault(char* pBuffer, uint32_t nBufferSize, const char* pszDefault)
{
    if (pszDefault == nullptr || pBuffer == nullptr || nBufferSize == 0)
        return;
    size_t nLen = std::strlen(pszDefault);
    if (nLen >= nBufferSize)
        nLen = nBufferSize - 1;
    std::memcpy(pBuffer, pszDefault, nLen);
    pBuffer[nLen] = '\0';
}
} // namespace

CSettings::CSettings(os::CSettingsStore& store) : m_store(store)
{
}

void CSettings::SetBasePath(const std::string& strBase)
{
    std::lock_guard<std::mutex> lock(g_baseMutex);
    g_strBasePath = strBase.substr(0, kMaxBasePath);
}

std::string CSettings::ComposeKeyPath(const char* pszSection)
{
    if (pszSection == nullptr)
        return {};
    std::string strBase;
    {
        std::lock_guard<std::mutex> lock(g_baseMutex);
        strBase = g_strBasePath;
    }
    const size_t nSection = std::strlen(pszSection);
    if (strBase.size() + nSection + 2 >= kMaxKeyPath)
        return {};
    std::string strPath = strBase;
    if (!strPath.empty())
        strPath += '\\';
    strPath += pszSection;
    return strPath;
}

// With composing asked for, an empty result means the section was missing or the path too
// long; the operation then fails instead of touching the values at the root of the hive.
static bool KeyPathFor(const char* pszSection, bool bCompose, std::string& strPath)
{
    if (!bCompose)
    {
        strPath = pszSection ? pszSection : "";
        return true;
    }
    strPath = CSettings::ComposeKeyPath(pszSection);
    return !strPath.empty();
}

uint32_t CSettings::ReadDword(os::ERegRoot eRoot, const char* pszSection, const char* pszName, uint32_t nDefault,
                              bool bCompose) const
{
    std::string strPath;
    if (pszName == nullptr || !KeyPathFor(pszSection, bCompose, strPath))
        return nDefault;
    uint8_t aData[4] = {0, 0, 0, 0};
    uint32_t nType = 0;
    uint32_t nSize = sizeof(aData);
    if (m_store.QueryValue(eRoot, strPath, pszName, nType, aData, nSize) != os::REG_OK ||
        nType != os::REG_TYPE_DWORD)
        return nDefault;
    return static_cast<uint32_t>(aData[0]) | static_cast<uint32_t>(aData[1]) << 8 |
           static_cast<uint32_t>(aData[2]) << 16 | static_cast<uint32_t>(aData[3]) << 24;
}

uint32_t CSettings::ReadDwordUserThenMachine(const char* pszSection, const char* pszName) const
{
    std::string strPath;
    if (pszName == nullptr || !KeyPathFor(pszSection, true, strPath))
        return 0;
    for (os::ERegRoot eRoot : {os::ERegRoot::CurrentUser, os::ERegRoot::LocalMachine})
    {
        uint8_t aData[4] = {0, 0, 0, 0};
        uint32_t nType = 0;
        uint32_t nSize = sizeof(aData);
        if (m_store.QueryValue(eRoot, strPath, pszName, nType, aData, nSize) == os::REG_OK &&
            nType == os::REG_TYPE_DWORD)
            return static_cast<uint32_t>(aData[0]) | static_cast<uint32_t>(aData[1]) << 8 |
                   static_cast<uint32_t>(aData[2]) << 16 | static_cast<uint32_t>(aData[3]) << 24;
    }
    return 0;
}

long CSettings::ReadString(os::ERegRoot eRoot, const char* pszSection, const char* pszName, char* pBuffer,
                           uint32_t nBufferSize, const char* pszDefault) const
{
    if (pBuffer == nullptr || nBufferSize == 0 || pszName == nullptr)
        return os::REG_ERR_INVALID_PARAMETER;
    std::string strPath;
    if (!KeyPathFor(pszSection, true, strPath))
    {
        CopyDefault(pBuffer, nBufferSize, pszDefault);
        return os::REG_ERR_FILE_NOT_FOUND;
    }
    // Query into a scratch buffer so that a failed read never leaves half a value behind.
    std::vector<uint8_t> vecData(nBufferSize);
    uint32_t nType = 0;
    uint32_t nSize = nBufferSize;
    long nResult = m_store.QueryValue(eRoot, strPath, pszName, nType, vecData.data(), nSize);
    if (nResult == os::REG_OK)
    {
        if (nType != os::REG_TYPE_SZ)
            nResult = os::REG_ERR_INVALID_DATA;     // a number or binary value is no text
        else if (nSize < nBufferSize)
        {
            std::memcpy(pBuffer, vecData.data(), nSize);
            pBuffer[nSize] = '\0';
            return os::REG_OK;
        }
        else if (vecData[nBufferSize - 1] != 0)
            nResult = os::REG_ERR_BUFFER_OVERFLOW;  // the text does not fit with its terminator
        else
        {
            std::memcpy(pBuffer, vecData.data(), nBufferSize);
            return os::REG_OK;
        }
    }
    CopyDefault(pBuffer, nBufferSize, pszDefault);
    return nResult;
}

bool CSettings::WriteDword(os::ERegRoot eRoot, const char* pszSection, const char* pszName, uint32_t nValue)
{
    std::string strPath;
    if (pszName == nullptr || !KeyPathFor(pszSection, true, strPath))
        return false;
    const uint8_t aData[4] = {static_cast<uint8_t>(nValue), static_cast<uint8_t>(nValue >> 8),
                              static_cast<uint8_t>(nValue >> 16), static_cast<uint8_t>(nValue >> 24)};
    return m_store.SetValue(eRoot, strPath, pszName, os::REG_TYPE_DWORD, aData, sizeof(aData)) == os::REG_OK;
}

bool CSettings::WriteString(const char* pszSection, const char* pszName, const std::string& strText)
{
    std::string strPath;
    if (pszName == nullptr || !KeyPathFor(pszSection, true, strPath) || strText.size() > UINT32_MAX)
        return false;
    // stored as its bytes without a terminating zero; readers accept both forms
    return m_store.SetValue(os::ERegRoot::CurrentUser, strPath, pszName, os::REG_TYPE_SZ,
                            reinterpret_cast<const uint8_t*>(strText.data()),
                            static_cast<uint32_t>(strText.size())) == os::REG_OK;
}

// --- the settings ----------------------------------------------------------------------

uint32_t CSettings::Port() const
{
    return ReadDword(os::ERegRoot::CurrentUser, kSection, "Port", 0);
}

uint32_t CSettings::WebInterfacePort() const
{
    const uint32_t nPort = ReadDword(os::ERegRoot::CurrentUser, kSection, "Port", kDefaultWebPort);
    return (nPort >= 1 && nPort <= 65535) ? nPort : kDefaultWebPort;
}

uint32_t CSettings::ProtocolId() const
{
    return ReadDword(os::ERegRoot::CurrentUser, kSection, "Protocol-ID", 0);
}

uint32_t CSettings::MaxDataPacketSize() const
{
    return ReadDword(os::ERegRoot::CurrentUser, kSection, "MaxDataPacketSize", 0);
}

uint32_t CSettings::ShowBroadcastAdressField() const
{
    return ReadDword(os::ERegRoot::CurrentUser, kSection, "ShowBroadcastAdressField", 0);
}

uint32_t CSettings::AllManufacturer() const
{
    return ReadDword(os::ERegRoot::CurrentUser, kSection, "AllManufacturer", 0);
}

bool CSettings::SetAdminName() const
{
    return ReadDwordUserThenMachine(kSection, "SetAdminName") != 0;
}

bool CSettings::ShowDiagnosticsLogOnInit() const
{
    return ReadDword(os::ERegRoot::CurrentUser, kSection, "Show_Diagnostics_Log_on_init", 0) != 0;
}

bool CSettings::SetShowDiagnosticsLogOnInit(bool bShown)
{
    return WriteDword(os::ERegRoot::CurrentUser, kSection, "Show_Diagnostics_Log_on_init", bShown ? 1 : 0);
}

namespace
{
std::string ReadText(const CSettings& settings, const char* pszName, uint32_t nBufferSize)
{
    std::vector<char> vecBuffer(nBufferSize, '\0');
    if (settings.ReadString(os::ERegRoot::CurrentUser, CSettings::kSection, pszName, vecBuffer.data(),
                            nBufferSize, "") != os::REG_OK)
        return {};
    return std::string(vecBuffer.data());  // up to the first zero, like the C string it was
}
} // namespace

std::string CSettings::CtApi() const
{
    return ReadText(*this, "CtApi", kCtApiBuffer);
}

bool CSettings::SetCtApi(const std::string& strPath)
{
    return WriteString(kSection, "CtApi", strPath);
}

std::string CSettings::LastFirmwareFileLocation() const
{
    return ReadText(*this, "LastFirmwareFileLocation", kFirmwareFileBuffer);
}

bool CSettings::SetLastFirmwareFileLocation(const std::string& strPath)
{
    return WriteString(kSection, "LastFirmwareFileLocation", strPath);
}

std::string CSettings::LastCertFileLocation() const
{
    return ReadText(*this, "LastCertFileLocation", kCertFileBuffer);
}

bool CSettings::SetLastCertFileLocation(const std::string& strPath)
{
    return WriteString(kSection, "LastCertFileLocation", strPath);
}
