#pragma once
// A small GIF89a writer for our own pictures (busy indicator, logo) and for test data.
// Header-only and Qt-free. The image data uses LZW with literal codes only and a clear code
// every 250 pixels, so every code stays 9 bits wide: bigger than real compression, but
// trivially correct, and our pictures are tiny.
#include <cstdint>
#include <vector>

namespace gifenc
{
struct SFrame
{
    uint16_t nLeft = 0, nTop = 0, nWidth = 0, nHeight = 0;
    std::vector<uint8_t> vecIndices;  // nWidth * nHeight palette indices, row by row
    bool bControl = true;             // write a graphic control extension before the image
    uint16_t nDelayCs = 0;
    uint8_t nDisposal = 0;
    int nTransparent = -1;            // palette index, or -1
};

inline void PutLe16(std::vector<uint8_t>& v, uint16_t n)
{
    v.push_back(static_cast<uint8_t>(n & 0xFF));
    v.push_back(static_cast<uint8_t>(n >> 8));
}

// Packs 9-bit codes LSB first into sub-blocks of at most 255 bytes.
inline void PutImageData(std::vector<uint8_t>& v, const std::vector<uint8_t>& vecIndices)
{
    constexpr uint32_t kClear = 256, kEnd = 257;
    std::vector<uint8_t> vecBytes;
    uint32_t nAcc = 0;
    int nBits = 0;
    auto put = [&](uint32_t nCode) {
        nAcc |= nCode << nBits;
        nBits += 9;
        while (nBits >= 8)
        {
            vecBytes.push_back(static_cast<uint8_t>(nAcc & 0xFF));
            nAcc >>= 8;
            nBits -= 8;
        }
    };
    size_t nSinceClear = 0;
    put(kClear);
    for (uint8_t b : vecIndices)
    {
        if (nSinceClear == 250)
        {
            put(kClear);
            nSinceClear = 0;
        }
        put(b);
        ++nSinceClear;
    }
    put(kEnd);
    if (nBits > 0)
        vecBytes.push_back(static_cast<uint8_t>(nAcc & 0xFF));
    v.push_back(8);  // minimum code size
    for (size_t i = 0; i < vecBytes.size(); i += 255)
    {
        const size_t n = vecBytes.size() - i < 255 ? vecBytes.size() - i : 255;
        v.push_back(static_cast<uint8_t>(n));
        v.insert(v.end(), vecBytes.begin() + static_cast<long>(i), vecBytes.begin() + static_cast<long>(i + n));
    }
    v.push_back(0);
}

// vecPalette: 0xRRGGBB entries (at most 256). bLoop adds the looping application extension.
inline std::vector<uint8_t> Encode(uint16_t nWidth, uint16_t nHeight, const std::vector<uint32_t>& vecPalette,
                                   const std::vector<SFrame>& vecFrames, bool bLoop)
{
    std::vector<uint8_t> v = {'G', 'I', 'F', '8', '9', 'a'};
    PutLe16(v, nWidth);
    PutLe16(v, nHeight);
    int nSizeBits = 0;  // table holds 2^(nSizeBits+1) entries
    while ((1u << (nSizeBits + 1)) < vecPalette.size() && nSizeBits < 7)
        ++nSizeBits;
    v.push_back(static_cast<uint8_t>(0x80 | 0x70 | nSizeBits));
    v.push_back(0);  // background colour index
    v.push_back(0);  // aspect ratio
    for (uint32_t i = 0; i < (1u << (nSizeBits + 1)); ++i)
    {
        const uint32_t c = i < vecPalette.size() ? vecPalette[i] : 0;
        v.push_back(static_cast<uint8_t>(c >> 16));
        v.push_back(static_cast<uint8_t>(c >> 8));
        v.push_back(static_cast<uint8_t>(c));
    }
    if (bLoop)
    {
        const uint8_t ab[] = {0x21, 0xFF, 0x0B, 'N', 'E', 'T', 'S', 'C', 'A', 'P', 'E', '2', '.', '0',
                              0x03, 0x01, 0x00, 0x00, 0x00};
        v.insert(v.end(), std::begin(ab), std::end(ab));
    }
    for (const SFrame& f : vecFrames)
    {
        if (f.bControl)
        {
            v.push_back(0x21);
            v.push_back(0xF9);
            v.push_back(0x04);
            v.push_back(static_cast<uint8_t>(((f.nDisposal & 7) << 2) | (f.nTransparent >= 0 ? 1 : 0)));
            PutLe16(v, f.nDelayCs);
            v.push_back(static_cast<uint8_t>(f.nTransparent >= 0 ? f.nTransparent : 0));
            v.push_back(0x00);
        }
        v.push_back(0x2C);
        PutLe16(v, f.nLeft);
        PutLe16(v, f.nTop);
        PutLe16(v, f.nWidth);
        PutLe16(v, f.nHeight);
        v.push_back(0x00);  // no local colour table, not interlaced
        PutImageData(v, f.vecIndices);
    }
    v.push_back(0x3B);
    return v;
}
} // namespace gifenc
