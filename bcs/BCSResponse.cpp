#include "BCSResponse.h"

#include "Trace.h"

uint16_t CBCSResponse::GetStatusWord() const
{
    const uint8_t* pData = GetData();
    const uint16_t nLen = GetDataLen();
    // A length without a buffer would be read from nowhere.
    if (nLen < 2 || !pData)
        return bcs::SW_NONE;
    const uint8_t nSw1 = pData[nLen - 2];
    const uint8_t nSw2 = pData[nLen - 1];
    TC_TRACE("CtApi", trace::LEVEL_INFO, "apRes->GetDataLen()", nLen);
    TC_TRACE("CtApi", trace::LEVEL_INFO, "apRes->GetData()[apRes->GetDataLen() - 2]", nSw1);
    TC_TRACE("CtApi", trace::LEVEL_INFO, "apRes->GetData()[apRes->GetDataLen() - 1]", nSw2);
    return static_cast<uint16_t>(nSw1 << 8 | nSw2);
}
