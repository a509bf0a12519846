#include "SimWire.h"

#include <cctype>
#include <cstdio>

namespace sim::wire
{
Header ParseHeader(const uint8_t* p)
{
    Header h;
    h.nType = p[0];
    h.nAddress = static_cast<uint16_t>((p[1] << 8) | p[2]);
    h.nSequence = static_cast<uint16_t>((p[3] << 8) | p[4]);
    h.nReserved = p[5];
    h.nBodyLength = (static_cast<uint32_t>(p[6]) << 24) | (static_cast<uint32_t>(p[7]) << 16) |
                    (static_cast<uint32_t>(p[8]) << 8) | static_cast<uint32_t>(p[9]);
    return h;
}

Bytes BuildEnvelope(uint8_t nType, uint16_t nAddress, uint16_t nSequence, const Bytes& vecBody)
{
    Bytes v;
    v.reserve(kHeaderSize + vecBody.size());
    const auto n = static_cast<uint32_t>(vecBody.size());
    v.push_back(nType);
    v.push_back(static_cast<uint8_t>(nAddress >> 8));
    v.push_back(static_cast<uint8_t>(nAddress));
    v.push_back(static_cast<uint8_t>(nSequence >> 8));
    v.push_back(static_cast<uint8_t>(nSequence));
    v.push_back(0x00);
    v.push_back(static_cast<uint8_t>(n >> 24));
    v.push_back(static_cast<uint8_t>(n >> 16));
    v.push_back(static_cast<uint8_t>(n >> 8));
    v.push_back(static_cast<uint8_t>(n));
    v.insert(v.end(), vecBody.begin(), vecBody.end());
    return v;
}

bool ParseApdu(const Bytes& b, Apdu& a)
{
    a = Apdu{};
    if (b.size() < 4)
        return false;
    a.nCla = b[0];
    a.nIns = b[1];
    a.nP1 = b[2];
    a.nP2 = b[3];
    const size_t n = b.size();
    if (n == 4) // case 1
        return true;
    if (n == 5) // case 2 short
    {
        a.bHasLe = true;
        a.nLe = b[4] == 0 ? 256 : b[4];
        return true;
    }
    if (b[4] != 0x00)
    {
        // case 3 or 4 short: Lc, data, optional one-byte Le
        const size_t nLc = b[4];
        if (n == 5 + nLc)
        {
            a.vecData.assign(b.begin() + 5, b.end());
            return true;
        }
        if (n == 6 + nLc)
        {
            a.vecData.assign(b.begin() + 5, b.begin() + 5 + static_cast<std::ptrdiff_t>(nLc));
            a.bHasLe = true;
            a.nLe = b[n - 1] == 0 ? 256 : b[n - 1];
            return true;
        }
        return false;
    }
    // extended: 00 then either Le (2 bytes, case 2E) or Lc (2 bytes) data [Le 2 bytes]
    a.bExtended = true;
    if (n == 7)
    {
        a.bHasLe = true;
        const uint32_t nLe = (static_cast<uint32_t>(b[5]) << 8) | b[6];
        a.nLe = nLe == 0 ? 65536 : nLe;
        return true;
    }
    if (n < 8)
        return false;
    const size_t nLc = (static_cast<size_t>(b[5]) << 8) | b[6];
    if (nLc == 0)
        return false;
    if (n == 7 + nLc)
    {
        a.vecData.assign(b.begin() + 7, b.end());
        return true;
    }
    if (n == 9 + nLc)
    {
        a.vecData.assign(b.begin() + 7, b.begin() + 7 + static_cast<std::ptrdiff_t>(nLc));
        a.bHasLe = true;
        const uint32_t nLe = (static_cast<uint32_t>(b[n - 2]) << 8) | b[n - 1];
        a.nLe = nLe == 0 ? 65536 : nLe;
        return true;
    }
    return false;
}

bool ReadTlv(const Bytes& v, size_t nPos, uint8_t& nTag, size_t& nValuePos, size_t& nValueLen)
{
    if (nPos + 2 > v.size())
        return false;
    nTag = v[nPos];
    size_t nLen = v[nPos + 1];
    size_t nStart = nPos + 2;
    if (nLen == 0x81)
    {
        if (nStart + 1 > v.size())
            return false;
        nLen = v[nStart];
        nStart += 1;
    }
    else if (nLen == 0x82)
    {
        if (nStart + 2 > v.size())
            return false;
        nLen = (static_cast<size_t>(v[nStart]) << 8) | v[nStart + 1];
        nStart += 2;
    }
    else if (nLen > 0x7F)
        return false;
    if (nStart + nLen > v.size())
        return false;
    nValuePos = nStart;
    nValueLen = nLen;
    return true;
}

void AppendTlv(Bytes& v, uint8_t nTag, const Bytes& vecValue)
{
    v.push_back(nTag);
    const size_t n = vecValue.size();
    if (n < 0x80)
        v.push_back(static_cast<uint8_t>(n));
    else if (n < 0x100)
    {
        v.push_back(0x81);
        v.push_back(static_cast<uint8_t>(n));
    }
    else
    {
        v.push_back(0x82);
        v.push_back(static_cast<uint8_t>(n >> 8));
        v.push_back(static_cast<uint8_t>(n));
    }
    v.insert(v.end(), vecValue.begin(), vecValue.end());
}

std::string ToHex(const Bytes& v)
{
    std::string s;
    s.reserve(v.size() * 3);
    char buf[4];
    for (size_t i = 0; i < v.size(); ++i)
    {
        std::snprintf(buf, sizeof buf, i ? " %02X" : "%02X", v[i]);
        s += buf;
    }
    return s;
}

bool FromHex(const std::string& str, Bytes& out)
{
    out.clear();
    int nHigh = -1;
    for (char c : str)
    {
        if (c == ' ' || c == ':' || c == '\t')
        {
            if (nHigh >= 0)
                return false; // a lone digit
            continue;
        }
        if (!std::isxdigit(static_cast<unsigned char>(c)))
            return false;
        const int d = std::isdigit(static_cast<unsigned char>(c)) ? c - '0' : (std::tolower(c) - 'a' + 10);
        if (nHigh < 0)
            nHigh = d;
        else
        {
            out.push_back(static_cast<uint8_t>((nHigh << 4) | d));
            nHigh = -1;
        }
    }
    return nHigh < 0;
}

} // namespace sim::wire
