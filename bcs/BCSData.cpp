#include "BCSData.h"

uint8_t CBCSData::SetData(const uint8_t* pDestination, const uint8_t* pSource, uint8_t* pData,
                          const uint16_t* pLength)
{
    if (!pDestination || !pSource || !pData || !pLength || *pLength == 0)
        return bcs::BCS_ERR_PARAM;
    m_nDestination = *pDestination;
    m_nSource = *pSource;
    m_pData = pData;
    m_nLength = *pLength;
    return bcs::BCS_OK;
}
