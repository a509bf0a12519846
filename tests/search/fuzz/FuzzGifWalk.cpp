// Fuzz target: the GIF block walk. Besides memory safety it checks that every frame lies
// inside the data and that each stand-alone frame GIF walks again as exactly that one frame.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "GifWalk.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* pData, size_t nSize)
{
    gifwalk::SGifLayout layout;
    if (!gifwalk::WalkGif(pData, nSize, layout))
        return 0;
    for (size_t i = 0; i < layout.vecFrames.size(); ++i)
    {
        const gifwalk::SGifFrame& f = layout.vecFrames[i];
        if (f.nStart < layout.nHeaderSize || f.nEnd > nSize || f.nStart >= f.nEnd)
            std::abort();
        const auto vecFrame = gifwalk::BuildFrameGif(pData, nSize, layout, i);
        gifwalk::SGifLayout single;
        if (!gifwalk::WalkGif(vecFrame.data(), vecFrame.size(), single) || single.vecFrames.size() != 1 ||
            single.bTruncated || single.vecFrames[0].nDelayCs != f.nDelayCs ||
            single.vecFrames[0].nDisposal != f.nDisposal || single.vecFrames[0].nWidth != f.nWidth)
            std::abort();
    }
    return 0;
}
