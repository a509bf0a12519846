#include <gtest/gtest.h>

#include "MaintenanceArgs.h"
#include "TerminalIdRecord.h"
#include "TerminalRules.h"

using namespace search;

TEST(TypeLabel, MakerPrefixOnlyAtStartMakesLan)
{
    EXPECT_EQ(ConnectionTypeLabel(CONN_LAN, "02:4E:7A:00:11:22"), "LAN");
    EXPECT_EQ(ConnectionTypeLabel(CONN_LAN, "00:0D:F8:01:02:03"), "LAN-Proxy");
    EXPECT_EQ(ConnectionTypeLabel(CONN_LAN, "00:02:4E:7A:11:22"), "LAN-Proxy");  // prefix inside
    EXPECT_EQ(ConnectionTypeLabel(CONN_LAN, "02:4e:7a:00:11:22"), "LAN-Proxy");  // case counts
    EXPECT_EQ(ConnectionTypeLabel(CONN_LAN, ""), "LAN-Proxy");
    // The prefix only matters for LAN rows.
    EXPECT_EQ(ConnectionTypeLabel(CONN_HID_UNSECURE, "00:0D:F8:01:02:03"), "USB");
    EXPECT_EQ(ConnectionTypeLabel(CONN_HID_SECURE, ""), "USB");
    EXPECT_EQ(ConnectionTypeLabel(CONN_USB, "02:4E:7A:00:11:22"), "USB");
    EXPECT_EQ(ConnectionTypeLabel(CONN_SERIAL, ""), "Seriell");
    EXPECT_EQ(ConnectionTypeLabel(CONN_PCSC, ""), "PC/SC");
    EXPECT_EQ(ConnectionTypeLabel(CONN_LAN2CTVNT, ""), "Unbekannt");
    EXPECT_EQ(ConnectionTypeLabel(CONN_UNKNOWN, ""), "Unbekannt");
    EXPECT_EQ(ConnectionTypeLabel(-1, ""), "Unbekannt");
}

TEST(Columns, PortAndVersionTexts)
{
    EXPECT_EQ(PortColumnText(0), "");
    EXPECT_EQ(PortColumnText(12), "12");
    EXPECT_EQ(SicctVersionText(0x0102), "1.2");
    EXPECT_EQ(SicctVersionText(0xFF00), "255.0");
}

TEST(WebInterface, UrlPerPort)
{
    EXPECT_EQ(WebInterfaceUrl("10.0.0.5", 443), "https://10.0.0.5/");
    EXPECT_EQ(WebInterfaceUrl("10.0.0.5", 8080), "http://10.0.0.5/");
    EXPECT_EQ(WebInterfaceUrl("10.0.0.5", 4443), "https://10.0.0.5:4443/");
    EXPECT_EQ(WebInterfaceUrl("10.0.0.5", 80), "https://10.0.0.5:80/");
    EXPECT_EQ(WebInterfaceUrl("", 443), "");
    EXPECT_EQ(WebInterfaceUrl("10.0.0.5", 0), "");
}

TEST(WebInterface, PortFromEditText)
{
    // Empty edit: the setting (already defaulted to 443), low 16 bits, no range check.
    EXPECT_EQ(WebInterfacePortFromText("", 443), 443);
    EXPECT_EQ(WebInterfacePortFromText("", 8443), 8443);
    EXPECT_EQ(WebInterfacePortFromText("", 0x10000 + 80), 80);
    EXPECT_EQ(WebInterfacePortFromText("", 0), 0);
    EXPECT_EQ(WebInterfacePortFromText("8080", 443), 8080);
    EXPECT_EQ(WebInterfacePortFromText("0443", 1), 443);
    EXPECT_EQ(WebInterfacePortFromText("0000000000080", 1), 80);
    EXPECT_EQ(WebInterfacePortFromText("65535", 1), 65535);
    EXPECT_EQ(WebInterfacePortFromText("65536", 1), 0);
    EXPECT_EQ(WebInterfacePortFromText("99999999999999999999", 1), 0);
    EXPECT_EQ(WebInterfacePortFromText("0", 1), 0);
    EXPECT_EQ(WebInterfacePortFromText("44a", 1), 0);
    EXPECT_EQ(WebInterfacePortFromText("-1", 1), 0);
    EXPECT_EQ(InitialWebInterfacePort(0), 443);
    EXPECT_EQ(InitialWebInterfacePort(70000), 443);
    EXPECT_EQ(InitialWebInterfacePort(8443), 8443);
}

TEST(LogicalName, ProtocolCodeAndPort)
{
    EXPECT_EQ(ProtocolCodeFromLogicalName("10.0.0.5:4742:32"), 32);
    EXPECT_EQ(ProtocolCodeFromLogicalName("10.0.0.5:4742:17"), 17);
    EXPECT_EQ(ProtocolCodeFromLogicalName("10.0.0.5:4742:123"), 12);  // two characters at most
    EXPECT_EQ(ProtocolCodeFromLogicalName("10.0.0.5:4742:"), 0);
    EXPECT_EQ(ProtocolCodeFromLogicalName(""), 0);
    EXPECT_EQ(ProtocolCodeFromLogicalName("usb-device"), 0);

    uint16_t nPort = 1;
    uint8_t nProto = 1;
    SplitLogicalName("10.0.0.5:4742:32", nPort, nProto);
    EXPECT_EQ(nPort, 4742);
    EXPECT_EQ(nProto, 32);
    SplitLogicalName("", nPort, nProto);
    EXPECT_EQ(nPort, 0);
    EXPECT_EQ(nProto, 0);
    SplitLogicalName("host:4742", nPort, nProto);
    EXPECT_EQ(nPort, 4742);
    EXPECT_EQ(nProto, 0);
    // Parts too long for a port or a code are not read as numbers.
    SplitLogicalName("host:99999999:4444", nPort, nProto);
    EXPECT_EQ(nPort, 0);
    EXPECT_EQ(nProto, 0);
}

TEST(Addresses, Ipv4AndMac)
{
    std::array<uint8_t, 4> ip{};
    EXPECT_TRUE(ParseIpv4("192.168.1.20", ip));
    EXPECT_EQ(ip, (std::array<uint8_t, 4>{192, 168, 1, 20}));
    EXPECT_FALSE(ParseIpv4("0.1.2.3", ip));
    EXPECT_EQ(ip, (std::array<uint8_t, 4>{}));
    EXPECT_FALSE(ParseIpv4("localhost", ip));
    EXPECT_FALSE(ParseIpv4("1.2.3", ip));
    EXPECT_FALSE(ParseIpv4("1.2.3.4.5", ip));
    EXPECT_FALSE(ParseIpv4("1.2.300.4", ip));
    EXPECT_FALSE(ParseIpv4("1..3.4", ip));

    std::array<uint8_t, 6> mac{};
    EXPECT_TRUE(ParseMac("02:4E:7A:0a:b:FF", mac));
    EXPECT_EQ(mac, (std::array<uint8_t, 6>{0x02, 0x4E, 0x7A, 0x0A, 0x0B, 0xFF}));
    EXPECT_FALSE(ParseMac("02:4E:7A:0A:0B", mac));
    EXPECT_FALSE(ParseMac("02:4E:7A:0A:0B:FFF", mac));
    EXPECT_FALSE(ParseMac("02-4E-7A-0A-0B-FF", mac));
    EXPECT_EQ(Ipv4ToText(0xC0A80114), "192.168.1.20");
}

TEST(TerminalIdRecordTest, LayoutOfAFullRecord)
{
    const auto rec = TerminalIdRecord::Build(0x0102, "Terminal-7", "192.168.1.20", "02:4E:7A:01:02:03", 4742, 32);
    const uint8_t abExpectedHead[] = {0x80, 0x02, 0x02, 0x01, 0x81, 0x04, 192, 168, 1, 20,
                                      0x83, 0x06, 0x02, 0x4E, 0x7A, 0x01, 0x02, 0x03, 0x84, 10};
    for (size_t i = 0; i < sizeof(abExpectedHead); ++i)
        EXPECT_EQ(rec.abData[i], abExpectedHead[i]) << "offset " << i;
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(&rec.abData[20]), 10), "Terminal-7");
    for (size_t i = 30; i < 52; ++i)
        EXPECT_EQ(rec.abData[i], 0) << "offset " << i;
    EXPECT_EQ(rec.abData[52], 0x82);
    EXPECT_EQ(rec.abData[53], 0x02);
    EXPECT_EQ(rec.abData[54], 0x86);  // 4742 = 0x1286, little-endian
    EXPECT_EQ(rec.abData[55], 0x12);
    EXPECT_EQ(rec.abData[56], 32);
    for (size_t i = 57; i < 72; ++i)
        EXPECT_EQ(rec.abData[i], 0) << "offset " << i;
    EXPECT_EQ(rec.Version(), 0x0102);
    EXPECT_EQ(rec.Port(), 4742);
    EXPECT_EQ(rec.Name(), "Terminal-7");
}

TEST(TerminalIdRecordTest, LongNameCutAndBadAddressesZero)
{
    const std::string strLong(40, 'N');
    const auto rec = TerminalIdRecord::Build(0, strLong, "localhost", "bogus", 0, 0);
    EXPECT_EQ(rec.abData[19], 32);
    EXPECT_EQ(rec.Name(), std::string(32, 'N'));
    EXPECT_EQ(rec.abData[52], 0x82);  // the name does not run into the port tag
    for (size_t i = 6; i < 10; ++i)
        EXPECT_EQ(rec.abData[i], 0);
    for (size_t i = 12; i < 18; ++i)
        EXPECT_EQ(rec.abData[i], 0);
}

namespace
{
CDeviceInfo Device(int nType, const std::string& strLogical, uint16_t nPort, uint16_t nNetPort)
{
    CDeviceInfo d;
    d.SetConnectionType(nType);
    d.SetIpAddress("10.1.2.3");
    d.SetMacAddress("02:4E:7A:01:02:03");
    d.SetLogicalName(strLogical);
    d.SetName("T1");
    d.SetSicctVersion(0x0101);
    d.SetPort(nPort);
    d.SetNetworkPort(nNetPort);
    return d;
}
} // namespace

TEST(MaintenanceArgsTest, SettingPortOverridesDownloadsButNotDiagnosis)
{
    const CDeviceInfo d = Device(CONN_LAN, "10.1.2.3:4742:32", 3, 4742);
    const SDownloadArgs dl = MakeDownloadArgs(d, 8443);
    EXPECT_EQ(dl.strIp, "10.1.2.3");
    EXPECT_EQ(dl.nPort, 8443);
    EXPECT_EQ(dl.nPort2, 8443);
    EXPECT_EQ(dl.nReserved, 0);
    EXPECT_EQ(dl.nProtocolCode, 32);
    EXPECT_EQ(dl.nConnectionType, CONN_LAN);
    EXPECT_EQ(dl.nSicctVersion, 0x0101);

    const SDiagnosisArgs diag = MakeDiagnosisArgs(d);
    EXPECT_EQ(diag.nPort, 4742);
    EXPECT_EQ(diag.record.Port(), 4742);
    EXPECT_EQ(diag.record.Protocol(), 32);
    EXPECT_TRUE(diag.strText1.empty());
    EXPECT_TRUE(diag.strText2.empty());
    EXPECT_EQ(diag.nConnectionType, CONN_LAN);
    EXPECT_EQ(diag.nReserved, 0);
}

TEST(MaintenanceArgsTest, WithoutSettingThePortDependsOnType)
{
    // Type 0 (HID) talks to its configured port, the others to their network port.
    const CDeviceInfo hid = Device(CONN_HID_UNSECURE, "", 7, 4742);
    EXPECT_EQ(MakeDownloadArgs(hid, 0).nPort, 7);
    EXPECT_EQ(MakeDownloadArgs(hid, 0).nProtocolCode, 0);
    EXPECT_EQ(MakeDiagnosisArgs(hid).nPort, 7);
    EXPECT_EQ(MakeDiagnosisArgs(hid).record.Port(), 0);
    EXPECT_EQ(MakeDiagnosisArgs(hid).record.Protocol(), 0);
    const CDeviceInfo lan = Device(CONN_LAN, "10.1.2.3:4742:16", 7, 4742);
    EXPECT_EQ(MakeDownloadArgs(lan, 0).nPort, 4742);
    EXPECT_EQ(MakeDownloadArgs(lan, 0).nProtocolCode, 16);
}
