#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

#include "ElfVersionReader.h"
#include "OsCodes.h"
#include "VersionInfo.h"

namespace
{
/// Hands out a record made by the test, for any path.
class CFakeVersionReader : public os::CVersionReader
{
public:
    int ReadFromFile(const std::string& strPath, os::SVersionRecord& record) override
    {
        m_strLastPath = strPath;
        if (!m_bHave)
            return os::OS_ERR_NOT_FOUND;
        record = m_record;
        return os::OS_OK;
    }
    std::string ModuleFileName(void* hModule) override { return hModule ? "" : "/proc/self/exe"; }

    os::SVersionRecord m_record;
    bool m_bHave = true;
    std::string m_strLastPath;
};

os::SVersionRecord MakeRecord()
{
    os::SVersionRecord record;
    record.fixed.nSignature = os::VERSION_FIXED_SIGNATURE;
    record.vecTranslations = {{0x0407, 1200}, {0x0409, 1252}};
    record.vecStrings.push_back({{0x0407, 1200},
                                 {{"ProductName", "Terminal Console"},
                                  {"ProductVersion", "2.3.2"},
                                  {"FileDescription", "Terminal Console"},
                                  {"FileVersion", "2.3.2.1"},
                                  {"LegalCopyright", "Copyright (C) 2026 Vantor"},
                                  {"Long", std::string(200, 'L')}}});
    record.vecStrings.push_back({{0x0409, 1252}, {{"ProductName", "Terminal Console (en)"}}});
    return record;
}

class VersionInfoTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        m_reader.m_record = MakeRecord();
        ASSERT_TRUE(m_info.LoadFromFile("/some/file"));
    }
    std::string Format(const std::string& strFormat, const std::vector<std::string>& vecNames, size_t nSize = 256)
    {
        std::vector<char> vecBuf(nSize, '\0');
        std::memcpy(vecBuf.data(), strFormat.c_str(), std::min(nSize, strFormat.size() + 1));
        if (!m_info.FormatText(vecBuf.data(), nSize, -1, vecNames))
            return "<failed:" + std::string(vecBuf.data()) + ">";
        return vecBuf.data();
    }

    CFakeVersionReader m_reader;
    CVersionInfo m_info{m_reader};
};
} // namespace

TEST_F(VersionInfoTest, GetValueUsesTheTranslationAndCutsToTheBuffer)
{
    char sz[64];
    ASSERT_TRUE(m_info.GetValue(sz, sizeof(sz), "ProductName"));
    EXPECT_STREQ(sz, "Terminal Console");
    ASSERT_TRUE(m_info.GetValue(sz, sizeof(sz), "ProductName", 1));
    EXPECT_STREQ(sz, "Terminal Console (en)");
    EXPECT_FALSE(m_info.GetValue(sz, sizeof(sz), "ProductName", 2));
    EXPECT_FALSE(m_info.GetValue(sz, sizeof(sz), "FileVersion", 1)) << "not in the English table";
    EXPECT_FALSE(m_info.GetValue(sz, sizeof(sz), "Missing"));
    ASSERT_TRUE(m_info.GetValue(sz, 9, "ProductName"));
    EXPECT_STREQ(sz, "Terminal");
    ASSERT_TRUE(m_info.SetCurrentTranslation(1));
    ASSERT_TRUE(m_info.GetValue(sz, sizeof(sz), "ProductName"));
    EXPECT_STREQ(sz, "Terminal Console (en)");
    EXPECT_FALSE(m_info.SetCurrentTranslation(2));
}

TEST_F(VersionInfoTest, FormatTextFillsOneValuePerConversion)
{
    EXPECT_EQ(Format("Info über %s V%s", {"ProductName", "ProductVersion"}), "Info über Terminal Console V2.3.2");
    EXPECT_EQ(Format("Inf&o über %s...", {"FileDescription"}), "Inf&o über Terminal Console...");
    EXPECT_EQ(Format("no conversion", {"ProductName"}), "no conversion");
    EXPECT_EQ(Format("[%-18s][%18s][%.8s]", {"ProductName", "ProductVersion", "ProductName"}),
              "[Terminal Console  ][             2.3.2][Terminal]");
    EXPECT_EQ(Format("%s|%s", {"ProductName"}), "Terminal Console|") << "a conversion without a name gets nothing";
    EXPECT_EQ(Format("%s", {"Missing"}), "");
    EXPECT_EQ(Format("%s", {"Long"}), std::string(127, 'L')) << "values are cut to 127 characters";
}

TEST_F(VersionInfoTest, DoubledPercentSignsAreNoConversions)
{
    // before a later conversion it becomes one sign; after the last one it stays doubled
    EXPECT_EQ(Format("100%% %s", {"ProductName"}), "100% Terminal Console");
    EXPECT_EQ(Format("%s 100%%", {"ProductName"}), "Terminal Console 100%%");
    // "%%s" consumes no value name
    EXPECT_EQ(Format("%%s %s", {"ProductName", "ProductVersion"}), "%s Terminal Console");
    EXPECT_EQ(Format("%%%s", {"ProductVersion"}), "%2.3.2");
    EXPECT_EQ(Format("50%", {"ProductName"}), "50%") << "a lone sign at the end is text";
}

TEST_F(VersionInfoTest, EveryConversionFormatsItsValueAsText)
{
    // a format with the wrong conversion must not read a number or write through %n
    EXPECT_EQ(Format("V%d.%x|%n|%p", {"ProductVersion", "ProductVersion", "ProductName", "ProductVersion"}),
              "V2.3.2.2.3.2|Terminal Console|2.3.2");
    EXPECT_EQ(Format("%*s|%.*s", {"ProductVersion", "ProductVersion"}), "2.3.2|2.3.2");
}

TEST_F(VersionInfoTest, ResultThatDoesNotFitLeavesTheFormat)
{
    // "Terminal Console V2.3.2" is 23 characters: 24 bytes fit, 23 do not
    EXPECT_EQ(Format("%s V%s", {"ProductName", "ProductVersion"}, 24), "Terminal Console V2.3.2");
    EXPECT_EQ(Format("%s V%s", {"ProductName", "ProductVersion"}, 23), "<failed:%s V%s>");
    char szUnterminated[4] = {'%', 's', 'x', 'y'};
    EXPECT_FALSE(m_info.FormatText(szUnterminated, sizeof(szUnterminated), -1, {"ProductName"}));
}

TEST_F(VersionInfoTest, WindowTextGrowsItsBufferUntilTheResultFits)
{
    std::string strCaption = std::string(150, '-') + " %s V%s " + std::string(150, '=');
    ASSERT_TRUE(m_info.FormatWindowText(strCaption, -1, {"ProductName", "ProductVersion"}));
    EXPECT_EQ(strCaption, std::string(150, '-') + " Terminal Console V2.3.2 " + std::string(150, '='));
    std::string strShort = "%s";
    ASSERT_TRUE(m_info.FormatWindowText(strShort, -1, {"Long"}));
    EXPECT_EQ(strShort.size(), 127u);
    std::string strEmpty;
    EXPECT_FALSE(m_info.FormatWindowText(strEmpty, -1, {"ProductName"}));
}

TEST_F(VersionInfoTest, WithoutARecordEverythingFails)
{
    m_reader.m_bHave = false;
    EXPECT_FALSE(m_info.LoadFromFile("/other/file"));
    EXPECT_FALSE(m_info.IsLoaded()) << "a failed load drops the previous record";
    char sz[32] = "%s";
    EXPECT_FALSE(m_info.GetValue(sz, sizeof(sz), "ProductName"));
    EXPECT_FALSE(m_info.FormatText(sz, sizeof(sz), -1, {"ProductName"}));
    EXPECT_STREQ(sz, "%s");
    std::string strCaption = "Info über %s V%s";
    EXPECT_FALSE(m_info.FormatWindowText(strCaption, -1, {"ProductName", "ProductVersion"}));
    EXPECT_EQ(m_info.FixedFileInfo(), nullptr);

    // a record without translations or without the fixed part does not count as loaded
    m_reader.m_bHave = true;
    m_reader.m_record.vecTranslations.clear();
    EXPECT_FALSE(m_info.LoadFromFile("/x"));
    m_reader.m_record = MakeRecord();
    m_reader.m_record.fixed.nSignature = 0;
    EXPECT_FALSE(m_info.LoadFromFile("/x"));
    m_reader.m_record = MakeRecord();
    EXPECT_TRUE(m_info.LoadFromModule(nullptr));
    EXPECT_EQ(m_reader.m_strLastPath, "/proc/self/exe");
}

TEST(VersionInfoOfThisProgram, ReadsTheRecordEmbeddedAtBuildTime)
{
    os::CElfVersionReader reader;
    CVersionInfo info(reader);
    ASSERT_TRUE(info.LoadFromModule(nullptr));
    std::string strCaption = "Info über %s V%s";
    ASSERT_TRUE(info.FormatWindowText(strCaption, -1, {"ProductName", "ProductVersion"}));
    EXPECT_EQ(strCaption, "Info über Terminal Console V2.3.2");
    std::string strStatic = "%s V%s";
    ASSERT_TRUE(info.FormatWindowText(strStatic, -1, {"FileDescription", "FileVersion"}));
    EXPECT_EQ(strStatic, "Terminal Console V2.3.2.1");
    char szMenu[256] = "Inf&o über %s...";
    ASSERT_TRUE(info.FormatText(szMenu, sizeof(szMenu), -1, {"FileDescription"}));
    EXPECT_STREQ(szMenu, "Inf&o über Terminal Console...");
    ASSERT_NE(info.FixedFileInfo(), nullptr);
    EXPECT_EQ(info.FixedFileInfo()->nFileVersionMS >> 16, 2u);
    EXPECT_EQ(info.FixedFileInfo()->nFileVersionLS & 0xFFFF, 1u);

    EXPECT_FALSE(info.LoadFromFile("/etc/hostname"));
    EXPECT_FALSE(info.IsLoaded());
}
