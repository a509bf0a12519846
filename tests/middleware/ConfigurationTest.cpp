// "ctvnt.xml": terminals by port, redirections, switches, terminal edits; the mapping file.
#include <gtest/gtest.h>

#include <cstring>

#include "CommonAppData.h"
#include "Configuration.h"
#include "MACMapping.h"
#include "SettingsStore.h"
#include "TempDir.h"
#include "TraceCapture.h"
#include "VendorFilter.h"

namespace
{
std::string ConfigWithTerminals(const std::string& strTerminals, const std::string& strExtra = {})
{
    return "<?xml version=\"1.0\"?>\n<root>" + strExtra + "<Terminals>" + strTerminals + "</Terminals></root>\n";
}

std::string Terminal(const std::string& strPort, const std::string& strName, const std::string& strType,
                     const std::string& strLogical = "L")
{
    return "<Terminal><Port>" + strPort + "</Port><Name>" + strName + "</Name><ConnectionType>" + strType +
           "</ConnectionType><AdditionalInfo>IP-Address=10.0.0." + strPort + ";MAC-Address=00:0d:f8:00:00:" +
           strPort + ";</AdditionalInfo><LogicalName>" + strLogical + "</LogicalName><CtApiDllName>lib" + strPort +
           ".so</CtApiDllName><UseHIDHandshake>0</UseHIDHandshake></Terminal>";
}

/// Machine settings with one string value.
class COneValueStore : public os::CSettingsStore
{
public:
    explicit COneValueStore(std::string strValue) : m_strValue(std::move(strValue)) {}
    long QueryValue(os::ERegRoot eRoot, const std::string& strKey, const std::string& strName, uint32_t& nType,
                    uint8_t* pData, uint32_t& nSize) override
    {
        if (eRoot != os::ERegRoot::LocalMachine ||
            strKey != "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders" ||
            strName != "Common AppData")
            return os::REG_ERR_FILE_NOT_FOUND;
        if (m_strValue.size() + 1 > nSize)
            return os::REG_ERR_MORE_DATA;
        std::memcpy(pData, m_strValue.c_str(), m_strValue.size() + 1);
        nSize = static_cast<uint32_t>(m_strValue.size() + 1);
        nType = os::REG_TYPE_SZ;
        return os::REG_OK;
    }
    long SetValue(os::ERegRoot, const std::string&, const std::string&, uint32_t, const uint8_t*, uint32_t) override
    {
        return os::REG_ERR_ACCESS_DENIED;
    }

private:
    std::string m_strValue;
};
} // namespace

TEST(Configuration, ReadTerminalMatchesThePortTextExactly)
{
    CTempDir dir;
    const std::string strPath = dir.Write("ctvnt.xml", ConfigWithTerminals(Terminal("12", "Twelve", "LAN", "L12") +
                                                                           Terminal("2", "Two", "LAN2CTVNT", "L2")));
    CConfiguration config(strPath);
    CDeviceInfo device;
    int nError = -1;
    EXPECT_TRUE(config.ReadTerminal(2, device, nError));
    EXPECT_EQ(nError, 0);
    EXPECT_EQ(device.GetName(), "Two");
    EXPECT_EQ(device.GetConnectionType(), 6);
    EXPECT_EQ(device.GetIpAddress(), "10.0.0.2");
    EXPECT_EQ(device.GetMacAddress(), "00:0D:F8:00:00:2");
    EXPECT_EQ(device.GetLogicalName(), "L2");
    EXPECT_EQ(device.GetCtApiDllName(), "lib2.so");
    EXPECT_EQ(device.GetUseHIDHandshake(), 0);
    EXPECT_EQ(device.GetPort(), 2);

    CDeviceInfo none;
    EXPECT_TRUE(config.ReadTerminal(102, none, nError));  // "no entry": still true
    EXPECT_EQ(none.GetName(), "");
    EXPECT_EQ(none.GetPort(), 0);

    // "02" in the file is not port 2.
    CConfiguration leadingZero(dir.Write("zero.xml", ConfigWithTerminals(Terminal("02", "Zero", "LAN"))));
    CDeviceInfo other;
    leadingZero.ReadTerminal(2, other, nError);
    EXPECT_EQ(other.GetName(), "");

    // Connection types: lower-case text and a missing element both read as 7.
    CConfiguration types(dir.Write("types.xml", ConfigWithTerminals(
                                                    Terminal("5", "Lower", "lan") +
                                                    "<Terminal><Port>6</Port><Name>NoType</Name></Terminal>")));
    EXPECT_EQ(types.GetConnectionType(5), 7);
    EXPECT_EQ(types.GetConnectionType(6), 7);
    CDeviceInfo noType;
    noType.SetConnectionType(3);
    types.ReadTerminal(6, noType, nError);
    EXPECT_EQ(noType.GetConnectionType(), 7);
}

TEST(Configuration, UnreadableFileReportsSuccessWithTheParserError)
{
    CTempDir dir;
    CTraceCapture capture;
    CConfiguration config(dir.Write("broken.xml", "<root><Terminals>"));
    CDeviceInfo device;
    int nError = 0;
    EXPECT_TRUE(config.ReadTerminal(1, device, nError));
    EXPECT_NE(nError, 0);
    EXPECT_TRUE(capture.HasSubstring("--> parseing config file failed: "));
    EXPECT_FALSE(config.ReadSwitch(CConfiguration::SWITCH_DEBUG_OUTPUT));
    std::vector<uint16_t> vecPorts{1};
    EXPECT_FALSE(config.GetPortList(vecPorts));
    EXPECT_TRUE(vecPorts.empty());
    CConfiguration::CTraceSettings settings;
    EXPECT_FALSE(config.ReadTraceSettings(settings));
}

TEST(Configuration, RedirectionIsFollowedAndLoopsAreCutOff)
{
    CTempDir dir;
    const std::string strSecond = dir.File("second.xml");
    const std::string strFirst = dir.Write(
        "first.xml", ConfigWithTerminals(Terminal("1", "Local", "LAN"), "<Redirect>" + strSecond + "</Redirect>"));
    // The second file redirects back to the first: the chain must end.
    dir.Write("second.xml", ConfigWithTerminals(Terminal("7", "Remote", "USB"),
                                                "<Redirect>" + strFirst + "</Redirect><MacMappingFilePath>/x/map.xml"
                                                "</MacMappingFilePath>"));
    CTraceCapture capture;
    CConfiguration config(strFirst);
    CDeviceInfo device;
    int nError = 0;
    EXPECT_TRUE(config.ReadTerminal(7, device, nError));
    EXPECT_EQ(device.GetName(), "Remote");
    EXPECT_EQ(device.GetConnectionType(), 5);
    EXPECT_TRUE(capture.HasSubstring("--> config redirection to " + strSecond));
    EXPECT_TRUE(capture.HasSubstring("--> redirection loop cut off at " + strFirst));

    CDeviceInfo local;
    EXPECT_TRUE(config.ReadTerminal(1, local, nError));
    EXPECT_EQ(local.GetName(), "Local");

    // The mapping path comes from the redirected file.
    EXPECT_EQ(config.GetMacMappingFilePath(), "/x/map.xml");

    // A file redirecting to itself.
    const std::string strSelf = dir.File("self.xml");
    dir.Write("self.xml", ConfigWithTerminals(Terminal("3", "Self", "LAN"), "<Redirect>" + strSelf + "</Redirect>"));
    CConfiguration self(strSelf);
    CDeviceInfo selfDevice;
    EXPECT_TRUE(self.ReadTerminal(3, selfDevice, nError));
    EXPECT_EQ(selfDevice.GetName(), "Self");
    EXPECT_EQ(self.GetMacMappingFilePath(), "");
}

TEST(Configuration, SwitchesAndTheGlobalLanSwitches)
{
    CTempDir dir;
    const std::string strPath = dir.Write(
        "ctvnt.xml", "<?xml version=\"1.0\"?><root><EnableDebugOutput>true</EnableDebugOutput>"
                     "<EnableEventLogOutput>TRUE</EnableEventLogOutput><HandleLANKeepalive>true</HandleLANKeepalive>"
                     "<DebugToFileOutput>/tmp/ct.log</DebugToFileOutput></root>");
    CConfiguration config(strPath);
    CConfiguration::SetGlobalSwitches(false, true);
    EXPECT_TRUE(config.ReadSwitch(CConfiguration::SWITCH_DEBUG_OUTPUT));
    EXPECT_FALSE(config.ReadSwitch(CConfiguration::SWITCH_EVENT_LOG_OUTPUT));  // only exactly "true"
    EXPECT_TRUE(CConfiguration::HandleLanKeepalive());
    EXPECT_FALSE(CConfiguration::SearchLanDevices());
    EXPECT_EQ(config.GetDebugFileText(), "/tmp/ct.log");

    CConfiguration::CTraceSettings settings;
    ASSERT_TRUE(config.ReadTraceSettings(settings));
    EXPECT_EQ(settings.strDebugFile, "/tmp/ct.log");
    EXPECT_TRUE(settings.bDebugOutput);
    EXPECT_FALSE(settings.bEventLogOutput);

    // Writing switch 2 into a file that does not exist creates it with root/SearchLANDevices.
    CConfiguration fresh(dir.File("new.xml"));
    EXPECT_TRUE(fresh.WriteSwitch(CConfiguration::SWITCH_SEARCH_LAN, true));
    EXPECT_EQ(fresh.GetLastError(), 0);
    const std::string strText = CTempDir::Read(dir.File("new.xml"));
    EXPECT_NE(strText.find("<?xml version=\"1.0\"?>"), std::string::npos);
    EXPECT_NE(strText.find("<SearchLANDevices>true</SearchLANDevices>"), std::string::npos);
    fresh.ReadSwitch(CConfiguration::SWITCH_DEBUG_OUTPUT);
    EXPECT_TRUE(CConfiguration::SearchLanDevices());
    EXPECT_TRUE(fresh.WriteSwitch(CConfiguration::SWITCH_SEARCH_LAN, false));
    fresh.ReadSwitch(CConfiguration::SWITCH_DEBUG_OUTPUT);
    EXPECT_FALSE(CConfiguration::SearchLanDevices());
    EXPECT_FALSE(fresh.WriteSwitch(7, true));
    EXPECT_TRUE(fresh.WriteDebugFileText("/var/log/x.log"));
    EXPECT_EQ(fresh.GetDebugFileText(), "/var/log/x.log");

    // A save that cannot succeed is remembered.
    CConfiguration nowhere(dir.File("missing-dir/sub/ctvnt.xml"));
    EXPECT_FALSE(nowhere.WriteSwitch(CConfiguration::SWITCH_DEBUG_OUTPUT, true));
    EXPECT_NE(nowhere.GetLastError(), 0);
    CConfiguration::SetGlobalSwitches(false, false);
}

TEST(Configuration, AddUpdateRemoveTerminals)
{
    CTempDir dir;
    CConfiguration config(dir.File("ctvnt.xml"));
    CDeviceInfo lan;
    lan.SetName("Front desk");
    lan.SetLogicalName("10.0.0.5:4742:0");
    lan.SetAdditionalInfo("IP-Address=10.0.0.5;MAC-Address=00:0D:F8:01:02:03;");
    lan.SetCtApiDllName("libctvnt.so");
    lan.SetConnectionType(3);

    EXPECT_FALSE(config.AddTerminal(lan));  // port 0: never added
    EXPECT_FALSE(config.PortExists(0));
    lan.SetPort(1);
    EXPECT_TRUE(config.AddTerminal(lan));
    EXPECT_FALSE(config.AddTerminal(lan));  // same LogicalName again
    EXPECT_TRUE(config.TerminalExists(lan));
    EXPECT_TRUE(config.PortExists(1));

    CDeviceInfo usb;
    usb.SetLogicalName("usb-1");
    usb.SetConnectionType(5);
    usb.SetAdditionalInfo("IP-Address=1.2.3.4;");
    usb.SetPort(3);
    EXPECT_TRUE(config.AddTerminal(usb));
    CDeviceInfo proxy;
    proxy.SetLogicalName("proxy");
    proxy.SetConnectionType(6);
    proxy.SetPort(2);
    EXPECT_TRUE(config.AddTerminal(proxy));

    std::vector<uint16_t> vecPorts;
    ASSERT_TRUE(config.GetPortList(vecPorts));
    EXPECT_EQ(vecPorts, (std::vector<uint16_t>{1, 3, 2}));
    const std::string strText = CTempDir::Read(config.GetPath());
    EXPECT_EQ(strText.find("IP-Address=1.2.3.4"), std::string::npos);  // USB: no description
    EXPECT_NE(strText.find("<ConnectionType>UNKNOWN</ConnectionType>"), std::string::npos);
    EXPECT_EQ(config.GetConnectionType(1), 3);
    EXPECT_EQ(config.GetConnectionType(2), 7);

    CDeviceInfo read;
    int nError = 0;
    config.ReadTerminal(1, read, nError);
    EXPECT_EQ(read.GetName(), "Front desk");
    EXPECT_EQ(read.GetMacAddress(), "00:0D:F8:01:02:03");
    EXPECT_EQ(read.GetCtApiDllName(), "libctvnt.so");

    lan.SetName("Back office");
    lan.SetPort(9);
    EXPECT_TRUE(config.UpdateTerminal(lan));
    EXPECT_FALSE(config.PortExists(1));
    CDeviceInfo updated;
    config.ReadTerminal(9, updated, nError);
    EXPECT_EQ(updated.GetName(), "Back office");

    EXPECT_TRUE(config.RemoveTerminal(lan));
    EXPECT_FALSE(config.TerminalExists(lan));
    EXPECT_FALSE(config.RemoveTerminal(lan));
    ASSERT_TRUE(config.GetPortList(vecPorts));
    EXPECT_EQ(vecPorts, (std::vector<uint16_t>{3, 2}));
}

TEST(Configuration, HeldXmlTextReplacesTheFile)
{
    CConfiguration config("/nonexistent/ctvnt.xml");
    config.SetXmlText(ConfigWithTerminals(Terminal("4", "Memory", "PCSC", "m")));
    CDeviceInfo device;
    int nError = 0;
    config.ReadTerminal(4, device, nError);
    EXPECT_EQ(device.GetName(), "Memory");
    EXPECT_EQ(device.GetConnectionType(), 4);
    EXPECT_TRUE(config.WriteSwitch(CConfiguration::SWITCH_DEBUG_OUTPUT, true));
    EXPECT_TRUE(config.ReadSwitch(CConfiguration::SWITCH_DEBUG_OUTPUT));
}

TEST(CommonAppData, MachineValueElseEtcAndTheOverride)
{
    CCommonAppData::SetFolderOverride("");
    CCommonAppData::SetSettingsStore(nullptr);
    EXPECT_EQ(CCommonAppData::Folder(), "/etc");
    EXPECT_EQ(CConfiguration::DefaultPath(), "/etc/Vantor/CtApi/ctvnt.xml");

    COneValueStore store("/srv/appdata");
    CCommonAppData::SetSettingsStore(&store);
    EXPECT_EQ(CConfiguration::DefaultPath(), "/srv/appdata/Vantor/CtApi/ctvnt.xml");
    // A value that does not fit the caller's buffer is not used.
    COneValueStore longStore(std::string(450, 'a'));
    CCommonAppData::SetSettingsStore(&longStore);
    EXPECT_EQ(CCommonAppData::Folder(400), "/etc");
    EXPECT_EQ(CCommonAppData::Folder(512), std::string(450, 'a'));

    CCommonAppData::SetFolderOverride("/tmp/x");
    EXPECT_EQ(CCommonAppData::CtApiFile("ClientTerminalMapping.xml"), "/tmp/x/Vantor/CtApi/ClientTerminalMapping.xml");
    CCommonAppData::SetFolderOverride("");
    CCommonAppData::SetSettingsStore(nullptr);
}

TEST(MACMapping, TerminalAddressesAndLookups)
{
    CTempDir dir;
    const std::string strPath = dir.Write(
        "ClientTerminalMapping.xml",
        "<Mapping>"
        "<TerminalMap ThinClientMAC=\"AA:00:00:00:00:01\" ThinClientName=\"TC1\" ThinClientIP=\"10.0.0.101\" "
        "TerminalMAC=\"00:0D:F8:00:00:01\" TerminalIP=\"10.0.0.1\"/>"
        "<TerminalMap ThinClientMAC=\"AA:00:00:00:00:02\" ThinClientName=\"TC2\" TerminalIP=\"Term-B.local\"/>"
        "<TerminalMap ThinClientMAC=\"AA:00:00:00:00:03\" TerminalMAC=\"00:11:22:00:00:03\" TerminalIP=\"\"/>"
        "</Mapping>");
    CTraceCapture capture;
    CMACMapping mapping(strPath);
    std::string strTargets = "255.255.255.255;";
    EXPECT_TRUE(mapping.AppendTerminalAddresses(strTargets));
    EXPECT_EQ(strTargets, "255.255.255.255;10.0.0.1;term-b.local;");
    EXPECT_TRUE(capture.HasSubstring("Read xml from " + strPath));

    std::string strResult;
    EXPECT_TRUE(mapping.TerminalForClientMac("aa:00:00:00:00:01", strResult));
    EXPECT_EQ(strResult, "00:0D:F8:00:00:01");
    EXPECT_TRUE(mapping.TerminalForClientName("tc2", strResult));  // no MAC: the IP
    EXPECT_EQ(strResult, "Term-B.local");
    EXPECT_TRUE(mapping.TerminalIpForTerminalMac("00:0d:f8:00:00:01", strResult));
    EXPECT_EQ(strResult, "10.0.0.1");
    EXPECT_TRUE(mapping.TerminalMacForClientIp("10.0.0.101", strResult));
    EXPECT_EQ(strResult, "00:0D:F8:00:00:01");
    EXPECT_FALSE(mapping.TerminalMacForClientIp("10.0.0.99", strResult));

    // A filtered vendor's terminal MAC is not handed out.
    CVendorFilter::SetExcludedPrefixes({"00:11:22"});
    EXPECT_FALSE(mapping.TerminalForClientMac("AA:00:00:00:00:03", strResult));
    CVendorFilter::SetExcludedPrefixes({});
    EXPECT_TRUE(mapping.TerminalForClientMac("AA:00:00:00:00:03", strResult));
    EXPECT_EQ(strResult, "00:11:22:00:00:03");
}

TEST(MACMapping, MissingOrBrokenFileAddsNothing)
{
    CTempDir dir;
    CTraceCapture capture;
    CMACMapping missing(dir.File("none.xml"));
    std::string strTargets = "255.255.255.255;";
    EXPECT_FALSE(missing.AppendTerminalAddresses(strTargets));
    EXPECT_EQ(strTargets, "255.255.255.255;");
    EXPECT_TRUE(capture.HasSubstring(";Error: "));

    CMACMapping broken(dir.Write("broken.xml", "<TerminalMap TerminalIP=\"1.2.3.4\""));
    EXPECT_FALSE(broken.AppendTerminalAddresses(strTargets));
    EXPECT_EQ(strTargets, "255.255.255.255;");

    // The same text held in memory: refused alike; a well-formed one replaces the file.
    CMACMapping held(dir.File("none.xml"));
    EXPECT_FALSE(held.LoadText("<TerminalMap TerminalIP=\"1.2.3.4\""));
    EXPECT_FALSE(held.AppendTerminalAddresses(strTargets));
    EXPECT_TRUE(held.LoadText("<Mapping><TerminalMap TerminalIP=\"1.2.3.4\"/></Mapping>"));
    EXPECT_TRUE(held.AppendTerminalAddresses(strTargets));
    EXPECT_EQ(strTargets, "255.255.255.255;1.2.3.4;");

    // Without a path: the configured one, else Common AppData.
    CCommonAppData::SetFolderOverride(dir.Path());
    EXPECT_EQ(CMACMapping::DefaultPath(), dir.Path() + "/Vantor/CtApi/ClientTerminalMapping.xml");
    dir.Write("Vantor/CtApi/ctvnt.xml", "<root><MacMappingFilePath>/opt/map.xml</MacMappingFilePath></root>");
    EXPECT_EQ(CMACMapping::DefaultPath(), "/opt/map.xml");
    CCommonAppData::SetFolderOverride("");
}

TEST(Configuration, TraceSettingsAreAppliedOnlyFromAReadableFile)
{
    CTempDir dir;
    CFakeClock clock;
    CFakeSystemLog systemLog;
    CFakeDebugOutput debugOutput;
    CLogging logging(clock, systemLog, debugOutput);
    logging.SetOutputMask(CLogging::OUTPUT_ALL);

    CConfiguration missing(dir.File("none.xml"));
    EXPECT_FALSE(missing.ApplyTraceSettings(logging));
    EXPECT_EQ(logging.GetOutputMask(), CLogging::OUTPUT_ALL);  // a missing file silences nothing

    const std::string strLog = dir.File("ctvnt.log");
    CConfiguration config(dir.Write("ctvnt.xml", "<root><DebugToFileOutput>" + strLog +
                                                     "</DebugToFileOutput><EnableDebugOutput>false"
                                                     "</EnableDebugOutput><EnableEventLogOutput>true"
                                                     "</EnableEventLogOutput><HandleLANKeepalive>true"
                                                     "</HandleLANKeepalive></root>"));
    CConfiguration::SetGlobalSwitches(false, false);
    EXPECT_TRUE(config.ApplyTraceSettings(logging));
    EXPECT_EQ(logging.GetDebugFilePath(), strLog);
    EXPECT_EQ(logging.GetOutputMask(), CLogging::OUTPUT_FILE | CLogging::OUTPUT_EVENTLOG);
    EXPECT_TRUE(CConfiguration::HandleLanKeepalive());
    CConfiguration::SetGlobalSwitches(false, false);
}
