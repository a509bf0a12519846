#include "GifWalk.h"

#include <cstring>

namespace gifwalk
{
namespace
{
constexpr size_t kHeaderSize = 13;
constexpr uint8_t kExtension = 0x21;
constexpr uint8_t kImage = 0x2C;
constexpr uint8_t kTrailer = 0x3B;
constexpr uint8_t kAppExt = 0xFF;
constexpr uint8_t kCommentExt = 0xFE;
constexpr uint8_t kGraphicCtrlExt = 0xF9;
constexpr uint8_t kPlainTextExt = 0x01;

uint16_t ReadLe16(const uint8_t* p)
{
    return static_cast<uint16_t>(p[0] | (p[1] << 8));
}

// Size of a colour table announced by a packed flag byte (bit 7 set, size in bits 0..2).
size_t ColourTableSize(uint8_t nFlags)
{
    return (nFlags & 0x80) ? 3u * (1u << ((nFlags & 7) + 1)) : 0u;
}

// Length of a chain of data sub-blocks starting at nPos, terminator included; 0 when the
// chain runs past the end of the data.
size_t SubBlocksLength(const uint8_t* pData, size_t nSize, size_t nPos)
{
    size_t n = nPos;
    while (n < nSize)
    {
        const size_t nLen = pData[n];
        if (nLen == 0)
            return n + 1 - nPos;
        n += 1 + nLen;
    }
    return 0;
}

// Length of a fixed part followed by sub-blocks, 0 when it does not fit.
size_t FixedPlusSubBlocks(const uint8_t* pData, size_t nSize, size_t nPos, size_t nFixed)
{
    if (nFixed > nSize - nPos)
        return 0;
    const size_t nSub = SubBlocksLength(pData, nSize, nPos + nFixed);
    return nSub == 0 ? 0 : nFixed + nSub;
}
} // namespace

bool IsGif(const uint8_t* pData, size_t nSize)
{
    return pData != nullptr && nSize >= kHeaderSize &&
           (std::memcmp(pData, "GIF89a", 6) == 0 || std::memcmp(pData, "GIF87a", 6) == 0);
}

bool WalkGif(const uint8_t* pData, size_t nSize, SGifLayout& layout)
{
    layout = SGifLayout{};
    if (!IsGif(pData, nSize))
        return false;
    layout.nScreenWidth = ReadLe16(pData + 6);
    layout.nScreenHeight = ReadLe16(pData + 8);
    layout.nHeaderSize = kHeaderSize + ColourTableSize(pData[10]);
    if (layout.nHeaderSize > nSize)
    {
        layout.bTruncated = true;
        return false;
    }

    size_t nPos = layout.nHeaderSize;
    bool bPendingGce = false;  // a graphic control extension waits for its image
    size_t nGcePos = 0;
    bool bTrailer = false;
    while (nPos < nSize && !bTrailer)
    {
        size_t nLen = 0;
        const uint8_t nKind = pData[nPos];
        if (nKind == kTrailer)
        {
            bTrailer = true;
            break;
        }
        if (nKind == kExtension)
        {
            if (nSize - nPos < 2)
                break;
            switch (pData[nPos + 1])
            {
            case kAppExt:
                nLen = FixedPlusSubBlocks(pData, nSize, nPos, 14);
                break;
            case kCommentExt:
                nLen = FixedPlusSubBlocks(pData, nSize, nPos, 2);
                break;
            case kGraphicCtrlExt:
                nLen = (nSize - nPos >= 8) ? 8 : 0;
                if (nLen != 0)
                {
                    bPendingGce = true;
                    nGcePos = nPos;
                }
                break;
            case kPlainTextExt:
                nLen = FixedPlusSubBlocks(pData, nSize, nPos, 15);
                break;
            default:
                break;  // an unknown extension ends the walk
            }
        }
        else if (nKind == kImage)
        {
            if (nSize - nPos < 10)
                break;
            const size_t nFixed = 10 + ColourTableSize(pData[nPos + 9]) + 1;  // + LZW code size
            nLen = FixedPlusSubBlocks(pData, nSize, nPos, nFixed);
            if (nLen != 0)
            {
                SGifFrame frame;
                frame.nStart = bPendingGce ? nGcePos : nPos;
                frame.nEnd = nPos + nLen;
                frame.nLeft = ReadLe16(pData + nPos + 1);
                frame.nTop = ReadLe16(pData + nPos + 3);
                frame.nWidth = ReadLe16(pData + nPos + 5);
                frame.nHeight = ReadLe16(pData + nPos + 7);
                if (bPendingGce)
                {
                    frame.bHasDelay = true;
                    frame.nDelayCs = ReadLe16(pData + nGcePos + 4);
                    frame.nDisposal = static_cast<uint8_t>((pData[nGcePos + 3] >> 2) & 7);
                }
                layout.vecFrames.push_back(frame);
                bPendingGce = false;
            }
        }
        if (nLen == 0)
            break;  // unknown byte, or a block that does not fit into the data
        nPos += nLen;
    }
    layout.bTruncated = !bTrailer;
    return !layout.vecFrames.empty();
}

std::vector<uint8_t> BuildFrameGif(const uint8_t* pData, size_t nSize, const SGifLayout& layout,
                                   size_t nFrame)
{
    std::vector<uint8_t> vecOut;
    if (pData == nullptr || nFrame >= layout.vecFrames.size() || layout.nHeaderSize > nSize)
        return vecOut;
    const SGifFrame& frame = layout.vecFrames[nFrame];
    if (frame.nStart < layout.nHeaderSize || frame.nStart >= frame.nEnd || frame.nEnd > nSize)
        return vecOut;
    vecOut.reserve(layout.nHeaderSize + (frame.nEnd - frame.nStart) + 1);
    vecOut.insert(vecOut.end(), pData, pData + layout.nHeaderSize);
    vecOut.insert(vecOut.end(), pData + frame.nStart, pData + frame.nEnd);
    vecOut.push_back(kTrailer);
    return vecOut;
}
} // namespace gifwalk
