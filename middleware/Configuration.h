#pragma once
#include <atomic>
#include <cstdint>
#include <set>
#include <string>
#include <vector>

#include "DeviceInfo.h"

namespace tinyxml2
{
class XMLDocument;
}
class CLogging;

/// The middleware configuration file "ctvnt.xml": configured terminals (each keyed by a
/// port number), global switches, the debug file text, the MAC mapping file path and
/// redirections to other configuration files.
///
/// Every operation loads the file anew (or parses the held XML text) and, when it changes
/// the document, saves it at once; the save result is kept as the last error. An
/// unreadable file never stops the middleware: reads report false/empty, writes start a
/// fresh document. One object is used by one thread at a time; the two global LAN
/// switches are process-wide atomics readable from any thread.
class CConfiguration
{
public:
    /// Switch numbers of ReadSwitch/WriteSwitch.
    enum ESwitch : int
    {
        SWITCH_DEBUG_OUTPUT = 0,     // "EnableDebugOutput"
        SWITCH_EVENT_LOG_OUTPUT = 1, // "EnableEventLogOutput"
        SWITCH_SEARCH_LAN = 2,       // "SearchLANDevices" (write only)
    };

    /// Uses the default file: Common AppData + "/Vantor/CtApi/ctvnt.xml".
    CConfiguration();
    /// Uses the given file.
    explicit CConfiguration(std::string strPath);
    ~CConfiguration();

    static std::string DefaultPath();
    const std::string& GetPath() const { return m_strPath; }
    /// Holds the configuration as XML text that is parsed in place of the file; changes
    /// update the held text. An empty text returns to the file.
    void SetXmlText(const std::string& strXml);
    /// Result of the last save (tinyxml2::XMLError value, 0 = success).
    int GetLastError() const { return m_nLastError; }

    /// Fills the device from the Terminal whose "Port" text is nPort in decimal, following
    /// "Redirect" elements first. Always true (a missing entry means "use the first found
    /// device"); nError is the parser's error code when the file cannot be parsed, else 0.
    bool ReadTerminal(uint16_t nPort, CDeviceInfo& device, int& nError);
    /// root/"MacMappingFilePath", a redirected file's value first; empty when unset.
    std::string GetMacMappingFilePath();
    /// root/"DebugToFileOutput", empty when absent.
    std::string GetDebugFileText();
    /// SWITCH_DEBUG_OUTPUT or SWITCH_EVENT_LOG_OUTPUT: true when the text is exactly
    /// "true". Also refreshes the global switches HandleLanKeepalive/SearchLanDevices.
    bool ReadSwitch(int nSwitch);
    /// Sets the switch element to "true"/"false" (created when missing) and saves; false for
    /// an unknown switch number or a failed save.
    bool WriteSwitch(int nSwitch, bool bValue);
    /// Sets root/"DebugToFileOutput" and saves.
    bool WriteDebugFileText(const std::string& strText);

    bool TerminalExists(const CDeviceInfo& device);
    bool PortExists(uint16_t nPort);
    /// The "Port" numbers of all Terminals in file order; false when the file is unreadable.
    bool GetPortList(std::vector<uint16_t>& vecPorts);
    /// Connection type of the Terminal with that port; 7 when there is none.
    int GetConnectionType(uint16_t nPort);
    /// Appends a Terminal when the device's Port is not 0 and its LogicalName is new.
    bool AddTerminal(const CDeviceInfo& device);
    /// Rewrites the existing elements of the Terminal with the device's LogicalName.
    bool UpdateTerminal(const CDeviceInfo& device);
    /// Removes the Terminal with the device's LogicalName.
    bool RemoveTerminal(const CDeviceInfo& device);

    static std::string TypeText(int nType, bool bDisplay) { return CDeviceInfo::ConnectionTypeText(nType, bDisplay); }
    static int TypeCode(const std::string& strText) { return CDeviceInfo::ConnectionTypeFromText(strText); }

    /// What the trace facility takes from this file.
    struct CTraceSettings
    {
        std::string strDebugFile;   // "DebugToFileOutput"
        bool bDebugOutput = false;  // "EnableDebugOutput"
        bool bEventLogOutput = false; // "EnableEventLogOutput"
    };
    /// Reads the three trace entries; false (and nothing to apply) when the file cannot be
    /// loaded, so that a missing configuration never silences the trace outputs.
    bool ReadTraceSettings(CTraceSettings& settings);
    /// Applies the trace entries to the trace facility: "DebugToFileOutput" becomes the
    /// debug file path, "EnableDebugOutput" and "EnableEventLogOutput" switch the debugger
    /// and event log outputs. The front end calls this once after creating its CLogging (the
    /// middleware has no start of its own). Also refreshes the global LAN switches. False,
    /// and the facility left as it was, when the file cannot be loaded.
    bool ApplyTraceSettings(CLogging& logging);

    // --- process-wide switches, refreshed by ReadSwitch ------------------------------------
    static bool HandleLanKeepalive() { return s_bHandleLanKeepalive.load(); }
    static bool SearchLanDevices() { return s_bSearchLanDevices.load(); }
    static void SetGlobalSwitches(bool bHandleLanKeepalive, bool bSearchLanDevices);

private:
    /// Loads the document; false with the parser's error code when that fails.
    bool Load(tinyxml2::XMLDocument& doc, int& nError) const;
    /// Loads, or starts a fresh document with declaration and "root" when that fails.
    void LoadOrCreate(tinyxml2::XMLDocument& doc) const;
    bool Save(tinyxml2::XMLDocument& doc);
    bool ReadTerminalImpl(uint16_t nPort, CDeviceInfo& device, int& nError, std::set<std::string>& setVisited);
    std::string MacMappingPathImpl(std::set<std::string>& setVisited);

    std::string m_strPath;
    std::string m_strXmlText;
    bool m_bUseXmlText = false;
    int m_nLastError = 0;

    static std::atomic<bool> s_bHandleLanKeepalive;
    static std::atomic<bool> s_bSearchLanDevices;
};
