#include "HidReportDescriptor.h"

#include <algorithm>
#include <array>

namespace
{
// Item types and tags (prefix byte: tag << 4 | type << 2 | size code).
constexpr int kTypeMain = 0;
constexpr int kTypeGlobal = 1;
constexpr int kTypeLocal = 2;
constexpr uint8_t kLongItemPrefix = 0xFE;

constexpr int kMainInput = 0x8;
constexpr int kMainOutput = 0x9;
constexpr int kMainCollection = 0xA;
constexpr int kMainFeature = 0xB;
constexpr int kMainEndCollection = 0xC;

constexpr int kGlobalUsagePage = 0x0;
constexpr int kGlobalReportSize = 0x7;
constexpr int kGlobalReportId = 0x8;
constexpr int kGlobalReportCount = 0x9;
constexpr int kGlobalPush = 0xA;
constexpr int kGlobalPop = 0xB;

constexpr int kLocalUsage = 0x0;

constexpr uint32_t kMainFlagConstant = 0x01;
constexpr uint32_t kMainFlagVariable = 0x02;

// A report and its ID byte must fit the 16-bit length fields of the transport.
constexpr uint64_t kMaxReportBits = 0xFFFEULL * 8;

enum ReportKind
{
    KIND_INPUT = 0,
    KIND_OUTPUT = 1,
    KIND_FEATURE = 2,
};

struct GlobalState
{
    uint16_t nUsagePage = 0;
    uint32_t nReportSize = 0;
    uint32_t nReportCount = 0;
    uint8_t nReportId = 0;
};

uint32_t ItemValue(const uint8_t* p, int nSize)
{
    uint32_t nValue = 0;
    for (int i = nSize - 1; i >= 0; --i)
        nValue = (nValue << 8) | p[i];
    return nValue;
}
} // namespace

int CHidReportDescriptor::Parse(const uint8_t* pData, size_t nLength, HidCaps& caps)
{
    caps = HidCaps{};
    if (pData == nullptr)
        nLength = 0;

    GlobalState global;
    std::array<GlobalState, kMaxPushDepth> aStack{};
    int nStackDepth = 0;
    // Local state: the first usage since the last main item (with its page when the item
    // was an extended 32-bit usage).
    bool bHaveUsage = false;
    uint32_t nFirstUsage = 0;
    bool bUsageExtended = false;

    int nDepth = 0;
    int nTopLevel = 0;  // top-level collections opened so far
    // Bits per report kind and report ID, only inside the first top-level collection.
    std::array<std::array<uint64_t, 256>, 3> aBits{};
    std::array<bool, 256> abIdUsed{};

    size_t nPos = 0;
    while (nPos < nLength)
    {
        const uint8_t nPrefix = pData[nPos];
        if (nPrefix == kLongItemPrefix)
        {
            // Long item: prefix, data size, tag, data. No long item tags are defined, so its
            // data is skipped; only its bounds matter.
            if (nLength - nPos < 3)
                return DESC_TRUNCATED;
            const size_t nDataSize = pData[nPos + 1];
            if (nLength - nPos - 3 < nDataSize)
                return DESC_TRUNCATED;
            nPos += 3 + nDataSize;
            continue;
        }
        static constexpr int kSizes[4] = {0, 1, 2, 4};
        const int nSize = kSizes[nPrefix & 0x03];
        const int nType = (nPrefix >> 2) & 0x03;
        const int nTag = nPrefix >> 4;
        if (nLength - nPos - 1 < static_cast<size_t>(nSize))
            return DESC_TRUNCATED;
        const uint32_t nValue = ItemValue(pData + nPos + 1, nSize);
        nPos += 1 + static_cast<size_t>(nSize);

        const bool bInFirstTop = nTopLevel == 1 && nDepth > 0;
        if (nType == kTypeMain)
        {
            if (nTag == kMainCollection)
            {
                if (nDepth >= kMaxCollectionDepth)
                    return DESC_TOO_DEEP;
                if (nDepth == 0)
                {
                    ++nTopLevel;
                    if (nTopLevel == 1)
                    {
                        caps.nUsagePage = bUsageExtended ? static_cast<uint16_t>(nFirstUsage >> 16) : global.nUsagePage;
                        caps.nUsage = bHaveUsage ? static_cast<uint16_t>(nFirstUsage & 0xFFFF) : 0;
                    }
                }
                ++nDepth;
            }
            else if (nTag == kMainEndCollection)
            {
                if (nDepth == 0)
                    return DESC_BAD_ITEM;
                --nDepth;
            }
            else if (nTag == kMainInput || nTag == kMainOutput || nTag == kMainFeature)
            {
                const uint64_t nItemBits = static_cast<uint64_t>(global.nReportSize) * global.nReportCount;
                if (bInFirstTop)
                {
                    const int nKind = nTag == kMainInput ? KIND_INPUT : nTag == kMainOutput ? KIND_OUTPUT : KIND_FEATURE;
                    uint64_t& nBits = aBits[static_cast<size_t>(nKind)][global.nReportId];
                    if (nItemBits > kMaxReportBits || nBits + nItemBits > kMaxReportBits)
                        return DESC_TOO_LONG;
                    nBits += nItemBits;
                    abIdUsed[global.nReportId] = true;
                    // A variable item of more than one bit is what the system lists as a
                    // value capability; padding (constant) is none.
                    if (nKind == KIND_INPUT && !caps.bHasValueCaps && (nValue & kMainFlagConstant) == 0 &&
                        (nValue & kMainFlagVariable) != 0 && global.nReportSize > 1 && global.nReportCount > 0)
                    {
                        caps.bHasValueCaps = true;
                        caps.nValueCapsReportId = global.nReportId;
                    }
                }
            }
            // Every main item ends the local state.
            bHaveUsage = false;
            bUsageExtended = false;
            nFirstUsage = 0;
        }
        else if (nType == kTypeGlobal)
        {
            switch (nTag)
            {
            case kGlobalUsagePage:
                global.nUsagePage = static_cast<uint16_t>(nValue);
                break;
            case kGlobalReportSize:
                global.nReportSize = nValue;
                break;
            case kGlobalReportCount:
                global.nReportCount = nValue;
                break;
            case kGlobalReportId:
                if (nValue == 0 || nValue > 0xFF)
                    return DESC_BAD_ITEM;
                global.nReportId = static_cast<uint8_t>(nValue);
                break;
            case kGlobalPush:
                if (nStackDepth >= kMaxPushDepth)
                    return DESC_TOO_DEEP;
                aStack[static_cast<size_t>(nStackDepth++)] = global;
                break;
            case kGlobalPop:
                if (nStackDepth == 0)
                    return DESC_BAD_ITEM;
                global = aStack[static_cast<size_t>(--nStackDepth)];
                break;
            default:
                break;  // logical and physical ranges, units: not needed here
            }
        }
        else if (nType == kTypeLocal)
        {
            if (nTag == kLocalUsage && !bHaveUsage)
            {
                bHaveUsage = true;
                nFirstUsage = nValue;
                bUsageExtended = nSize == 4;
            }
        }
        // Type 3 (reserved) items are skipped.
    }

    if (nTopLevel == 0)
        return DESC_NO_COLLECTION;
    if (nDepth != 0)
        return DESC_UNBALANCED;

    uint64_t anMaxBits[3] = {0, 0, 0};
    bool abPresent[3] = {false, false, false};
    for (int nKind = 0; nKind < 3; ++nKind)
    {
        for (size_t nId = 0; nId < 256; ++nId)
        {
            if (!abIdUsed[nId])
                continue;
            const uint64_t nBits = aBits[static_cast<size_t>(nKind)][nId];
            if (nBits > 0)
                abPresent[nKind] = true;
            anMaxBits[nKind] = std::max(anMaxBits[nKind], nBits);
        }
    }
    for (size_t nId = 1; nId < 256; ++nId)
    {
        if (abIdUsed[nId])
            caps.vecReportIds.push_back(static_cast<uint8_t>(nId));
    }
    auto ByteLength = [&](int nKind) -> uint16_t {
        if (!abPresent[nKind])
            return 0;
        return static_cast<uint16_t>((anMaxBits[nKind] + 7) / 8 + 1);  // + report ID byte
    };
    caps.nInputReportByteLength = ByteLength(KIND_INPUT);
    caps.nOutputReportByteLength = ByteLength(KIND_OUTPUT);
    caps.nFeatureReportByteLength = ByteLength(KIND_FEATURE);
    return DESC_OK;
}
