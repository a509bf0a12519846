#pragma once
// Byte-level helpers of the terminal side: envelope header, APDU cases, BER lengths.
// Written from the terminal's point of view and independent of the host-side encoder,
// so that the two can disagree when one of them is wrong.

#include "SimTypes.h"

#include <cstddef>
#include <cstdint>
#include <string>

namespace sim::wire
{
constexpr size_t kHeaderSize = 10;
constexpr uint8_t kTypeCommand = 0x6B;
constexpr uint8_t kTypeResponse = 0x83;
constexpr uint8_t kTypeEvent = 0x50;

constexpr uint8_t kEventKeepalive = 0x80;
constexpr uint8_t kEventSignOff = 0x81;
constexpr uint8_t kEventCardInserted = 0x84;
constexpr uint8_t kEventCardRemoved = 0x85;
constexpr uint8_t kEventProtocolError = 0x86;

/// Envelope header fields.
struct Header
{
    uint8_t nType = 0;
    uint16_t nAddress = 0;
    uint16_t nSequence = 0;
    uint8_t nReserved = 0;
    uint32_t nBodyLength = 0;
};

/// Reads the header from at least 10 bytes.
Header ParseHeader(const uint8_t* pBytes);
/// Header followed by the body.
Bytes BuildEnvelope(uint8_t nType, uint16_t nAddress, uint16_t nSequence, const Bytes& vecBody);

/// One command APDU, ISO/IEC 7816-4 cases 1 to 4, short or extended.
struct Apdu
{
    uint8_t nCla = 0, nIns = 0, nP1 = 0, nP2 = 0;
    Bytes vecData;
    bool bHasLe = false;
    uint32_t nLe = 0;     // 0x00 in short form means 256, 00 00 in extended form 65536
    bool bExtended = false;
};

/// Parses an APDU body. False when the length bytes do not fit the body.
bool ParseApdu(const Bytes& vecBody, Apdu& apdu);

/// Reads a BER-TLV object at nPos: tag (one byte), length (1 byte, 81 xx or 82 xx xx).
/// On success nValuePos and nValueLen locate the value inside vec (bounded by vec).
bool ReadTlv(const Bytes& vec, size_t nPos, uint8_t& nTag, size_t& nValuePos, size_t& nValueLen);

/// Appends tag, BER length and value.
void AppendTlv(Bytes& vec, uint8_t nTag, const Bytes& vecValue);

/// "6B 00 00 ..." style text of bytes, for logs and failure messages.
std::string ToHex(const Bytes& vec);
/// Parses hexadecimal text with optional blanks ("80 13 00 46 00" or "8013004600").
bool FromHex(const std::string& str, Bytes& vecOut);

} // namespace sim::wire
