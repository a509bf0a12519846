#pragma once
#include <cstdint>

#include "BcsCodes.h"

/// An addressed view on a byte buffer: destination and source address bytes, a pointer to
/// the bytes and their number. The buffer belongs to the caller, who keeps it alive while
/// the object points at it and frees it; destroying the object does not touch it. For a
/// response prepared for receiving, the length is the buffer's capacity.
///
/// Not thread-safe: one thread prepares an object, hands it to the executing device and
/// reads it afterwards.
class CBCSData
{
public:
    CBCSData() = default;
    virtual ~CBCSData() = default;
    CBCSData(const CBCSData&) = default;
    CBCSData& operator=(const CBCSData&) = default;

    /// Takes over the destination byte, the source byte and the length, and keeps the data
    /// pointer. Returns bcs::BCS_OK, or bcs::BCS_ERR_PARAM (the object unchanged) when a
    /// pointer is missing or the length is 0.
    uint8_t SetData(const uint8_t* pDestination, const uint8_t* pSource, uint8_t* pData, const uint16_t* pLength);

    uint8_t* GetData() const { return m_pData; }
    uint16_t GetDataLen() const { return m_nLength; }
    void SetDataLen(uint16_t nLength) { m_nLength = nLength; }

    uint8_t GetDestination() const { return m_nDestination; }
    void SetDestination(uint8_t nDestination) { m_nDestination = nDestination; }
    uint8_t GetSource() const { return m_nSource; }
    void SetSource(uint8_t nSource) { m_nSource = nSource; }

private:
    uint8_t m_nDestination = bcs::ADDR_TERMINAL;
    uint8_t m_nSource = bcs::ADDR_CARD;
    uint8_t* m_pData = nullptr;  // not owned
    uint16_t m_nLength = 0;
};
