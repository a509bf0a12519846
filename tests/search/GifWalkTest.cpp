#include <gtest/gtest.h>

#include "GifEncoder.h"
#include "GifWalk.h"

namespace
{
std::vector<uint8_t> Pixels(uint16_t w, uint16_t h, uint8_t nIndex)
{
    return std::vector<uint8_t>(static_cast<size_t>(w) * h, nIndex);
}

std::vector<uint8_t> TwoFrameGif()
{
    gifenc::SFrame a{0, 0, 4, 4, Pixels(4, 4, 1), true, 10, 2, -1};
    gifenc::SFrame b{1, 2, 2, 2, Pixels(2, 2, 2), true, 25, 3, 0};
    return gifenc::Encode(4, 4, {0x000000, 0xFF0000, 0x00FF00, 0x0000FF}, {a, b}, true);
}

// A comment block between the control extension and its image must stay with the frame.
std::vector<uint8_t> WithComment(std::vector<uint8_t> vec)
{
    gifwalk::SGifLayout layout;
    EXPECT_TRUE(gifwalk::WalkGif(vec.data(), vec.size(), layout));
    const uint8_t ab[] = {0x21, 0xFE, 0x03, 'a', 'b', 'c', 0x00};
    const size_t nImage = layout.vecFrames[0].nStart + 8;
    vec.insert(vec.begin() + static_cast<long>(nImage), std::begin(ab), std::end(ab));
    return vec;
}
} // namespace

TEST(GifWalk, TwoFramesWithDelaysDisposalAndOffsets)
{
    const auto vec = TwoFrameGif();
    gifwalk::SGifLayout layout;
    ASSERT_TRUE(gifwalk::WalkGif(vec.data(), vec.size(), layout));
    EXPECT_FALSE(layout.bTruncated);
    EXPECT_EQ(layout.nScreenWidth, 4);
    EXPECT_EQ(layout.nScreenHeight, 4);
    EXPECT_EQ(layout.nHeaderSize, 13u + 12u);
    ASSERT_EQ(layout.vecFrames.size(), 2u);
    const auto& f0 = layout.vecFrames[0];
    const auto& f1 = layout.vecFrames[1];
    EXPECT_TRUE(f0.bHasDelay);
    EXPECT_EQ(f0.nDelayCs, 10);
    EXPECT_EQ(f0.nDisposal, 2);
    EXPECT_EQ(f1.nDelayCs, 25);
    EXPECT_EQ(f1.nDisposal, 3);
    EXPECT_EQ(f1.nLeft, 1);
    EXPECT_EQ(f1.nTop, 2);
    EXPECT_EQ(f1.nWidth, 2);
    EXPECT_EQ(f1.nHeight, 2);
    // Each frame starts at its control extension; the second follows the first directly.
    EXPECT_EQ(vec[f0.nStart], 0x21);
    EXPECT_EQ(vec[f0.nStart + 1], 0xF9);
    EXPECT_EQ(f1.nStart, f0.nEnd);
    EXPECT_EQ(vec[f1.nEnd], 0x3B);
}

TEST(GifWalk, FrameGifIsHeaderFrameAndTrailer)
{
    const auto vec = TwoFrameGif();
    gifwalk::SGifLayout layout;
    ASSERT_TRUE(gifwalk::WalkGif(vec.data(), vec.size(), layout));
    const auto vecFrame = gifwalk::BuildFrameGif(vec.data(), vec.size(), layout, 1);
    const auto& f1 = layout.vecFrames[1];
    ASSERT_EQ(vecFrame.size(), layout.nHeaderSize + (f1.nEnd - f1.nStart) + 1);
    EXPECT_TRUE(std::equal(vec.begin(), vec.begin() + static_cast<long>(layout.nHeaderSize), vecFrame.begin()));
    EXPECT_EQ(vecFrame.back(), 0x3B);

    // The stand-alone frame walks as a one-image GIF with the same frame values.
    gifwalk::SGifLayout single;
    ASSERT_TRUE(gifwalk::WalkGif(vecFrame.data(), vecFrame.size(), single));
    ASSERT_EQ(single.vecFrames.size(), 1u);
    EXPECT_EQ(single.vecFrames[0].nDelayCs, 25);
    EXPECT_EQ(single.vecFrames[0].nLeft, 1);
    EXPECT_FALSE(single.bTruncated);

    EXPECT_TRUE(gifwalk::BuildFrameGif(vec.data(), vec.size(), layout, 2).empty());
}

TEST(GifWalk, CommentBetweenControlAndImageStaysInFrame)
{
    const auto vec = WithComment(TwoFrameGif());
    gifwalk::SGifLayout layout;
    ASSERT_TRUE(gifwalk::WalkGif(vec.data(), vec.size(), layout));
    ASSERT_EQ(layout.vecFrames.size(), 2u);
    EXPECT_EQ(layout.vecFrames[0].nDelayCs, 10);
    EXPECT_EQ(vec[layout.vecFrames[0].nStart + 1], 0xF9);
}

TEST(GifWalk, OneFrameWithoutControlExtension)
{
    gifenc::SFrame a{0, 0, 3, 2, Pixels(3, 2, 1), false, 0, 0, -1};
    const auto vec = gifenc::Encode(3, 2, {0, 0xFFFFFF}, {a}, false);
    gifwalk::SGifLayout layout;
    ASSERT_TRUE(gifwalk::WalkGif(vec.data(), vec.size(), layout));
    ASSERT_EQ(layout.vecFrames.size(), 1u);
    EXPECT_FALSE(layout.vecFrames[0].bHasDelay);
    EXPECT_EQ(vec[layout.vecFrames[0].nStart], 0x2C);
    EXPECT_FALSE(layout.bTruncated);
}

TEST(GifWalk, NotAGif)
{
    gifwalk::SGifLayout layout;
    const uint8_t abJpeg[] = {0xFF, 0xD8, 0xFF, 0xE0, 0, 0x10, 'J', 'F', 'I', 'F', 0, 1, 1, 0};
    EXPECT_FALSE(gifwalk::WalkGif(abJpeg, sizeof(abJpeg), layout));
    EXPECT_FALSE(gifwalk::WalkGif(nullptr, 0, layout));
    const uint8_t abShort[] = {'G', 'I', 'F', '8', '9', 'a', 1, 0};
    EXPECT_FALSE(gifwalk::WalkGif(abShort, sizeof(abShort), layout));
    const uint8_t ab88[] = {'G', 'I', 'F', '8', '8', 'a', 1, 0, 1, 0, 0, 0, 0, 0x3B};
    EXPECT_FALSE(gifwalk::IsGif(ab88, sizeof(ab88)));
}

// Every cut of a two-frame GIF is walked without reading past the end; a cut inside the
// second image keeps the first one, a cut inside the first leaves nothing.
TEST(GifWalk, TruncatedInputAtEveryLength)
{
    const auto vec = TwoFrameGif();
    gifwalk::SGifLayout full;
    ASSERT_TRUE(gifwalk::WalkGif(vec.data(), vec.size(), full));
    for (size_t n = 0; n < vec.size(); ++n)
    {
        std::vector<uint8_t> vecCut(vec.begin(), vec.begin() + static_cast<long>(n));  // exact size for ASan
        gifwalk::SGifLayout layout;
        const bool bOk = gifwalk::WalkGif(vecCut.data(), vecCut.size(), layout);
        size_t nExpected = 0;
        for (const auto& f : full.vecFrames)
            nExpected += f.nEnd <= n ? 1 : 0;
        EXPECT_EQ(layout.vecFrames.size(), nExpected) << "cut at " << n;
        EXPECT_EQ(bOk, nExpected > 0) << "cut at " << n;
        if (n >= 13)
        {
            EXPECT_TRUE(layout.bTruncated) << "cut at " << n;
        }
        for (size_t i = 0; i < layout.vecFrames.size(); ++i)
            EXPECT_FALSE(gifwalk::BuildFrameGif(vecCut.data(), vecCut.size(), layout, i).empty());
    }
}

TEST(GifWalk, BadBlocksEndTheWalk)
{
    auto vec = TwoFrameGif();
    gifwalk::SGifLayout full;
    ASSERT_TRUE(gifwalk::WalkGif(vec.data(), vec.size(), full));
    // An unknown block byte after the first image ends the walk with one frame.
    auto vecBad = vec;
    vecBad[full.vecFrames[1].nStart] = 0x99;
    gifwalk::SGifLayout layout;
    ASSERT_TRUE(gifwalk::WalkGif(vecBad.data(), vecBad.size(), layout));
    EXPECT_EQ(layout.vecFrames.size(), 1u);
    EXPECT_TRUE(layout.bTruncated);
    // An unknown extension label too.
    vecBad = vec;
    vecBad[full.vecFrames[1].nStart + 1] = 0x42;
    ASSERT_TRUE(gifwalk::WalkGif(vecBad.data(), vecBad.size(), layout));
    EXPECT_EQ(layout.vecFrames.size(), 1u);
    // A global colour table announced larger than the data: nothing.
    vecBad = vec;
    vecBad.resize(40);
    vecBad[10] = 0xF7;  // 256 entries = 768 bytes
    EXPECT_FALSE(gifwalk::WalkGif(vecBad.data(), vecBad.size(), layout));
    // A sub-block length running past the end inside the image data.
    vecBad = vec;
    const size_t nImage = full.vecFrames[0].nStart + 8;
    vecBad[nImage + 11] = 0xFF;  // first data sub-block now claims 255 bytes
    vecBad.resize(nImage + 40);
    EXPECT_FALSE(gifwalk::WalkGif(vecBad.data(), vecBad.size(), layout));
}

TEST(GifWalk, LocalColourTableIsSkipped)
{
    // Hand-made 1x1 image with a local table of 2 entries followed by a second image.
    std::vector<uint8_t> v = {'G', 'I', 'F', '8', '9', 'a', 1, 0, 1, 0, 0x00, 0, 0};
    const uint8_t abImg1[] = {0x2C, 0, 0, 0, 0, 1, 0, 1, 0, 0x80, 1, 2, 3, 4, 5, 6, 2, 2, 0x4C, 0x01, 0x00};
    const uint8_t abImg2[] = {0x2C, 0, 0, 0, 0, 1, 0, 1, 0, 0x00, 2, 2, 0x4C, 0x01, 0x00};
    v.insert(v.end(), std::begin(abImg1), std::end(abImg1));
    v.insert(v.end(), std::begin(abImg2), std::end(abImg2));
    v.push_back(0x3B);
    gifwalk::SGifLayout layout;
    ASSERT_TRUE(gifwalk::WalkGif(v.data(), v.size(), layout));
    ASSERT_EQ(layout.vecFrames.size(), 2u);
    EXPECT_EQ(layout.vecFrames[0].nEnd - layout.vecFrames[0].nStart, sizeof(abImg1));
    EXPECT_EQ(layout.vecFrames[1].nStart, 13 + sizeof(abImg1));
    EXPECT_FALSE(layout.bTruncated);
}

// Random byte changes of a valid two-frame GIF (fixed seed): the walk never leaves the data,
// and every frame it reports rebuilds into a GIF that walks as that one frame.
TEST(GifWalk, MutatedInputKeepsInvariants)
{
    const auto vecGood = TwoFrameGif();
    uint32_t nSeed = 12345;
    auto next = [&nSeed] {
        nSeed = nSeed * 1103515245u + 12345u;
        return nSeed >> 8;
    };
    for (int nRound = 0; nRound < 5000; ++nRound)
    {
        auto vec = vecGood;
        const int nChanges = 1 + static_cast<int>(next() % 4);
        for (int i = 0; i < nChanges; ++i)
            vec[13 + next() % (vec.size() - 13)] = static_cast<uint8_t>(next());
        if (next() % 4 == 0)
            vec.resize(13 + next() % (vec.size() - 13));
        gifwalk::SGifLayout layout;
        if (!gifwalk::WalkGif(vec.data(), vec.size(), layout))
            continue;
        for (size_t i = 0; i < layout.vecFrames.size(); ++i)
        {
            const auto& f = layout.vecFrames[i];
            ASSERT_LE(f.nEnd, vec.size());
            ASSERT_LT(f.nStart, f.nEnd);
            const auto vecFrame = gifwalk::BuildFrameGif(vec.data(), vec.size(), layout, i);
            gifwalk::SGifLayout single;
            ASSERT_TRUE(gifwalk::WalkGif(vecFrame.data(), vecFrame.size(), single)) << "round " << nRound;
            ASSERT_EQ(single.vecFrames.size(), 1u);
            EXPECT_EQ(single.vecFrames[0].nDelayCs, f.nDelayCs);
        }
    }
}
