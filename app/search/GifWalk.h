#pragma once
#include <cstddef>
#include <cstdint>
#include <vector>

/// Block walk over GIF87a/GIF89a data, used by the animated picture control to split an
/// animated GIF into stand-alone single-image GIFs that an image decoder can load one by one.
///
/// The data comes from outside the program (resources today, anything tomorrow), so every
/// read is bounds-checked; nothing here allocates more than the input size. Qt-free, pure
/// functions, callable from any thread.
namespace gifwalk
{
/// One image of the walked data: where its bytes lie and how it is shown.
struct SGifFrame
{
    size_t nStart = 0;       // offset of its graphic control extension, else of its descriptor
    size_t nEnd = 0;         // one past the last byte of its image data (block terminator included)
    uint16_t nLeft = 0;      // offset in the logical screen (image descriptor bytes 1 and 3)
    uint16_t nTop = 0;
    uint16_t nWidth = 0;     // image size (descriptor bytes 5 and 7)
    uint16_t nHeight = 0;
    bool bHasDelay = false;  // false: no graphic control extension before this image
    uint16_t nDelayCs = 0;   // delay in hundredths of a second
    uint8_t nDisposal = 0;   // disposal method 0..7
};

/// The result of a walk.
struct SGifLayout
{
    uint16_t nScreenWidth = 0;   // logical screen size
    uint16_t nScreenHeight = 0;
    size_t nHeaderSize = 0;      // 13-byte header plus the global colour table
    std::vector<SGifFrame> vecFrames;  // complete images in data order
    bool bTruncated = false;     // the walk ended before the trailer (bad byte or short data)
};

/// The GIF signature test: "GIF87a" or "GIF89a" and at least the 13-byte header.
bool IsGif(const uint8_t* pData, size_t nSize);

/// Walks the blocks and records every complete image. Returns false when the data is not a
/// GIF or holds no complete image; a walk that stops early on a bad or cut block keeps the
/// images completed before it (bTruncated tells).
bool WalkGif(const uint8_t* pData, size_t nSize, SGifLayout& layout);

/// A stand-alone GIF of one frame: header and global colour table, the frame's own blocks,
/// the trailer 0x3B. Empty when the frame index or the layout does not fit the data.
std::vector<uint8_t> BuildFrameGif(const uint8_t* pData, size_t nSize, const SGifLayout& layout,
                                   size_t nFrame);
} // namespace gifwalk
