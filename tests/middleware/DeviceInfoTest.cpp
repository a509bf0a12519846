// Device descriptions: defaults, description parsing, connection type texts.
#include <gtest/gtest.h>

#include "DeviceInfo.h"
#include "VendorFilter.h"

TEST(DeviceInfo, DefaultsAndCopy)
{
    CDeviceInfo info;
    EXPECT_EQ(info.GetConnectionType(), 7);
    EXPECT_EQ(info.GetUseHIDHandshake(), 1);
    EXPECT_EQ(info.GetSicctVersion(), 0);
    EXPECT_EQ(info.GetPort(), 0);
    EXPECT_EQ(info.GetNetworkPort(), 0);
    EXPECT_TRUE(info.GetIpAddress().empty());
    EXPECT_TRUE(info.GetCtApiDllName().empty());

    info.SetName("T1");
    info.SetNetworkPort(4742);
    info.SetAdditionalInfo("IP-Address=10.0.0.7;MAC-Address=aa:bb:cc:dd:ee:ff;");
    CDeviceInfo copy(info);
    EXPECT_EQ(copy.GetName(), "T1");
    EXPECT_EQ(copy.GetNetworkPort(), 4742);
    EXPECT_EQ(copy.GetIpAddress(), "10.0.0.7");
    EXPECT_EQ(copy.GetMacAddress(), "AA:BB:CC:DD:EE:FF");
}

TEST(DeviceInfo, DescriptionParsing)
{
    CDeviceInfo info;
    info.SetAdditionalInfo("IP-Address=192.168.1.20;MAC-Address=00:0d:f8:01:02:0a;");
    EXPECT_EQ(info.GetIpAddress(), "192.168.1.20");
    EXPECT_EQ(info.GetMacAddress(), "00:0D:F8:01:02:0A");
    EXPECT_EQ(info.GetAdditionalInfo(), "IP-Address=192.168.1.20;MAC-Address=00:0d:f8:01:02:0a;");

    // An empty address keeps the old one; the MAC takes the (empty) value.
    info.SetAdditionalInfo("IP-Address=;MAC-Address=;");
    EXPECT_EQ(info.GetIpAddress(), "192.168.1.20");
    EXPECT_EQ(info.GetMacAddress(), "");

    // Keys without a terminating ';' leave both fields unchanged.
    info.SetMacAddress("11:22:33:44:55:66");
    info.SetAdditionalInfo("IP-Address=10.1.1.1MAC-Address=77:88");
    EXPECT_EQ(info.GetIpAddress(), "192.168.1.20");
    EXPECT_EQ(info.GetMacAddress(), "11:22:33:44:55:66");

    // The order of the keys does not matter.
    info.SetAdditionalInfo("MAC-Address=ab:cd:ef:01:02:03;IP-Address=172.16.0.1;");
    EXPECT_EQ(info.GetIpAddress(), "172.16.0.1");
    EXPECT_EQ(info.GetMacAddress(), "AB:CD:EF:01:02:03");
}

TEST(DeviceInfo, ConnectionTypeTextsBothWays)
{
    const char* apszConfig[] = {"HID_UNSECURE", "HID_SECURE", "SERIAL", "LAN", "PCSC", "USB"};
    const char* apszDisplay[] = {"USB", "USB", "Seriell", "LAN", "PC/SC", "USB"};
    for (int i = 0; i < 6; ++i)
    {
        EXPECT_EQ(CDeviceInfo::ConnectionTypeText(i, false), apszConfig[i]);
        EXPECT_EQ(CDeviceInfo::ConnectionTypeText(i, true), apszDisplay[i]);
        EXPECT_EQ(CDeviceInfo::ConnectionTypeFromText(apszConfig[i]), i);
    }
    EXPECT_EQ(CDeviceInfo::ConnectionTypeFromText("LAN2CTVNT"), 6);
    EXPECT_EQ(CDeviceInfo::ConnectionTypeText(6, false), "UNKNOWN");
    EXPECT_EQ(CDeviceInfo::ConnectionTypeText(6, true), "Unbekannt");
    EXPECT_EQ(CDeviceInfo::ConnectionTypeText(42, false), "UNKNOWN");
    EXPECT_EQ(CDeviceInfo::ConnectionTypeText(-1, true), "Unbekannt");
    EXPECT_EQ(CDeviceInfo::ConnectionTypeFromText("lan"), 7);
    EXPECT_EQ(CDeviceInfo::ConnectionTypeFromText(""), 7);
    EXPECT_EQ(CDeviceInfo::ConnectionTypeFromText("UNKNOWN"), 7);
}

TEST(VendorFilter, PrefixesExcludeWholeMacTexts)
{
    EXPECT_FALSE(CVendorFilter::IsExcluded("00:11:22:33:44:55"));  // empty list by default
    CVendorFilter::SetExcludedPrefixes({"00:11:22", "aa:bb:cc"});
    EXPECT_TRUE(CVendorFilter::IsExcluded("00:11:22:33:44:55"));
    EXPECT_TRUE(CVendorFilter::IsExcluded("AA:BB:CC:00:00:01"));
    EXPECT_TRUE(CVendorFilter::IsExcluded("aa:bb:cc:00:00:01"));
    EXPECT_FALSE(CVendorFilter::IsExcluded("00:11:23:33:44:55"));
    CVendorFilter::SetExcludedPrefixes({});
    EXPECT_FALSE(CVendorFilter::IsExcluded("00:11:22:33:44:55"));
}
