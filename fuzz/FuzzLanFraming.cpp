// Fuzz target: the LAN transport's receive framing without a socket. The input after its
// first byte is the byte stream a terminal sends; the first byte picks the sizes of the reads
// it arrives in. Whatever the cut, the envelopes handed over must be the stream's own bytes
// in order, each exactly as long as its header says, and what stays behind must be an
// incomplete rest (or the stream from an oversize header on).
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "LanDevice.h"

namespace
{
uint32_t BodyLength(const uint8_t* pHeader)
{
    return static_cast<uint32_t>(pHeader[6]) << 24 | static_cast<uint32_t>(pHeader[7]) << 16 |
           static_cast<uint32_t>(pHeader[8]) << 8 | pHeader[9];
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* pData, size_t nSize)
{
    if (nSize < 1)
        return 0;
    const size_t nStep = 1 + pData[0] % 64;  // read sizes 1..64, varied by the position
    const uint8_t* pStream = pData + 1;
    const size_t nStream = nSize - 1;
    constexpr size_t kHeader = mw::kEnvelopeHeaderSize;

    std::vector<uint8_t> vecBuffer;
    size_t nHandedOver = 0;  // stream bytes handed over as envelopes so far
    bool bBroken = false;
    auto fnMessage = [&](std::vector<uint8_t> vecMessage) {
        if (vecMessage.size() < kHeader || vecMessage.size() != BodyLength(vecMessage.data()) + kHeader ||
            vecMessage.size() > CLanDevice::kMaxMessageSize || nHandedOver + vecMessage.size() > nStream ||
            std::memcmp(vecMessage.data(), pStream + nHandedOver, vecMessage.size()) != 0)
            std::abort();
        nHandedOver += vecMessage.size();
    };
    size_t nPos = 0;
    for (size_t nRead = 0; nPos < nStream && !bBroken; ++nRead)
    {
        const size_t nChunk = std::min(nStream - nPos, 1 + (nStep * (nRead + 1)) % 64);
        vecBuffer.insert(vecBuffer.end(), pStream + nPos, pStream + nPos + nChunk);
        nPos += nChunk;
        bBroken = !CLanDevice::CutEnvelopes(vecBuffer, fnMessage);
    }
    // The buffer holds exactly the stream bytes not handed over (up to what was read).
    if (nHandedOver + vecBuffer.size() != nPos ||
        (!vecBuffer.empty() && std::memcmp(vecBuffer.data(), pStream + nHandedOver, vecBuffer.size()) != 0))
        std::abort();
    if (bBroken)
    {
        // Only an oversize header stops the framing, and it is the first thing left.
        if (vecBuffer.size() < kHeader || BodyLength(vecBuffer.data()) + kHeader <= CLanDevice::kMaxMessageSize)
            std::abort();
    }
    else if (vecBuffer.size() >= kHeader && vecBuffer.size() >= BodyLength(vecBuffer.data()) + kHeader)
    {
        std::abort();  // a complete envelope was left behind
    }
    return 0;
}
