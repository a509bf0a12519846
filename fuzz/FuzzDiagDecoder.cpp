// Fuzz target: the diagnosis decoder for every selector. The first byte picks the
// selector (including unknown ones), the rest is the response as received, status word
// included. Checks the documented bounds of the decoded records.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "ResponseDecoder.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* pData, size_t nSize)
{
    if (nSize < 1 || nSize > 70000)
        return 0;
    const int nSelector = pData[0] % 10;  // 8 and 9 are no selector: refused
    const uint8_t* p = pData + 1;
    const size_t n = nSize - 1;

    SUnitStatus unit;
    const bool bUnit = CResponseDecoder::DecodeUnit(nSelector, p, n, unit);
    if (bUnit && (nSelector == CResponseDecoder::SEL_MANUFACTURER || nSelector == CResponseDecoder::SEL_UNIT_LIST ||
                  nSelector > CResponseDecoder::SEL_UNIT_LIST))
        std::abort();
    if (unit.iccStatus && unit.iccStatus->vecEntries.size() > 255)
        std::abort();

    switch (nSelector)
    {
    case CResponseDecoder::SEL_UNIT_LIST:
    {
        std::vector<uint8_t> vecList;
        if (CResponseDecoder::DecodeUnitList(p, n, vecList) && vecList.size() > CResponseDecoder::MAX_UNIT_LIST)
            std::abort();
        break;
    }
    case CResponseDecoder::SEL_ATR:
    {
        std::string strAtr;
        if (CResponseDecoder::DecodeAtr(p, n, strAtr) && !strAtr.empty() &&
            (strAtr.front() == ' ' || strAtr.back() == ' '))
            std::abort();  // trimmed
        break;
    }
    case CResponseDecoder::SEL_DISPLAY:
    {
        DisplayInfo info;
        (void)CResponseDecoder::DecodeDisplay(p, n, info);
        break;
    }
    case CResponseDecoder::SEL_KEYPAD:
    {
        KeypadInfo info;
        (void)CResponseDecoder::DecodeKeypad(p, n, info);
        break;
    }
    default:
        break;
    }
    for (int i = 0; i < 8 && i < static_cast<int>(n); ++i)
        (void)CResponseDecoder::IccEntryOf(p[i]);
    return 0;
}
