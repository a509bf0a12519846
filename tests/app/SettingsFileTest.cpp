// The settings through the real .reg files, as the program runs them.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "RegFileStore.h"
#include "Settings.h"

namespace fs = std::filesystem;

namespace
{
class SettingsFileTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        CSettings::SetBasePath("SOFTWARE\\Vantor");
        char szTemplate[] = "/tmp/tc-settings-XXXXXX";
        ASSERT_NE(::mkdtemp(szTemplate), nullptr);
        m_root = szTemplate;
        // the way the program finds its files, redirected for the test
        const char* pszOld = std::getenv("TC_SETTINGS_ROOT");
        m_bHadRoot = pszOld != nullptr;
        m_strOldRoot = pszOld ? pszOld : "";
        ::setenv("TC_SETTINGS_ROOT", m_root.c_str(), 1);
        m_pStore = std::make_unique<os::CRegFileStore>();
        m_pSettings = std::make_unique<CSettings>(*m_pStore);
    }
    void TearDown() override
    {
        if (m_bHadRoot)
            ::setenv("TC_SETTINGS_ROOT", m_strOldRoot.c_str(), 1);
        else
            ::unsetenv("TC_SETTINGS_ROOT");
        std::error_code ec;
        fs::remove_all(m_root, ec);
    }
    void WriteUser(const std::string& strText)
    {
        fs::create_directories(m_root / "user");
        std::ofstream(m_root / "user" / "user.reg", std::ios::binary) << strText;
    }
    void WriteMachine(const std::string& strText)
    {
        fs::create_directories(m_root / "machine");
        std::ofstream(m_root / "machine" / "system.reg", std::ios::binary) << strText;
    }

    fs::path m_root;
    bool m_bHadRoot = false;
    std::string m_strOldRoot;
    std::unique_ptr<os::CRegFileStore> m_pStore;
    std::unique_ptr<CSettings> m_pSettings;
};

std::string HexBytes(const std::string& str)
{
    std::string strOut;
    char sz[4];
    for (size_t i = 0; i < str.size(); ++i)
    {
        std::snprintf(sz, sizeof(sz), "%02x", static_cast<uint8_t>(str[i]));
        strOut += (i ? "," : "") + std::string(sz);
    }
    return strOut;
}
} // namespace

TEST_F(SettingsFileTest, NoFilesAtAllGiveTheDefaultsAndCreateNothing)
{
    EXPECT_EQ(m_pSettings->WebInterfacePort(), 443u);
    EXPECT_FALSE(m_pSettings->ShowDiagnosticsLogOnInit());
    EXPECT_FALSE(m_pSettings->SetAdminName());
    EXPECT_EQ(m_pSettings->CtApi(), "");
    EXPECT_FALSE(fs::exists(m_root / "user"));
}

TEST_F(SettingsFileTest, ValuesFromTheFilesApplyWithTheirRules)
{
    WriteUser("REGEDIT4\r\n\r\n[HKEY_CURRENT_USER\\SOFTWARE\\Vantor\\SICCT-Config]\r\n"
              "\"Port\"=dword:00011170\r\n"  // 70000
              "\"Protocol-ID\"=\"48\"\r\n");
    WriteMachine("REGEDIT4\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Vantor\\SICCT-Config]\n\"SetAdminName\"=dword:00000001\n");
    EXPECT_EQ(m_pSettings->WebInterfacePort(), 443u);
    EXPECT_EQ(m_pSettings->ProtocolId(), 0u) << "a text where a number belongs";
    EXPECT_TRUE(m_pSettings->SetAdminName());
}

TEST_F(SettingsFileTest, CtApiOf256BytesWithAndWithoutTerminator)
{
    const std::string strPath = "/" + std::string(254, 'a');  // 255 characters
    // quoted form: stored with its terminator, 256 bytes
    WriteUser("REGEDIT4\n[HKEY_CURRENT_USER\\SOFTWARE\\Vantor\\SICCT-Config]\n\"CtApi\"=\"" + strPath + "\"\n");
    EXPECT_EQ(m_pSettings->CtApi(), strPath);
    // hex(1) form: 256 bytes, the last one not zero
    WriteUser("REGEDIT4\n[HKEY_CURRENT_USER\\SOFTWARE\\Vantor\\SICCT-Config]\n\"CtApi\"=hex(1):" +
              HexBytes(strPath + "b") + "\n");
    EXPECT_EQ(m_pSettings->CtApi(), "");
}

TEST_F(SettingsFileTest, WrittenValuesComeBackAndKeepTheOthers)
{
    WriteUser("REGEDIT4\n[HKEY_CURRENT_USER\\SOFTWARE\\Vantor\\SICCT-Config]\n\"Port\"=dword:00001f90\n");
    ASSERT_TRUE(m_pSettings->SetCtApi("/opt/ctapi/libctapi \"x\".so"));
    ASSERT_TRUE(m_pSettings->SetShowDiagnosticsLogOnInit(true));
    ASSERT_TRUE(m_pSettings->SetLastCertFileLocation(std::string(1023, 'c')));
    CSettings fresh(*m_pStore);
    EXPECT_EQ(fresh.CtApi(), "/opt/ctapi/libctapi \"x\".so");
    EXPECT_TRUE(fresh.ShowDiagnosticsLogOnInit());
    EXPECT_EQ(fresh.LastCertFileLocation(), std::string(1023, 'c'));
    EXPECT_EQ(fresh.WebInterfacePort(), 8080u);
}
