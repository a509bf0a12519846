#include "DiscoveryResponder.h"

#include "SimWire.h"

#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <netinet/in.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

namespace sim
{
namespace
{
constexpr int kPollSliceMs = 50;
// Pause after this many datagrams so that a host's receive buffer is not flooded.
constexpr int kBurst = 64;

bool IsLoopbackNet(uint32_t nAddressNetOrder) { return (ntohl(nAddressNetOrder) >> 24) == 127; }
} // namespace

CDiscoveryResponder::~CDiscoveryResponder() { Stop(); }

Bytes CDiscoveryResponder::BuildAnswer(const TerminalConfig& t, uint16_t nTcpPort)
{
    Bytes vecItems;
    wire::AppendTlv(vecItems, 0x80, {static_cast<uint8_t>(t.nSicctVersion >> 8), static_cast<uint8_t>(t.nSicctVersion)});
    in_addr a{};
    if (::inet_pton(AF_INET, t.strAddress.c_str(), &a) != 1)
        a.s_addr = htonl(INADDR_LOOPBACK);
    const auto* p = reinterpret_cast<const uint8_t*>(&a.s_addr);
    wire::AppendTlv(vecItems, 0x81, {p[0], p[1], p[2], p[3]});
    wire::AppendTlv(vecItems, 0x82, {static_cast<uint8_t>(nTcpPort >> 8), static_cast<uint8_t>(nTcpPort)});
    Bytes vecMac;
    if (!wire::FromHex(t.strMac, vecMac))
        vecMac.clear();
    vecMac.resize(6, 0x00);
    wire::AppendTlv(vecItems, 0x83, vecMac);
    wire::AppendTlv(vecItems, 0x84, Bytes(t.strName.begin(), t.strName.begin() + static_cast<std::ptrdiff_t>(
                                                                                  std::min<size_t>(t.strName.size(), 32))));
    wire::AppendTlv(vecItems, 0x85, {0x8A, 0x01, static_cast<uint8_t>(t.nProtocolCode)});
    if (!t.bDiscoveryA1Form)
        return vecItems;
    Bytes v;
    wire::AppendTlv(v, 0xA1, vecItems);
    return v;
}

bool CDiscoveryResponder::ParseRequest(const Bytes& v, uint32_t& nAddress, uint16_t& nPort)
{
    uint8_t nTag = 0;
    size_t nPos = 0, nLen = 0;
    if (!wire::ReadTlv(v, 0, nTag, nPos, nLen) || nTag != 0xA0)
        return false;
    const Bytes vecInner(v.begin() + static_cast<std::ptrdiff_t>(nPos),
                         v.begin() + static_cast<std::ptrdiff_t>(nPos + nLen));
    bool bAddress = false, bPort = false;
    for (size_t i = 0; i < vecInner.size();)
    {
        if (!wire::ReadTlv(vecInner, i, nTag, nPos, nLen))
            return false;
        if (nTag == 0x81 && nLen == 4)
        {
            std::memcpy(&nAddress, &vecInner[nPos], 4);
            bAddress = true;
        }
        else if (nTag == 0x82 && nLen == 2)
        {
            nPort = static_cast<uint16_t>((vecInner[nPos] << 8) | vecInner[nPos + 1]);
            bPort = true;
        }
        i = nPos + nLen;
    }
    return bAddress && bPort && nPort != 0;
}

void CDiscoveryResponder::AddTerminal(const TerminalConfig& t, uint16_t nTcpPort)
{
    if (nTcpPort == 0)
        nTcpPort = static_cast<uint16_t>(t.nAnnouncedPort ? t.nAnnouncedPort : t.nPort);
    m_vecAnswers.push_back(BuildAnswer(t, nTcpPort));
}

void CDiscoveryResponder::AddSynthetic(int nCount)
{
    for (int i = 0; i < nCount; ++i)
    {
        TerminalConfig t;
        char szName[32];
        std::snprintf(szName, sizeof szName, "SIM-LOAD-%05d", i);
        t.strName = szName;
        char szMac[24];
        std::snprintf(szMac, sizeof szMac, "02:5D:%02X:%02X:%02X:%02X", (i >> 24) & 0xFF, (i >> 16) & 0xFF,
                      (i >> 8) & 0xFF, i & 0xFF);
        t.strMac = szMac;
        char szIp[24];
        std::snprintf(szIp, sizeof szIp, "127.93.%d.%d", (i >> 8) & 0xFF, i & 0xFF);
        t.strAddress = szIp;
        t.nProtocolCode = 0x30;
        m_vecAnswers.push_back(BuildAnswer(t, 4742));
    }
}

int CDiscoveryResponder::Start(const std::string& strAddress, int nPort, std::string* pError)
{
    auto Fail = [&](int nCode, const std::string& strWhy) {
        if (pError)
            *pError = strWhy;
        if (m_nFd >= 0)
            ::close(m_nFd);
        if (m_nStopFd >= 0)
            ::close(m_nStopFd);
        m_nFd = m_nStopFd = -1;
        return nCode;
    };
    if (m_bRunning)
    {
        if (pError)
            *pError = "already running";
        return SIM_ERR_STATE;
    }
    in_addr a{};
    if (::inet_pton(AF_INET, strAddress.c_str(), &a) != 1)
        return Fail(SIM_ERR_CONFIG, "not an IPv4 address: '" + strAddress + "'");
    if (!IsLoopbackNet(a.s_addr) && !m_bAllowNonLoopback)
        return Fail(SIM_ERR_NOT_LOOPBACK, "refusing to answer discovery on non-loopback address " + strAddress);
    m_nFd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    m_nStopFd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (m_nFd < 0 || m_nStopFd < 0)
        return Fail(SIM_ERR_GENERAL, std::string("socket: ") + std::strerror(errno));
    int nOne = 1;
    ::setsockopt(m_nFd, SOL_SOCKET, SO_REUSEADDR, &nOne, sizeof nOne);
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_addr = a;
    sa.sin_port = htons(static_cast<uint16_t>(nPort));
    if (::bind(m_nFd, reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0)
        return Fail(SIM_ERR_BIND, "bind UDP " + strAddress + ":" + std::to_string(nPort) + ": " + std::strerror(errno));
    socklen_t nLen = sizeof sa;
    ::getsockname(m_nFd, reinterpret_cast<sockaddr*>(&sa), &nLen);
    m_nPort = ntohs(sa.sin_port);
    m_bStop = false;
    m_bRunning = true;
    try
    {
        m_thread = std::thread([this] { Run(); });
    }
    catch (const std::exception& e)
    {
        m_bRunning = false;
        return Fail(SIM_ERR_GENERAL, e.what());
    }
    return SIM_OK;
}

void CDiscoveryResponder::Stop()
{
    if (!m_bRunning.exchange(false))
        return;
    m_bStop = true;
    const uint64_t nOne = 1;
    if (::write(m_nStopFd, &nOne, sizeof nOne) < 0)
    {
        // the thread still sees the flag within one poll slice
    }
    if (m_thread.joinable())
        m_thread.join();
    ::close(m_nFd);
    ::close(m_nStopFd);
    m_nFd = m_nStopFd = -1;
}

void CDiscoveryResponder::Run()
{
    try
    {
        std::vector<uint8_t> vecBuf(4096);
        while (!m_bStop)
        {
            pollfd fds[2] = {{m_nFd, POLLIN, 0}, {m_nStopFd, POLLIN, 0}};
            if (::poll(fds, 2, kPollSliceMs) <= 0 || m_bStop || !(fds[0].revents & POLLIN))
                continue;
            const ssize_t n = ::recv(m_nFd, vecBuf.data(), vecBuf.size(), MSG_DONTWAIT);
            if (n <= 0)
                continue;
            uint32_t nAddress = 0;
            uint16_t nPort = 0;
            if (!ParseRequest(Bytes(vecBuf.begin(), vecBuf.begin() + n), nAddress, nPort) ||
                (!IsLoopbackNet(nAddress) && !m_bAllowNonLoopback))
            {
                ++m_nIgnored;
                continue;
            }
            ++m_nAnswered;
            sockaddr_in to{};
            to.sin_family = AF_INET;
            to.sin_addr.s_addr = nAddress;
            to.sin_port = htons(nPort);
            int nInBurst = 0;
            for (const auto& vecAnswer : m_vecAnswers)
            {
                if (m_bStop)
                    break;
                if (::sendto(m_nFd, vecAnswer.data(), vecAnswer.size(), 0, reinterpret_cast<sockaddr*>(&to),
                             sizeof to) > 0)
                    ++m_nSent;
                if (++nInBurst == kBurst)
                {
                    nInBurst = 0;
                    std::this_thread::sleep_for(std::chrono::milliseconds(1));
                }
            }
        }
    }
    catch (const std::exception&)
    {
        // nothing to report to: the thread ends and Stop joins it
    }
}
} // namespace sim
