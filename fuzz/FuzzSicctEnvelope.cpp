// Fuzz target: what a terminal sends over TCP or inside HID messages: the SICCT envelope
// header, the middleware's classification of a complete message (responses, events,
// keepalives), and the values the session client takes out of response bodies (status
// word, session identifier, maximum packet size). Checks round trips where they exist.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "SicctDevice.h"
#include "SicctStatus.h"
#include "SicctWire.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* pData, size_t nSize)
{
    if (nSize > sicct::HEADER_SIZE + sicct::MAX_BODY_LENGTH)
        return 0;

    sicct::SEnvelopeHeader header;
    if (sicct::ParseEnvelopeHeader(pData, nSize, header))
    {
        // Header fields survive a rebuild of the same envelope.
        const uint8_t* pBody = pData + sicct::HEADER_SIZE;
        const size_t nBody = nSize - sicct::HEADER_SIZE;
        const std::vector<uint8_t> vecBuilt =
            sicct::BuildEnvelope(header.nType, header.nAddress, header.nSequence, pBody, nBody);
        sicct::SEnvelopeHeader again;
        if (!sicct::ParseEnvelopeHeader(vecBuilt.data(), vecBuilt.size(), again) || again.nType != header.nType ||
            again.nAddress != header.nAddress || again.nSequence != header.nSequence ||
            again.nBodyLength != nBody || vecBuilt.size() != sicct::HEADER_SIZE + nBody)
            std::abort();
    }
    else if (nSize >= sicct::HEADER_SIZE)
    {
        std::abort();  // ten bytes always make a header
    }

    // The middleware's receive side: classification of one complete message.
    static CSicctDevice device;  // no transport: CheckResponse only reads the buffer
    bool bDeliver = false;
    (void)device.CheckResponse(pData, static_cast<int>(nSize), &bDeliver);
    (void)device.CheckResponse(pData, static_cast<int>(nSize), nullptr);

    // Values the session client reads from response bodies.
    const uint16_t nStatus = sicct::StatusWordOf(pData, nSize);
    for (int nKind = 0; nKind <= static_cast<int>(sicct::ECommandKind::NoTexts); ++nKind)
    {
        const sicct::SStatusResult result = sicct::EvaluateStatus(static_cast<sicct::ECommandKind>(nKind), nStatus);
        if (result.vecTextIds.size() > 2 || (result.bSuccess && !sicct::IsSuccessStatus(nStatus)))
            std::abort();
    }
    const std::string strId = sicct::ExtractSessionId(pData, nSize);
    if (strId.size() % 3 != 0 || strId.size() / 3 > nSize)
        std::abort();
    const std::vector<uint8_t> vecId = sicct::SessionIdBytes(strId);
    if (vecId.size() * 3 != strId.size())
        std::abort();
    std::vector<uint8_t> vecClose;
    if (vecId.size() <= sicct::MAX_SESSION_ID_BYTES && !sicct::BuildSessionClose(vecId, 0x69, vecClose))
        std::abort();
    (void)sicct::ReadMaxPacketSize(pData, nSize);
    return 0;
}
