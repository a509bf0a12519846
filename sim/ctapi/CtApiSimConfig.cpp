#include "CtApiSimConfig.h"

#include <arpa/inet.h>

#include <cctype>
#include <charconv>
#include <cstdlib>
#include <fstream>

namespace ctapisim
{
namespace
{
std::string Trim(const std::string& s)
{
    size_t b = 0, e = s.size();
    while (b < e && std::isspace(static_cast<unsigned char>(s[b])))
        ++b;
    while (e > b && std::isspace(static_cast<unsigned char>(s[e - 1])))
        --e;
    return s.substr(b, e - b);
}

bool ParseInt(const std::string& s, int& nOut)
{
    const std::string t = Trim(s);
    if (t.empty())
        return false;
    const char* pEnd = t.data() + t.size();
    const auto res = std::from_chars(t.data(), pEnd, nOut);
    return res.ec == std::errc() && res.ptr == pEnd;
}

bool ParseHex(const std::string& s, std::vector<uint8_t>& vecOut)
{
    std::string strDigits;
    for (char c : s)
    {
        if (c == ' ')
            continue;
        if (!std::isxdigit(static_cast<unsigned char>(c)))
            return false;
        strDigits.push_back(c);
    }
    if (strDigits.size() % 2 != 0)
        return false;
    vecOut.clear();
    for (size_t i = 0; i < strDigits.size(); i += 2)
        vecOut.push_back(static_cast<uint8_t>(std::stoi(strDigits.substr(i, 2), nullptr, 16)));
    return true;
}

const char* Env(const char* pszName)
{
    const char* p = std::getenv(pszName);
    return (p && *p) ? p : nullptr;
}
} // namespace

bool ParseAddress(const std::string& strText, std::string& strHost, uint16_t& nPort)
{
    const std::string t = Trim(strText);
    std::string strAddr, strPort;
    if (!t.empty() && t[0] == '[')
    {
        const size_t nClose = t.find(']');
        if (nClose == std::string::npos || nClose + 1 >= t.size() || t[nClose + 1] != ':')
            return false;
        strAddr = t.substr(1, nClose - 1);
        strPort = t.substr(nClose + 2);
    }
    else
    {
        const size_t nColon = t.rfind(':');
        if (nColon == std::string::npos)
            return false;
        strAddr = t.substr(0, nColon);
        strPort = t.substr(nColon + 1);
    }
    int n = 0;
    if (!ParseInt(strPort, n) || n <= 0 || n > 65535)
        return false;
    in_addr a4{};
    in6_addr a6{};
    if (inet_pton(AF_INET, strAddr.c_str(), &a4) == 1)
    {
        if ((ntohl(a4.s_addr) >> 24) != 127)
            return false;
    }
    else if (inet_pton(AF_INET6, strAddr.c_str(), &a6) == 1)
    {
        if (!IN6_IS_ADDR_LOOPBACK(&a6))
            return false;
    }
    else
        return false;
    strHost = strAddr;
    nPort = static_cast<uint16_t>(n);
    return true;
}

bool ParseFaultRule(const std::string& strText, SFaultRule& rule)
{
    rule = SFaultRule{};
    const std::string t = Trim(strText);
    const size_t nEq = t.find('=');
    if (nEq == std::string::npos)
        return false;
    std::string strSel = Trim(t.substr(0, nEq));
    const std::string strAction = Trim(t.substr(nEq + 1));

    const size_t nAt = strSel.find('@');
    if (nAt != std::string::npos)
    {
        if (!ParseInt(strSel.substr(nAt + 1), rule.nOccurrence) || rule.nOccurrence < 1)
            return false;
        strSel.resize(nAt);
    }
    const size_t nColon = strSel.find(':');
    std::string strCall = Trim(strSel.substr(0, nColon));
    if (nColon != std::string::npos && !ParseHex(strSel.substr(nColon + 1), rule.vecPrefix))
        return false;
    if (strCall == "init")
        rule.eCall = SFaultRule::CALL_INIT;
    else if (strCall == "data")
        rule.eCall = SFaultRule::CALL_DATA;
    else if (strCall == "close")
        rule.eCall = SFaultRule::CALL_CLOSE;
    else
        return false;
    if (!rule.vecPrefix.empty() && rule.eCall != SFaultRule::CALL_DATA)
        return false;

    if (strAction.rfind("stall:", 0) == 0)
    {
        if (rule.eCall != SFaultRule::CALL_DATA || !ParseInt(strAction.substr(6), rule.nStallMs) ||
            rule.nStallMs < 0)
            return false;
        rule.bStall = true;
        return true;
    }
    return ParseInt(strAction, rule.nCode) && rule.nCode >= -128 && rule.nCode <= 127;
}

bool LoadConfigFromEnvironment(SSimConfig& config, std::string& strError)
{
    config = SSimConfig{};
    strError.clear();
    auto AddFaults = [&](const std::string& strList) {
        size_t nStart = 0;
        while (nStart <= strList.size())
        {
            size_t nEnd = strList.find(';', nStart);
            if (nEnd == std::string::npos)
                nEnd = strList.size();
            const std::string strOne = Trim(strList.substr(nStart, nEnd - nStart));
            if (!strOne.empty())
            {
                SFaultRule rule;
                if (!ParseFaultRule(strOne, rule))
                {
                    strError = "bad fault rule: " + strOne;
                    return false;
                }
                config.vecFaults.push_back(rule);
            }
            nStart = nEnd + 1;
        }
        return true;
    };

    if (const char* pszFile = Env("TC_CTAPI_SIM_CONFIG"))
    {
        std::ifstream in(pszFile);
        if (!in)
        {
            strError = std::string("cannot read ") + pszFile;
            return false;
        }
        std::string strLine;
        while (std::getline(in, strLine))
        {
            const size_t nHash = strLine.find('#');
            if (nHash != std::string::npos)
                strLine.resize(nHash);
            strLine = Trim(strLine);
            if (strLine.empty())
                continue;
            const size_t nEq = strLine.find('=');
            const std::string strKey = Trim(strLine.substr(0, nEq));
            const std::string strValue = nEq == std::string::npos ? "" : Trim(strLine.substr(nEq + 1));
            if (strKey == "address")
            {
                if (!ParseAddress(strValue, config.strHost, config.nPort))
                {
                    strError = "bad address: " + strValue;
                    return false;
                }
            }
            else if (strKey == "fault")
            {
                if (!AddFaults(strValue))
                    return false;
            }
            else if (strKey == "timeout_ms")
            {
                if (!ParseInt(strValue, config.nTimeoutMs) || config.nTimeoutMs <= 0)
                {
                    strError = "bad timeout_ms: " + strValue;
                    return false;
                }
            }
            else
            {
                strError = "unknown key: " + strKey;
                return false;
            }
        }
    }
    if (const char* pszAddr = Env("TC_CTAPI_SIM"))
    {
        if (!ParseAddress(pszAddr, config.strHost, config.nPort))
        {
            strError = std::string("bad TC_CTAPI_SIM: ") + pszAddr;
            return false;
        }
    }
    if (const char* pszFaults = Env("TC_CTAPI_SIM_FAULTS"))
    {
        if (!AddFaults(pszFaults))
            return false;
    }
    if (const char* pszTimeout = Env("TC_CTAPI_SIM_TIMEOUT_MS"))
    {
        if (!ParseInt(pszTimeout, config.nTimeoutMs) || config.nTimeoutMs <= 0)
        {
            strError = std::string("bad TC_CTAPI_SIM_TIMEOUT_MS: ") + pszTimeout;
            return false;
        }
    }
    return true;
}
} // namespace ctapisim
