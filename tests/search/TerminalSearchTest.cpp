#include <gtest/gtest.h>

#include "TerminalSearch.h"

using namespace search;

namespace
{
std::unique_ptr<CDeviceInfo> Dev(const std::string& strLogical, uint16_t nPort = 0, const std::string& strMac = "")
{
    auto p = std::make_unique<CDeviceInfo>();
    p->SetLogicalName(strLogical);
    p->SetPort(nPort);
    p->SetMacAddress(strMac);
    return p;
}

// Scripted sources; counts calls so the order of the search can be checked.
class CFakeFinder : public CTerminalFinder
{
public:
    int nLanResult = FIND_OK, nUsbResult = FIND_OK, nConfigResult = FIND_OK;
    std::vector<std::string> vecLan, vecUsb;
    std::vector<std::pair<std::string, uint16_t>> vecConfig;
    std::vector<std::string> vecCalls;

    int FindLanTerminals(DeviceList& v) override
    {
        vecCalls.push_back("lan");
        for (const auto& s : vecLan)
            v.push_back(Dev(s));
        return nLanResult;
    }
    int FindUsbTerminals(DeviceList& v) override
    {
        vecCalls.push_back("usb");
        for (const auto& s : vecUsb)
            v.push_back(Dev(s));
        return nUsbResult;
    }
    int ReadConfiguredTerminals(DeviceList& v) override
    {
        vecCalls.push_back("config");
        for (const auto& [s, n] : vecConfig)
            v.push_back(Dev(s, n));
        return nConfigResult;
    }
    std::unique_ptr<CDeviceInfo> QueryTerminalByAddress(uint32_t) override { return nullptr; }
};
} // namespace

TEST(Search, LanBeforeUsbAndFailingTransportSkipped)
{
    CFakeFinder finder;
    finder.vecLan = {"a:1:16"};
    finder.vecUsb = {"", ""};
    finder.nLanResult = CTerminalFinder::FIND_NO_TRANSPORT;
    DeviceList v = DiscoverTerminals(finder);
    ASSERT_EQ(v.size(), 3u);
    EXPECT_EQ(v[0]->GetLogicalName(), "a:1:16");
    EXPECT_EQ(finder.vecCalls, (std::vector<std::string>{"lan", "usb"}));
}

TEST(Search, MergeCopiesPortsLastMatchWinsAndAddsNoRows)
{
    CFakeFinder finder;
    finder.vecLan = {"10.0.0.1:4742:16", "10.0.0.2:4742:32", "10.0.0.3:4742:32"};
    finder.vecConfig = {{"10.0.0.2:4742:32", 5}, {"10.0.0.9:4742:16", 9}, {"10.0.0.2:4742:32", 6},
                        {"10.0.0.1:4742:16", 1}, {"10.0.0.3:4742:32 ", 7}};
    DeviceList v = RunSearch(finder);
    ASSERT_EQ(v.size(), 3u);
    EXPECT_EQ(v[0]->GetPort(), 1);
    EXPECT_EQ(v[1]->GetPort(), 6);  // both entries match; the later one in the file wins
    EXPECT_EQ(v[2]->GetPort(), 0);  // comparison is exact: a trailing blank is another name
    EXPECT_EQ(finder.vecCalls, (std::vector<std::string>{"lan", "usb", "config"}));
}

TEST(Search, MergeUsesUpMatchedEntriesAndDropsEmptyOnes)
{
    DeviceList vecFound;
    vecFound.push_back(Dev("x"));
    vecFound.push_back(nullptr);
    vecFound.push_back(Dev("x"));
    DeviceList vecConfigured;
    vecConfigured.push_back(nullptr);
    vecConfigured.push_back(Dev("x", 4));
    vecConfigured.push_back(Dev("y", 5));
    MergeConfiguredPorts(vecFound, vecConfigured);
    ASSERT_EQ(vecFound.size(), 2u);
    EXPECT_EQ(vecFound[0]->GetPort(), 4);
    EXPECT_EQ(vecFound[1]->GetPort(), 0);  // the entry was taken by the first device
    ASSERT_EQ(vecConfigured.size(), 1u);
    EXPECT_EQ(vecConfigured[0]->GetLogicalName(), "y");
}

TEST(Search, UnreadableConfigurationMergesNothing)
{
    CFakeFinder finder;
    finder.vecLan = {"a"};
    finder.vecConfig = {{"a", 3}};
    finder.nConfigResult = CTerminalFinder::FIND_NO_CONFIG;
    DeviceList v = RunSearch(finder);
    ASSERT_EQ(v.size(), 1u);
    EXPECT_EQ(v[0]->GetPort(), 0);
}

TEST(Rows, ReplaceInPlaceByExactMac)
{
    DeviceList vecRows;
    vecRows.push_back(Dev("r0", 0, "02:4E:7A:00:00:01"));
    vecRows.push_back(nullptr);
    vecRows.push_back(Dev("r2", 0, "02:4E:7A:00:00:02"));
    vecRows.push_back(Dev("r3", 0, "02:4E:7A:00:00:02"));

    EXPECT_EQ(ReplaceOrAddTerminalRow(vecRows, Dev("new", 0, "02:4E:7A:00:00:02")), 2);
    ASSERT_EQ(vecRows.size(), 4u);
    EXPECT_EQ(vecRows[2]->GetLogicalName(), "new");
    EXPECT_EQ(vecRows[3]->GetLogicalName(), "r3");  // only the first match is replaced

    // Case differs: another MAC text, so a new row at the end.
    EXPECT_EQ(ReplaceOrAddTerminalRow(vecRows, Dev("lower", 0, "02:4e:7a:00:00:01")), 4);
    EXPECT_EQ(vecRows.size(), 5u);
    EXPECT_EQ(vecRows[0]->GetLogicalName(), "r0");

    EXPECT_EQ(ReplaceOrAddTerminalRow(vecRows, nullptr), -1);
    EXPECT_EQ(vecRows.size(), 5u);
}
