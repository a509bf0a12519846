#include <gtest/gtest.h>

#include <cstring>

#include "FakeSettingsStore.h"
#include "Settings.h"

using os::ERegRoot;

namespace
{
const char* const kKey = "SOFTWARE\\Vantor\\SICCT-Config";

class SettingsTest : public ::testing::Test
{
protected:
    void SetUp() override { CSettings::SetBasePath("SOFTWARE\\Vantor"); }
    void TearDown() override { CSettings::SetBasePath("SOFTWARE\\Vantor"); }

    CFakeSettingsStore m_store;
    CSettings m_settings{m_store};
};
} // namespace

TEST_F(SettingsTest, WithoutAnyValueEverySettingHasItsDefault)
{
    EXPECT_EQ(m_settings.WebInterfacePort(), 443u);
    EXPECT_EQ(m_settings.Port(), 0u);
    EXPECT_EQ(m_settings.ProtocolId(), 0u);
    EXPECT_EQ(m_settings.MaxDataPacketSize(), 0u);
    EXPECT_EQ(m_settings.ShowBroadcastAdressField(), 0u);
    EXPECT_EQ(m_settings.AllManufacturer(), 0u);
    EXPECT_FALSE(m_settings.SetAdminName());
    EXPECT_FALSE(m_settings.ShowDiagnosticsLogOnInit());
    EXPECT_EQ(m_settings.CtApi(), "");
    EXPECT_EQ(m_settings.LastFirmwareFileLocation(), "");
    EXPECT_EQ(m_settings.LastCertFileLocation(), "");
    EXPECT_EQ(m_store.Writes(), 0) << "reading never creates anything";
}

TEST_F(SettingsTest, WebInterfacePortUsesOnlyRealTcpPorts)
{
    struct
    {
        uint32_t nStored;
        uint32_t nWeb;
    } aCases[] = {{70000, 443}, {0, 443}, {65536, 443}, {0xFFFFFFFF, 443}, {1, 1}, {8080, 8080}, {65535, 65535}};
    for (const auto& c : aCases)
    {
        m_store.PutDword(ERegRoot::CurrentUser, kKey, "Port", c.nStored);
        EXPECT_EQ(m_settings.WebInterfacePort(), c.nWeb) << c.nStored;
        EXPECT_EQ(m_settings.Port(), c.nStored) << "the download override sees the stored number";
    }
}

TEST_F(SettingsTest, NumbersOfAnotherTypeOrSizeCountAsMissing)
{
    m_store.PutString(ERegRoot::CurrentUser, kKey, "Port", "8080");
    EXPECT_EQ(m_settings.WebInterfacePort(), 443u);
    EXPECT_EQ(m_settings.Port(), 0u);
    m_store.PutRaw(ERegRoot::CurrentUser, kKey, "Protocol-ID", os::REG_TYPE_BINARY, {0x30, 0, 0, 0});
    EXPECT_EQ(m_settings.ProtocolId(), 0u);
    m_store.PutRaw(ERegRoot::CurrentUser, kKey, "MaxDataPacketSize", os::REG_TYPE_DWORD, {1, 2, 3, 4, 5});
    EXPECT_EQ(m_settings.MaxDataPacketSize(), 0u) << "more than 4 bytes do not fit the query";
    m_store.PutDword(ERegRoot::CurrentUser, "software\\VANTOR\\sicct-config", "protocol-id", 0x30);
    EXPECT_EQ(m_settings.ProtocolId(), 0x30u) << "names are case-insensitive";
    m_store.FailQueries(os::REG_ERR_ACCESS_DENIED);
    EXPECT_EQ(m_settings.ProtocolId(), 0u);
    EXPECT_EQ(m_settings.WebInterfacePort(), 443u);
}

TEST_F(SettingsTest, SetAdminNameFallsBackToTheMachineOnlyWhenTheUserHasNoNumber)
{
    m_store.PutDword(ERegRoot::LocalMachine, kKey, "SetAdminName", 1);
    EXPECT_TRUE(m_settings.SetAdminName()) << "present only under the machine root";
    m_store.PutDword(ERegRoot::CurrentUser, kKey, "SetAdminName", 0);
    EXPECT_FALSE(m_settings.SetAdminName()) << "the user's own 0 wins";
    m_store.PutString(ERegRoot::CurrentUser, kKey, "SetAdminName", "0");
    EXPECT_TRUE(m_settings.SetAdminName()) << "a text under the user cannot be read as a number";
    // only this setting looks at the machine root
    m_store.PutDword(ERegRoot::LocalMachine, kKey, "Port", 8443);
    EXPECT_EQ(m_settings.WebInterfacePort(), 443u);
}

TEST_F(SettingsTest, ReadStringFollowsTheRegistryBufferRules)
{
    char szBuf[8];
    auto read = [&](const char* pszDefault) {
        std::memset(szBuf, 'Z', sizeof(szBuf));
        return m_settings.ReadString(ERegRoot::CurrentUser, CSettings::kSection, "S", szBuf, sizeof(szBuf), pszDefault);
    };
    // shorter than the buffer: terminated after the stored bytes, with or without a zero
    m_store.PutString(ERegRoot::CurrentUser, kKey, "S", "abc", false);
    EXPECT_EQ(read(nullptr), os::REG_OK);
    EXPECT_STREQ(szBuf, "abc");
    // exactly the buffer, last byte zero: accepted
    m_store.PutString(ERegRoot::CurrentUser, kKey, "S", "1234567", true);
    EXPECT_EQ(read("dflt"), os::REG_OK);
    EXPECT_STREQ(szBuf, "1234567");
    // exactly the buffer without terminator: 111, default copied
    m_store.PutString(ERegRoot::CurrentUser, kKey, "S", "12345678", false);
    EXPECT_EQ(read("dflt"), os::REG_ERR_BUFFER_OVERFLOW);
    EXPECT_STREQ(szBuf, "dflt");
    // exactly the buffer, zero at the end, but not a text: 13
    m_store.PutRaw(ERegRoot::CurrentUser, kKey, "S", os::REG_TYPE_BINARY, {'1', '2', '3', '4', '5', '6', '7', 0});
    EXPECT_EQ(read("dflt"), os::REG_ERR_INVALID_DATA);
    EXPECT_STREQ(szBuf, "dflt");
    // a number is no text either, whatever its size
    m_store.PutDword(ERegRoot::CurrentUser, kKey, "S", 0x41);
    EXPECT_EQ(read(""), os::REG_ERR_INVALID_DATA);
    EXPECT_STREQ(szBuf, "");
    // larger than the buffer: the store's error; a default longer than the buffer is cut
    m_store.PutString(ERegRoot::CurrentUser, kKey, "S", "far too long", true);
    EXPECT_EQ(read("default text"), os::REG_ERR_MORE_DATA);
    EXPECT_STREQ(szBuf, "default");
    // missing, without default: the buffer is left to the caller
    m_store.Remove(ERegRoot::CurrentUser, kKey, "S");
    EXPECT_EQ(read(nullptr), os::REG_ERR_FILE_NOT_FOUND);
    EXPECT_EQ(szBuf[0], 'Z');
    EXPECT_EQ(m_settings.ReadString(ERegRoot::CurrentUser, CSettings::kSection, "S", szBuf, 0, "x"),
              os::REG_ERR_INVALID_PARAMETER);
}

TEST_F(SettingsTest, CtApiOf256BytesNeedsItsTerminator)
{
    const std::string strPath255 = "/" + std::string(254, 'p');
    m_store.PutString(ERegRoot::CurrentUser, kKey, "CtApi", strPath255, true);  // 256 bytes with the zero
    EXPECT_EQ(m_settings.CtApi(), strPath255);
    m_store.PutString(ERegRoot::CurrentUser, kKey, "CtApi", strPath255 + "q", false);  // 256th byte not zero
    EXPECT_EQ(m_settings.CtApi(), "");
    m_store.PutString(ERegRoot::CurrentUser, kKey, "CtApi", strPath255, false);  // 255 bytes, no zero
    EXPECT_EQ(m_settings.CtApi(), strPath255);
    m_store.PutString(ERegRoot::CurrentUser, kKey, "CtApi", strPath255 + "q", true);  // 257 bytes
    EXPECT_EQ(m_settings.CtApi(), "");

    // the other texts have their own limits: 254 and 1023 characters
    m_store.PutString(ERegRoot::CurrentUser, kKey, "LastFirmwareFileLocation", std::string(254, 'f'), true);
    EXPECT_EQ(m_settings.LastFirmwareFileLocation().size(), 254u);
    m_store.PutString(ERegRoot::CurrentUser, kKey, "LastFirmwareFileLocation", std::string(255, 'f'), true);
    EXPECT_EQ(m_settings.LastFirmwareFileLocation(), "");
    m_store.PutString(ERegRoot::CurrentUser, kKey, "LastCertFileLocation", std::string(1023, 'c'), true);
    EXPECT_EQ(m_settings.LastCertFileLocation().size(), 1023u);
    m_store.PutString(ERegRoot::CurrentUser, kKey, "LastCertFileLocation", std::string(1024, 'c'), false);
    EXPECT_EQ(m_settings.LastCertFileLocation(), "");
}

TEST_F(SettingsTest, WritersStoreTheRegistryTypes)
{
    EXPECT_TRUE(m_settings.SetCtApi("/usr/lib/libctapi.so"));
    CFakeSettingsStore::SValue v;
    ASSERT_TRUE(m_store.Get(ERegRoot::CurrentUser, kKey, "CtApi", v));
    EXPECT_EQ(v.nType, os::REG_TYPE_SZ);
    EXPECT_EQ(std::string(v.vecData.begin(), v.vecData.end()), "/usr/lib/libctapi.so") << "no terminating zero";
    EXPECT_EQ(m_settings.CtApi(), "/usr/lib/libctapi.so");

    EXPECT_TRUE(m_settings.SetShowDiagnosticsLogOnInit(true));
    ASSERT_TRUE(m_store.Get(ERegRoot::CurrentUser, kKey, "Show_Diagnostics_Log_on_init", v));
    EXPECT_EQ(v.nType, os::REG_TYPE_DWORD);
    EXPECT_EQ(v.vecData, (std::vector<uint8_t>{1, 0, 0, 0}));
    EXPECT_TRUE(m_settings.ShowDiagnosticsLogOnInit());
    EXPECT_TRUE(m_settings.SetShowDiagnosticsLogOnInit(false));
    EXPECT_FALSE(m_settings.ShowDiagnosticsLogOnInit());

    EXPECT_TRUE(m_settings.SetLastFirmwareFileLocation("/fw/a.bin"));
    EXPECT_TRUE(m_settings.SetLastCertFileLocation("/certs/list.bin"));
    EXPECT_EQ(m_settings.LastFirmwareFileLocation(), "/fw/a.bin");
    EXPECT_EQ(m_settings.LastCertFileLocation(), "/certs/list.bin");

    EXPECT_TRUE(m_settings.WriteDword(ERegRoot::LocalMachine, "Other", "N", 7));
    EXPECT_EQ(m_settings.ReadDword(ERegRoot::LocalMachine, "Other", "N", 0), 7u);

    m_store.FailWrites(os::REG_ERR_ACCESS_DENIED);
    EXPECT_FALSE(m_settings.SetCtApi("/x"));
    EXPECT_FALSE(m_settings.SetShowDiagnosticsLogOnInit(true));
}

TEST_F(SettingsTest, KeyPathStaysBelow400Characters)
{
    // base (15) + section + 2 must stay below 400: a 382-character section is the longest
    const std::string strLongest(382, 's');
    const std::string strPath = CSettings::ComposeKeyPath(strLongest.c_str());
    EXPECT_EQ(strPath.size(), 398u);
    EXPECT_EQ(strPath, "SOFTWARE\\Vantor\\" + strLongest);
    const std::string strTooLong(383, 's');
    EXPECT_EQ(CSettings::ComposeKeyPath(strTooLong.c_str()), "");
    EXPECT_EQ(CSettings::ComposeKeyPath(nullptr), "");

    // with no usable path nothing is read from or written to the root of the hive
    m_store.PutDword(ERegRoot::CurrentUser, "", "N", 5);
    EXPECT_EQ(m_settings.ReadDword(ERegRoot::CurrentUser, strTooLong.c_str(), "N", 9), 9u);
    EXPECT_FALSE(m_settings.WriteDword(ERegRoot::CurrentUser, strTooLong.c_str(), "N", 1));
    EXPECT_FALSE(m_settings.WriteString(strTooLong.c_str(), "N", "x"));
    EXPECT_TRUE(m_settings.WriteDword(ERegRoot::CurrentUser, strLongest.c_str(), "N", 1));
    EXPECT_EQ(m_store.ValueCount(), 2u);
    // without composing, the section text is the path itself
    EXPECT_EQ(m_settings.ReadDword(ERegRoot::CurrentUser, "", "N", 9, false), 5u);

    CSettings::SetBasePath("");
    EXPECT_EQ(CSettings::ComposeKeyPath("SICCT-Config"), "SICCT-Config");
    CSettings::SetBasePath(std::string(300, 'b'));
    EXPECT_EQ(CSettings::ComposeKeyPath("x"), std::string(259, 'b') + "\\x") << "the base holds 259 characters";
}
