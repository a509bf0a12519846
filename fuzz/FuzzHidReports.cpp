// Fuzz target: the HID report framing. The first two bytes choose the report length and
// whether a report ID byte leads; the rest is a message. The message is split into reports
// and put together again by their headers exactly as the listener does (offset continues
// the bytes so far, offset + remaining = total); the result must be the message. Every
// report is also read as a received report (header of arbitrary bytes).
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "HidDevice.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* pData, size_t nSize)
{
    if (nSize < 2 || nSize > 0x10000 + 2)
        return 0;
    const bool bReportIdByte = (pData[0] & 0x80) != 0;
    const int nReportLength = 1 + (pData[0] & 0x7F) + (pData[1] & 0x0F) * 64;  // 1..1088
    const uint8_t* pMessage = pData + 2;
    const int nMessage = static_cast<int>(nSize - 2);

    // A received report of any content: the header reader stays inside it.
    CHidDevice::ReportHeader received;
    (void)CHidDevice::ParseHeader(pMessage, nMessage, bReportIdByte, received);

    const std::vector<std::vector<uint8_t>> vecReports =
        CHidDevice::BuildReports(pMessage, nMessage, 1, CHidDevice::HID_MSG_ENVELOPE, nReportLength, bReportIdByte);
    const int nCapacity = nReportLength - CHidDevice::kReportHeaderSize - (bReportIdByte ? 1 : 0);
    if (vecReports.empty())
    {
        if (nCapacity >= 1)
            std::abort();  // a message up to 0xFFFF bytes always fits reports with room for payload
        return 0;
    }
    std::vector<uint8_t> vecAssembly;
    size_t nAssembled = 0;
    for (size_t i = 0; i < vecReports.size(); ++i)
    {
        const std::vector<uint8_t>& vecReport = vecReports[i];
        if (static_cast<int>(vecReport.size()) != nReportLength || (bReportIdByte && vecReport[0] != 0x00))
            std::abort();
        CHidDevice::ReportHeader header;
        if (!CHidDevice::ParseHeader(vecReport.data(), nReportLength, bReportIdByte, header))
            std::abort();
        if (i == 0)
        {
            if (header.nOffset != 0)
                std::abort();
            vecAssembly.assign(header.nLength, 0);
        }
        if (header.nOffset != nAssembled || static_cast<size_t>(header.nOffset) + header.nLength != vecAssembly.size())
            std::abort();
        const int nPart = std::min<int>(header.nLength, nCapacity);
        if (nPart > 0)  // an empty message has no buffer to copy into
            std::memcpy(vecAssembly.data() + header.nOffset,
                        vecReport.data() + (bReportIdByte ? 1 : 0) + CHidDevice::kReportHeaderSize,
                        static_cast<size_t>(nPart));
        nAssembled += static_cast<size_t>(nPart);
        const bool bLast = header.nLength <= nCapacity;
        if (bLast != (i + 1 == vecReports.size()))
            std::abort();
    }
    if (vecAssembly.size() != static_cast<size_t>(nMessage) ||
        (nMessage > 0 && std::memcmp(vecAssembly.data(), pMessage, static_cast<size_t>(nMessage)) != 0))
        std::abort();
    return 0;
}
