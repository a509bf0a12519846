#include <gtest/gtest.h>

#include <numeric>

#include "CtApiCommands.h"

using namespace ctapi;

using Bytes = std::vector<uint8_t>;

TEST(CtApiCommands, TableTextsBecomeTheirBytes)
{
    Bytes v;
    ASSERT_TRUE(CommandFromTable(128, 0, {}, v));
    EXPECT_EQ(v, (Bytes{0x80, 0x20, 0x00, 0x01}));
    ASSERT_TRUE(CommandFromTable(138, 0, {}, v));
    EXPECT_EQ(v, (Bytes{0x20, 0x11, 0x00, 0x00}));
    ASSERT_TRUE(CommandFromTable(102, 0, {}, v));
    EXPECT_EQ(v, (Bytes{0x80, 0x58, 0x00, 0x00, 0x00}));
    ASSERT_TRUE(CommandFromTable(112, 0, {}, v));
    EXPECT_EQ(v, (Bytes{0x80, 0x13, 0x00, 0x46, 0x00}));
    // a number without a command text builds nothing
    EXPECT_FALSE(CommandFromTable(139, 0, {}, v));
    EXPECT_TRUE(v.empty());
}

TEST(CtApiCommands, UnitPlaceholderIsFilledBeforeConversion)
{
    Bytes v;
    ASSERT_TRUE(CommandFromTable(117, 0, "4A", v));
    EXPECT_EQ(v, (Bytes{0x80, 0x13, 0x4A, 0xA1, 0x00}));
    ASSERT_TRUE(CommandFromTable(116, 0, "01", v));
    EXPECT_EQ(v, (Bytes{0x80, 0x11, 0x01, 0x01, 0x00}));
    // a unit text that is no hex pair must not become a half-parsed command
    EXPECT_FALSE(CommandFromTable(117, 0, "XZ", v));
    EXPECT_FALSE(CommandFromTable(117, 0, "123", v));
}

TEST(CtApiCommands, MalformedTextsAreRefused)
{
    Bytes v;
    EXPECT_FALSE(CommandFromText("", {}, v));
    EXPECT_FALSE(CommandFromText("   ", {}, v));
    EXPECT_FALSE(CommandFromText("80 1", {}, v));
    EXPECT_FALSE(CommandFromText("8013", {}, v));
    EXPECT_FALSE(CommandFromText("80 G3", {}, v));
    ASSERT_TRUE(CommandFromText("  80 29 00 00 ", {}, v)); // surrounding blanks are trimmed
    EXPECT_EQ(v, (Bytes{0x80, 0x29, 0x00, 0x00}));
}

TEST(CtApiCommands, SessionCloseVariantFollowsSicctVersion)
{
    const Bytes strId = {'V', 'A', 'N', 'T', 'O', 'R', '_', '_', '1', '0', '0', '1'};
    for (uint16_t nVersion : {uint16_t(0), uint16_t(0x0103), uint16_t(0x0114), uint16_t(0x0115), uint16_t(0x0200)})
    {
        SCOPED_TRACE(nVersion);
        Bytes v;
        ASSERT_TRUE(CommandFromTable(104, nVersion, {}, v)); // the table text is not used
        ASSERT_EQ(v.size(), 25u);
        EXPECT_EQ(Bytes(v.begin(), v.begin() + 5), (Bytes{0x80, 0x29, 0x00, 0x00, 0x14}));
        EXPECT_EQ(v[4], v.size() - 5); // Lc covers the rest
        EXPECT_EQ(v[5], nVersion > 0x0114 ? 0x73 : 0x69);
        EXPECT_EQ(v[6], v.size() - 7); // the constructed object's length
        EXPECT_EQ(Bytes(v.begin() + 7, v.begin() + 13), (Bytes{0x13, 0x00, 0x13, 0x00, 0x13, 0x0C}));
        EXPECT_EQ(Bytes(v.begin() + 13, v.end()), strId);
    }
}

TEST(CtApiCommands, DownloadDataLengthFormsCarryNoLe)
{
    struct SCase
    {
        size_t n;
        Bytes vecHeader;
    };
    const SCase aCases[] = {
        {1, {0x80, 0x25, 0x00, 0x00, 0x03, 0x73, 0x01}},
        {127, {0x80, 0x25, 0x00, 0x00, 0x81, 0x73, 0x7F}},
        {128, {0x80, 0x25, 0x00, 0x00, 0x83, 0x73, 0x81, 0x80}},
        {252, {0x80, 0x25, 0x00, 0x00, 0xFF, 0x73, 0x81, 0xFC}},
        {253, {0x80, 0x25, 0x00, 0x00, 0x00, 0x01, 0x01, 0x73, 0x82, 0x00, 0xFD}},
        {1024, {0x80, 0x25, 0x00, 0x00, 0x00, 0x04, 0x04, 0x73, 0x82, 0x04, 0x00}},
        {65524, {0x80, 0x25, 0x00, 0x00, 0x00, 0xFF, 0xF8, 0x73, 0x82, 0xFF, 0xF4}},
    };
    for (const auto& c : aCases)
    {
        SCOPED_TRACE(c.n);
        Bytes vecData(c.n);
        std::iota(vecData.begin(), vecData.end(), uint8_t(1));
        Bytes v;
        ASSERT_TRUE(DownloadDataCommand(vecData.data(), c.n, false, v));
        ASSERT_EQ(v.size(), c.vecHeader.size() + c.n); // nothing after the data
        EXPECT_EQ(Bytes(v.begin(), v.begin() + static_cast<long>(c.vecHeader.size())), c.vecHeader);
        EXPECT_EQ(Bytes(v.begin() + static_cast<long>(c.vecHeader.size()), v.end()), vecData);
    }
}

TEST(CtApiCommands, DownloadDataBoundsAndFinalPacket)
{
    Bytes vecData(65532, 0xAA);
    Bytes v;
    EXPECT_FALSE(DownloadDataCommand(vecData.data(), 0, false, v));
    EXPECT_FALSE(DownloadDataCommand(nullptr, 5, false, v));
    EXPECT_FALSE(DownloadDataCommand(vecData.data(), 65532, false, v));
    EXPECT_TRUE(v.empty());
    ASSERT_TRUE(DownloadDataCommand(vecData.data(), 10, true, v));
    EXPECT_EQ(v[1], 0x26);
}

TEST(CtApiCommands, LabelsNameTheCommand)
{
    EXPECT_EQ(CommandLabel(128), "Select SICCT Mode returned: ");
    EXPECT_EQ(CommandLabel(104), "SICCT Close CT Session returned: ");
    EXPECT_EQ(CommandLabel(112), "Unknown Command returned: ");
    EXPECT_EQ(CommandLabel(0), "Unknown Command returned: ");
}
