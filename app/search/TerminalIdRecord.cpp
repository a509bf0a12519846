#include "TerminalIdRecord.h"

#include <algorithm>

#include "TerminalRules.h"

TerminalIdRecord TerminalIdRecord::Build(uint16_t nSicctVersion, const std::string& strName,
                                         const std::string& strIp, const std::string& strMac, uint16_t nPort,
                                         uint8_t nProtocol)
{
    TerminalIdRecord rec;
    auto& ab = rec.abData;
    ab[0] = 0x80;
    ab[1] = 0x02;
    ab[kOffVersion] = static_cast<uint8_t>(nSicctVersion & 0xFF);
    ab[kOffVersion + 1] = static_cast<uint8_t>(nSicctVersion >> 8);

    ab[4] = 0x81;
    ab[5] = 0x04;
    std::array<uint8_t, 4> abIp{};
    (void)search::ParseIpv4(strIp, abIp);  // invalid text leaves the bytes zero
    std::copy(abIp.begin(), abIp.end(), ab.begin() + kOffIp);

    ab[10] = 0x83;
    ab[11] = 0x06;
    std::array<uint8_t, 6> abMac{};
    (void)search::ParseMac(strMac, abMac);
    std::copy(abMac.begin(), abMac.end(), ab.begin() + kOffMac);

    ab[18] = 0x84;
    const size_t nNameLen = std::min(strName.size(), kMaxName);
    ab[kOffNameLength] = static_cast<uint8_t>(nNameLen);
    std::copy_n(strName.begin(), nNameLen, ab.begin() + kOffName);

    ab[52] = 0x82;
    ab[53] = 0x02;
    ab[kOffPort] = static_cast<uint8_t>(nPort & 0xFF);
    ab[kOffPort + 1] = static_cast<uint8_t>(nPort >> 8);
    ab[kOffProtocol] = nProtocol;
    return rec;
}

std::string TerminalIdRecord::Name() const
{
    const size_t nLen = std::min<size_t>(abData[kOffNameLength], kMaxName);
    return std::string(reinterpret_cast<const char*>(abData.data() + kOffName), nLen);
}
