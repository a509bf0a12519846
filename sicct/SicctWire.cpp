#include "SicctWire.h"

#include <array>
#include <cstdio>

namespace sicct
{
namespace
{
struct SCommandEntry
{
    int nId;
    const char* pszText;
};

// The command table. The blanks matter: Algorithm of CommandTextToBytes counts them.
constexpr std::array<SCommandEntry, 16> kCommands = {{
    {CMD_DIAGNOSIS_TEXT, "80 17 40 00 10 50 0E 44 69 61 67 6E 6F 73 65 20 6C 7B 75 66 74"},
    {CMD_102, "80 58 00 00 00"},
    {CMD_SESSION_CLOSE, "80 29 00 00 "},
    {CMD_DOWNLOAD_INIT, "80 24 00 00 00"},
    {CMD_DOWNLOAD_FINISH, "80 26 00 00 00"},
    {CMD_STATUS_MANUFACTURER, "80 13 00 46 00"},
    {CMD_STATUS_UNITS, "80 13 00 81 00"},
    {CMD_RESET_CARD, "80 11 %s 01 00"},
    {CMD_UNIT_NAME, "80 13 %s A1 00"},
    {CMD_ICC_STATUS, "80 13 %s 80 00"},
    {CMD_DISPLAY, "80 13 %s 67 00"},
    {CMD_ICC_INTERFACE, "80 13 %s 66 00"},
    {CMD_KEYPAD, "80 13 %s 6A 00"},
    {CMD_128, "80 20 00 01"},
    {CMD_137, "80 20 00 00"},
    {CMD_BCS_RESET, "20 11 00 00"},
}};

int HexValue(char c)
{
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

void PutBe16(std::vector<uint8_t>& vec, size_t n)
{
    vec.push_back(static_cast<uint8_t>((n >> 8) & 0xFF));
    vec.push_back(static_cast<uint8_t>(n & 0xFF));
}
} // namespace

std::vector<uint8_t> BuildEnvelope(uint8_t nType, uint16_t nAddress, uint16_t nSequence, const uint8_t* pBody,
                                   size_t nBodyLength)
{
    std::vector<uint8_t> vec;
    vec.reserve(HEADER_SIZE + nBodyLength);
    vec.push_back(nType);
    PutBe16(vec, nAddress);
    PutBe16(vec, nSequence);
    vec.push_back(0x00);
    const auto n = static_cast<uint32_t>(nBodyLength);
    vec.push_back(static_cast<uint8_t>(n >> 24));
    vec.push_back(static_cast<uint8_t>(n >> 16));
    vec.push_back(static_cast<uint8_t>(n >> 8));
    vec.push_back(static_cast<uint8_t>(n));
    if (pBody != nullptr && nBodyLength > 0)
        vec.insert(vec.end(), pBody, pBody + nBodyLength);
    return vec;
}

bool ParseEnvelopeHeader(const uint8_t* pData, size_t nLength, SEnvelopeHeader& header)
{
    if (pData == nullptr || nLength < HEADER_SIZE)
        return false;
    header.nType = pData[0];
    header.nAddress = static_cast<uint16_t>((pData[1] << 8) | pData[2]);
    header.nSequence = static_cast<uint16_t>((pData[3] << 8) | pData[4]);
    header.nBodyLength = (static_cast<uint32_t>(pData[6]) << 24) | (static_cast<uint32_t>(pData[7]) << 16) |
                         (static_cast<uint32_t>(pData[8]) << 8) | pData[9];
    return true;
}

std::string_view CommandText(int nCommandId)
{
    for (const auto& entry : kCommands)
        if (entry.nId == nCommandId)
            return entry.pszText;
    return {};
}

bool CommandTextToBytes(std::string_view strText, std::string_view strUnit, std::vector<uint8_t>& vecOut)
{
    vecOut.clear();
    std::string strFilled(strText);
    if (const auto nPos = strFilled.find("%s"); nPos != std::string::npos)
        strFilled.replace(nPos, 2, strUnit);

    // The byte count comes from the blanks, not from the digits: a trailing blank adds a
    // zero byte (the Le of the session close).
    size_t nCount = 1;
    for (size_t i = 2; i < strFilled.size(); ++i)
        if (strFilled[i] == ' ')
            ++nCount;
    if (nCount > MAX_APDU_LENGTH)
        return false;

    std::string strDigits;
    strDigits.reserve(strFilled.size());
    for (char c : strFilled)
    {
        if (c == ' ')
            continue;
        if (HexValue(c) < 0)
            return false;
        strDigits.push_back(c);
    }
    if (strDigits.size() % 2 != 0)
        return false;

    vecOut.assign(nCount, 0x00);
    const size_t nPairs = strDigits.size() / 2;
    for (size_t i = 0; i < nPairs && i < nCount; ++i)
        vecOut[i] = static_cast<uint8_t>(HexValue(strDigits[2 * i]) * 16 + HexValue(strDigits[2 * i + 1]));
    return true;
}

bool BuildTableCommand(int nCommandId, std::string_view strUnit, std::vector<uint8_t>& vecOut)
{
    const auto strText = CommandText(nCommandId);
    if (strText.empty())
    {
        vecOut.clear();
        return false;
    }
    return CommandTextToBytes(strText, strUnit, vecOut);
}

uint8_t SessionTag(uint8_t nMajor, uint8_t nMinor)
{
    return (nMajor == 1 && nMinor == 3) ? 0x73 : 0x69;
}

bool BuildSessionOpen(const std::string& strUser, const std::string& strPassword, uint8_t nTag,
                      std::vector<uint8_t>& vecOut)
{
    vecOut.clear();
    const size_t nU = strUser.size();
    const size_t nP = strPassword.size();
    if (nU + nP > MAX_CREDENTIAL_BYTES)
        return false;
    vecOut = {0x80, 0x28, 0x00, 0x00, static_cast<uint8_t>(nU + nP + 8), nTag, static_cast<uint8_t>(nU + nP + 6)};
    vecOut.push_back(0x13);
    vecOut.push_back(static_cast<uint8_t>(nU));
    vecOut.insert(vecOut.end(), strUser.begin(), strUser.end());
    vecOut.push_back(0x13);
    vecOut.push_back(static_cast<uint8_t>(nP));
    vecOut.insert(vecOut.end(), strPassword.begin(), strPassword.end());
    vecOut.push_back(0x13);
    vecOut.push_back(0x00);
    vecOut.push_back(0x00);  // Le
    return true;
}

bool BuildSessionClose(const std::vector<uint8_t>& vecSessionId, uint8_t nTag, std::vector<uint8_t>& vecOut)
{
    vecOut.clear();
    const size_t nN = vecSessionId.size();
    if (nN == 0)
    {
        vecOut = {0x80, 0x29, 0x00, 0x00, 0x00};
        return true;
    }
    if (nN > MAX_SESSION_ID_BYTES)
        return false;
    // The constructed object holds the three 0x13 objects (6 + N bytes); the zero byte that
    // follows them is part of the command data as terminals have always received it.
    vecOut = {0x80, 0x29, 0x00, 0x00, static_cast<uint8_t>(nN + 9), nTag, static_cast<uint8_t>(nN + 6),
              0x13, 0x00, 0x13, 0x00, 0x13, static_cast<uint8_t>(nN)};
    vecOut.insert(vecOut.end(), vecSessionId.begin(), vecSessionId.end());
    vecOut.push_back(0x00);
    vecOut.push_back(0x00);  // Le
    return true;
}

bool BuildFirmwarePacket(const uint8_t* pData, size_t nLength, bool bLast, std::vector<uint8_t>& vecOut)
{
    vecOut.clear();
    if (pData == nullptr || nLength == 0 || nLength > MAX_FIRMWARE_PACKET)
        return false;
    vecOut = {0x80, static_cast<uint8_t>(bLast ? 0x26 : 0x25), 0x00, 0x00};
    if (nLength <= 127)
    {
        vecOut.push_back(static_cast<uint8_t>(nLength + 2));
        vecOut.push_back(0x73);
        vecOut.push_back(static_cast<uint8_t>(nLength));
        vecOut.insert(vecOut.end(), pData, pData + nLength);
        vecOut.push_back(0x00);
    }
    else if (nLength <= 252)
    {
        vecOut.push_back(static_cast<uint8_t>(nLength + 3));
        vecOut.push_back(0x73);
        vecOut.push_back(0x81);
        vecOut.push_back(static_cast<uint8_t>(nLength));
        vecOut.insert(vecOut.end(), pData, pData + nLength);
        vecOut.push_back(0x00);
    }
    else
    {
        vecOut.push_back(0x00);
        PutBe16(vecOut, nLength + 4);
        vecOut.push_back(0x73);
        vecOut.push_back(0x82);
        PutBe16(vecOut, nLength);
        vecOut.insert(vecOut.end(), pData, pData + nLength);
        vecOut.push_back(0x01);
        vecOut.push_back(0x00);
    }
    return true;
}

bool BuildCertificateListWrite(const uint8_t* pData, size_t nLength, std::vector<uint8_t>& vecOut)
{
    vecOut.clear();
    if (pData == nullptr || nLength == 0 || nLength > MAX_CERTIFICATE_LIST)
        return false;
    vecOut = {0x80, 0x23, 0xC0, 0x05};
    if (nLength <= 255)
    {
        vecOut.push_back(static_cast<uint8_t>(nLength));
    }
    else
    {
        vecOut.push_back(0x00);
        PutBe16(vecOut, nLength);
    }
    vecOut.insert(vecOut.end(), pData, pData + nLength);
    return true;
}

std::string ExtractSessionId(const uint8_t* pBody, size_t nLength)
{
    std::string strId;
    if (pBody == nullptr)
        return strId;
    int nSeen = 0;
    size_t i = 0;
    while (i < nLength)
    {
        if (pBody[i] != 0x13)
        {
            ++i;
            continue;
        }
        // Every 0x13 object is stepped over whole, so a value byte that happens to be 0x13
        // is never taken for the start of another object.
        const size_t nLen = (i + 1 < nLength) ? pBody[i + 1] : 0;
        if (nSeen < 2)
        {
            // user name and password echo
            ++nSeen;
        }
        else
        {
            for (size_t k = 0; k < nLen && i + 2 + k < nLength; ++k)
            {
                char sz[4];
                std::snprintf(sz, sizeof(sz), " %02x", pBody[i + 2 + k]);
                strId += sz;
            }
        }
        i += nLen + 2;
    }
    return strId;
}

std::vector<uint8_t> SessionIdBytes(const std::string& strSessionId)
{
    std::vector<uint8_t> vec;
    for (size_t i = 0; i + 1 < strSessionId.size(); ++i)
    {
        const int nHi = HexValue(strSessionId[i]);
        const int nLo = HexValue(strSessionId[i + 1]);
        if (nHi >= 0 && nLo >= 0)
        {
            vec.push_back(static_cast<uint8_t>(nHi * 16 + nLo));
            ++i;
        }
    }
    return vec;
}

uint32_t ReadMaxPacketSize(const uint8_t* pData, size_t nLength)
{
    const auto At = [&](size_t i) -> int { return (pData != nullptr && i < nLength) ? pData[i] : -1; };
    if (At(0) != 0x73 || nLength < 3)
        return 0;

    if (At(2) == 0x80)
    {
        // Layout A: 80 01 xx 02 len size-lo [size-hi]
        if (At(3) != 0x01 || At(5) != 0x02)
            return 0;
        if (At(6) == 2 && At(7) >= 0 && At(8) >= 0)
            return static_cast<uint32_t>(At(7) + 256 * At(8));
        // A one-byte size must not take in the status word that follows it.
        if (At(6) == 1 && At(7) >= 0)
            return static_cast<uint32_t>(At(7));
        return 0;
    }

    // Layout B: [04 len value] 04 len size (big-endian)
    const int nOuter = At(1);
    if (nOuter != 6 && nOuter != 7 && nOuter != 8)
        return 0;
    size_t nStart = 3;
    if (At(2) == 0x04)
    {
        if (At(3) < 0)
            return 0;
        nStart = 4 + static_cast<size_t>(At(3));  // skip the first 0x04 object, whatever its length
    }
    if (At(nStart) != 0x04)
        return 0;
    const int nSizeLen = At(nStart + 1);
    if (nSizeLen == 1 && At(nStart + 2) >= 0)
        return static_cast<uint32_t>(At(nStart + 2));
    if (nSizeLen == 2 && At(nStart + 2) >= 0 && At(nStart + 3) >= 0)
        return static_cast<uint32_t>(At(nStart + 2) * 256 + At(nStart + 3));
    return 0;
}

bool ResetRefusedAsUnpaired(uint8_t nMajor, uint8_t nMinor)
{
    return nMajor != 0 && nMinor >= 20;
}
} // namespace sicct
