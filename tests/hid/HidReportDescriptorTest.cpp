// Report descriptor parsing: the figures the transport frames its reports by, and the
// descriptor as untrusted input.
#include <gtest/gtest.h>

#include "HidDescriptors.h"
#include "HidReportDescriptor.h"

namespace
{
int Parse(const std::vector<uint8_t>& vec, HidCaps& caps)
{
    return CHidReportDescriptor::Parse(vec, caps);
}
} // namespace

TEST(HidReportDescriptor, VendorCollectionWithoutReportIds)
{
    HidCaps caps;
    ASSERT_EQ(Parse(hidtest::VendorDescriptor(0xFF10, false), caps), CHidReportDescriptor::DESC_OK);
    EXPECT_EQ(caps.nUsagePage, 0xFF10);
    EXPECT_EQ(caps.nUsage, 0x01);
    // 63 data bytes plus the report ID byte the transport always frames.
    EXPECT_EQ(caps.nInputReportByteLength, 64);
    EXPECT_EQ(caps.nOutputReportByteLength, 64);
    EXPECT_EQ(caps.nFeatureReportByteLength, 0);
    EXPECT_TRUE(caps.vecReportIds.empty());
    EXPECT_TRUE(caps.bHasValueCaps);
    EXPECT_EQ(caps.nValueCapsReportId, 0);
}

TEST(HidReportDescriptor, VendorCollectionWithReportIds)
{
    HidCaps caps;
    ASSERT_EQ(Parse(hidtest::VendorDescriptor(0xFF11, true), caps), CHidReportDescriptor::DESC_OK);
    EXPECT_EQ(caps.nUsagePage, 0xFF11);
    EXPECT_EQ(caps.nInputReportByteLength, 64);
    EXPECT_EQ(caps.nOutputReportByteLength, 64);
    EXPECT_EQ(caps.vecReportIds, (std::vector<uint8_t>{1, 2}));
    EXPECT_EQ(caps.nValueCapsReportId, 1);
}

TEST(HidReportDescriptor, BootKeyboardHasNoValueCapsAndBitPackedReports)
{
    HidCaps caps;
    ASSERT_EQ(Parse(hidtest::BootKeyboardDescriptor(), caps), CHidReportDescriptor::DESC_OK);
    EXPECT_EQ(caps.nUsagePage, 0x01);
    EXPECT_EQ(caps.nUsage, 0x06);
    EXPECT_EQ(caps.nInputReportByteLength, 9);   // 8 + ID byte
    EXPECT_EQ(caps.nOutputReportByteLength, 2);  // 5 LED bits + 3 padding bits + ID byte
    // Modifier bits are buttons, the key codes an array: no multi-bit value item.
    EXPECT_FALSE(caps.bHasValueCaps);
}

TEST(HidReportDescriptor, LongestReportOfEachKindCountsAndBitsRoundUp)
{
    const std::vector<uint8_t> vec = {
        0x06, 0x10, 0xFF, 0x09, 0x01, 0xA1, 0x01,
        0x85, 0x01, 0x75, 0x08, 0x95, 0x10, 0x81, 0x02,  // ID 1: 16 bytes in
        0x85, 0x02, 0x75, 0x08, 0x95, 0x20, 0x81, 0x02,  // ID 2: 32 bytes in
        0x75, 0x03, 0x95, 0x01, 0x81, 0x03,              // ID 2: + 3 bits -> 33 bytes
        0x85, 0x03, 0x75, 0x08, 0x95, 0x05, 0xB1, 0x02,  // ID 3: 5 bytes feature
        0xC0};
    HidCaps caps;
    ASSERT_EQ(Parse(vec, caps), CHidReportDescriptor::DESC_OK);
    EXPECT_EQ(caps.nInputReportByteLength, 34);
    EXPECT_EQ(caps.nOutputReportByteLength, 0);
    EXPECT_EQ(caps.nFeatureReportByteLength, 6);
    EXPECT_EQ(caps.vecReportIds, (std::vector<uint8_t>{1, 2, 3}));
}

TEST(HidReportDescriptor, NestedCollectionsPushPopAndLaterTopLevelCollections)
{
    const std::vector<uint8_t> vec = {
        0x06, 0x10, 0xFF, 0x09, 0x01, 0xA1, 0x01,  // first top-level collection, page FF10
        0x09, 0x02, 0xA1, 0x02,                    //   logical collection
        0xA4,                                      //     push
        0x75, 0x08, 0x95, 0x07, 0x81, 0x02,        //     7 bytes in
        0xB4,                                      //     pop: size and count back to 0
        0x81, 0x02,                                //     adds nothing
        0xC0,                                      //   end
        0x75, 0x08, 0x95, 0x02, 0x91, 0x02,        //   2 bytes out
        0xC0,
        0x05, 0x01, 0x09, 0x06, 0xA1, 0x01,        // second top-level collection: ignored
        0x75, 0x08, 0x95, 0x40, 0x81, 0x02, 0xC0};
    HidCaps caps;
    ASSERT_EQ(Parse(vec, caps), CHidReportDescriptor::DESC_OK);
    EXPECT_EQ(caps.nUsagePage, 0xFF10);
    EXPECT_EQ(caps.nInputReportByteLength, 8);
    EXPECT_EQ(caps.nOutputReportByteLength, 3);
}

TEST(HidReportDescriptor, ExtendedUsageNamesThePageAndLongItemsAreSkipped)
{
    const std::vector<uint8_t> vec = {
        0xFE, 0x03, 0x10, 0xAA, 0xBB, 0xCC,         // long item with 3 data bytes
        0x0B, 0x01, 0x00, 0x11, 0xFF,               // Usage (extended: page FF11, usage 1)
        0xA1, 0x01, 0x75, 0x08, 0x95, 0x3F, 0x81, 0x02, 0x91, 0x02, 0xC0};
    HidCaps caps;
    ASSERT_EQ(Parse(vec, caps), CHidReportDescriptor::DESC_OK);
    EXPECT_EQ(caps.nUsagePage, 0xFF11);
    EXPECT_EQ(caps.nUsage, 1);
    EXPECT_EQ(caps.nInputReportByteLength, 64);
}

TEST(HidReportDescriptor, MalformedDescriptorsAreRejected)
{
    HidCaps caps;
    // Every strict prefix of a valid descriptor that cuts an item is truncated, the rest
    // are unbalanced or lack a collection; none may parse.
    const std::vector<uint8_t> vecFull = hidtest::VendorDescriptor(0xFF10, true);
    for (size_t n = 0; n < vecFull.size(); ++n)
    {
        const std::vector<uint8_t> vecPrefix(vecFull.begin(), vecFull.begin() + static_cast<long>(n));
        EXPECT_NE(Parse(vecPrefix, caps), CHidReportDescriptor::DESC_OK) << "prefix of " << n << " bytes";
    }
    EXPECT_EQ(Parse({0x06, 0x10}, caps), CHidReportDescriptor::DESC_TRUNCATED);
    EXPECT_EQ(Parse({0x27, 0xFF, 0xFF, 0xFF}, caps), CHidReportDescriptor::DESC_TRUNCATED);  // 4-byte item, 3 bytes
    EXPECT_EQ(Parse({0xFE, 0x05, 0x00, 0x01}, caps), CHidReportDescriptor::DESC_TRUNCATED);  // long item data cut
    EXPECT_EQ(Parse({0xFE, 0x00}, caps), CHidReportDescriptor::DESC_TRUNCATED);
    EXPECT_EQ(Parse({0xA1, 0x01, 0x85, 0x00, 0xC0}, caps), CHidReportDescriptor::DESC_BAD_ITEM);  // report ID 0
    EXPECT_EQ(Parse({0xB4}, caps), CHidReportDescriptor::DESC_BAD_ITEM);                          // pop, no push
    EXPECT_EQ(Parse({0xC0}, caps), CHidReportDescriptor::DESC_BAD_ITEM);
    EXPECT_EQ(Parse({0x75, 0x08, 0x95, 0x01, 0x81, 0x02}, caps), CHidReportDescriptor::DESC_NO_COLLECTION);
    EXPECT_EQ(Parse({0xA1, 0x01, 0xA1, 0x02, 0xC0}, caps), CHidReportDescriptor::DESC_UNBALANCED);
    EXPECT_EQ(Parse({}, caps), CHidReportDescriptor::DESC_NO_COLLECTION);
    EXPECT_EQ(CHidReportDescriptor::Parse(nullptr, 10, caps), CHidReportDescriptor::DESC_NO_COLLECTION);
}

TEST(HidReportDescriptor, NestingAndReportSizeAreBounded)
{
    HidCaps caps;
    std::vector<uint8_t> vecDeep;
    for (int i = 0; i <= CHidReportDescriptor::kMaxCollectionDepth; ++i)
        vecDeep.insert(vecDeep.end(), {0xA1, 0x00});
    EXPECT_EQ(Parse(vecDeep, caps), CHidReportDescriptor::DESC_TOO_DEEP);

    std::vector<uint8_t> vecPush = {0xA1, 0x01};
    vecPush.insert(vecPush.end(), CHidReportDescriptor::kMaxPushDepth + 1, 0xA4);
    EXPECT_EQ(Parse(vecPush, caps), CHidReportDescriptor::DESC_TOO_DEEP);

    // Report size and count at their 32-bit maximum: the product must not wrap around.
    const std::vector<uint8_t> vecHuge = {0xA1, 0x01, 0x77, 0xFF, 0xFF, 0xFF, 0xFF,
                                          0x97, 0xFF, 0xFF, 0xFF, 0xFF, 0x81, 0x02, 0xC0};
    EXPECT_EQ(Parse(vecHuge, caps), CHidReportDescriptor::DESC_TOO_LONG);
    // Many items that add up beyond 16-bit lengths.
    std::vector<uint8_t> vecSum = {0xA1, 0x01, 0x75, 0x08, 0x96, 0x00, 0x40};  // count 0x4000 bytes
    for (int i = 0; i < 4; ++i)
        vecSum.insert(vecSum.end(), {0x81, 0x02});
    vecSum.push_back(0xC0);
    EXPECT_EQ(Parse(vecSum, caps), CHidReportDescriptor::DESC_TOO_LONG);
}
