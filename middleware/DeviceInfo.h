#pragma once
#include <cstdint>
#include <string>

/// The middleware's description of one card terminal, configured in "ctvnt.xml" or found by
/// a search (LAN service discovery, HID enumeration). A plain value: copied field by field,
/// no thread safety of its own (each record has one owner: a list row, a search result).
class CDeviceInfo
{
public:
    CDeviceInfo() = default;
    virtual ~CDeviceInfo() = default;
    CDeviceInfo(const CDeviceInfo&) = default;
    CDeviceInfo& operator=(const CDeviceInfo&) = default;

    int GetConnectionType() const { return m_nConnectionType; }
    void SetConnectionType(int nType) { m_nConnectionType = nType; }

    /// The description text, such as "IP-Address=10.0.0.5;MAC-Address=00:0D:F8:01:02:03;".
    std::string GetAdditionalInfo() const { return m_strAdditionalInfo; }
    /// Stores the description and derives address and MAC from it: the text behind
    /// "IP-Address=" up to the next ";" becomes the address when it is not empty; the text
    /// behind "MAC-Address=" up to the next ";" becomes the MAC, upper-cased. A key without
    /// a following ";" leaves its field unchanged.
    void SetAdditionalInfo(const std::string& strInfo);

    std::string GetIpAddress() const { return m_strIpAddress; }
    void SetIpAddress(const std::string& strIp) { m_strIpAddress = strIp; }
    std::string GetMacAddress() const { return m_strMacAddress; }
    void SetMacAddress(const std::string& strMac) { m_strMacAddress = strMac; }
    /// For a LAN device the connection string "address:port:protocol".
    std::string GetLogicalName() const { return m_strLogicalName; }
    void SetLogicalName(const std::string& strName) { m_strLogicalName = strName; }
    std::string GetName() const { return m_strName; }
    void SetName(const std::string& strName) { m_strName = strName; }
    /// SICCT version, major in the high byte.
    uint16_t GetSicctVersion() const { return m_nSicctVersion; }
    void SetSicctVersion(uint16_t nVersion) { m_nSicctVersion = nVersion; }
    /// Configured port number of the middleware configuration (not a network port).
    uint16_t GetPort() const { return m_nPort; }
    void SetPort(uint16_t nPort) { m_nPort = nPort; }
    /// The terminal's SICCT TCP port from service discovery.
    uint16_t GetNetworkPort() const { return m_nNetworkPort; }
    void SetNetworkPort(uint16_t nPort) { m_nNetworkPort = nPort; }
    std::string GetCtApiDllName() const { return m_strCtApiDllName; }
    void SetCtApiDllName(const std::string& strName) { m_strCtApiDllName = strName; }
    int GetUseHIDHandshake() const { return m_nUseHIDHandshake; }
    void SetUseHIDHandshake(int nUse) { m_nUseHIDHandshake = nUse; }

    /// Connection type code to text: the configuration text ("HID_UNSECURE", ... "USB",
    /// "UNKNOWN" for 6 and every other code) or, with bDisplay, the display text ("USB",
    /// "Seriell", "LAN", "PC/SC", "Unbekannt").
    static std::string ConnectionTypeText(int nType, bool bDisplay);
    /// Configuration text to code, matched exactly; "LAN2CTVNT" gives 6, any unknown text 7.
    static int ConnectionTypeFromText(const std::string& strText);

private:
    int m_nConnectionType = 7;
    std::string m_strAdditionalInfo;
    std::string m_strIpAddress;
    std::string m_strMacAddress;
    std::string m_strLogicalName;
    std::string m_strName;
    uint16_t m_nSicctVersion = 0;
    uint16_t m_nPort = 0;
    uint16_t m_nNetworkPort = 0;
    std::string m_strCtApiDllName;
    int m_nUseHIDHandshake = 1;
};
