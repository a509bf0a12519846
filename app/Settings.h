#pragma once
#include <cstdint>
#include <string>

#include "SettingsStore.h"

/// The program's persistent settings: values in the section "SICCT-Config" below the base
/// path "SOFTWARE\Vantor", read fresh at every use and written at once.
/// The store is not owned; it must outlive this object. Safe to call from any thread.
class CSettings
{
public:
    static constexpr const char* kSection = "SICCT-Config";

    explicit CSettings(os::CSettingsStore& store);

    // --- general operations --------------------------------------------------------------
    /// Key path of a section: base + "\" + section; empty when the section is null or the
    /// composed path would reach 400 characters.
    static std::string ComposeKeyPath(const char* pszSection);
    /// Sets the base path (at most 259 characters); once, before first use.
    static void SetBasePath(const std::string& strBase);

    uint32_t ReadDword(os::ERegRoot eRoot, const char* pszSection, const char* pszName, uint32_t nDefault,
                       bool bCompose = true) const;
    uint32_t ReadDwordUserThenMachine(const char* pszSection, const char* pszName) const;
    /// 0 on success, else the registry error, 111 (full buffer without terminator) or 13
    /// (terminated full buffer of another type); on failure the default is copied when given.
    long ReadString(os::ERegRoot eRoot, const char* pszSection, const char* pszName, char* pBuffer,
                    uint32_t nBufferSize, const char* pszDefault) const;
    bool WriteDword(os::ERegRoot eRoot, const char* pszSection, const char* pszName, uint32_t nValue);
    bool WriteString(const char* pszSection, const char* pszName, const std::string& strText);

    // --- the settings of section "SICCT-Config", each with its default -------------------
    uint32_t Port() const;                 // "Port", 0 when missing
    uint32_t WebInterfacePort() const;     // "Port" when 1..65535, else 443
    uint32_t ProtocolId() const;           // "Protocol-ID", 0
    uint32_t MaxDataPacketSize() const;    // "MaxDataPacketSize", 0
    uint32_t ShowBroadcastAdressField() const;
    uint32_t AllManufacturer() const;
    bool SetAdminName() const;             // HKCU, then HKLM
    bool ShowDiagnosticsLogOnInit() const;
    bool SetShowDiagnosticsLogOnInit(bool bShown);
    std::string CtApi() const;             // up to 255 characters, empty
    bool SetCtApi(const std::string& strPath);
    std::string LastFirmwareFileLocation() const;  // up to 254 characters
    bool SetLastFirmwareFileLocation(const std::string& strPath);
    std::string LastCertFileLocation() const;      // up to 1023 characters
    bool SetLastCertFileLocation(const std::string& strPath);

private:
    os::CSettingsStore& m_store;
};
