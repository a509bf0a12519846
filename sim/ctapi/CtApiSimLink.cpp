#include "CtApiSimLink.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <utility>

namespace ctapisim
{
namespace
{
constexpr size_t HEADER_SIZE = 10;
constexpr uint8_t TYPE_COMMAND = 0x6B;
constexpr uint8_t TYPE_RESPONSE = 0x83;
// A SICCT body is at most an extended response (65536 data bytes and the status word);
// anything announcing more means the stream is out of step.
constexpr uint32_t MAX_BODY = 65538;
constexpr int CONNECT_TIMEOUT_MS = 5000;

using Clock = std::chrono::steady_clock;

int RemainingMs(Clock::time_point tEnd)
{
    const auto n = std::chrono::duration_cast<std::chrono::milliseconds>(tEnd - Clock::now()).count();
    return n > 0 ? static_cast<int>(n) : 0;
}
} // namespace

CCtApiSimLink::CCtApiSimLink(SSimConfig config)
    : m_config(std::move(config)), m_vecFaultHits(m_config.vecFaults.size(), 0)
{
}

CCtApiSimLink::~CCtApiSimLink()
{
    const int nSocket = m_nSocket.exchange(-1);
    if (nSocket >= 0)
        ::close(nSocket);
}

int CCtApiSimLink::Connect()
{
    if (m_config.nPort == 0)
        return CTAPI_ERR_INVALID;
    sockaddr_storage addr{};
    socklen_t nAddrLen = 0;
    auto* p4 = reinterpret_cast<sockaddr_in*>(&addr);
    auto* p6 = reinterpret_cast<sockaddr_in6*>(&addr);
    if (inet_pton(AF_INET, m_config.strHost.c_str(), &p4->sin_addr) == 1)
    {
        p4->sin_family = AF_INET;
        p4->sin_port = htons(m_config.nPort);
        nAddrLen = sizeof(sockaddr_in);
    }
    else if (inet_pton(AF_INET6, m_config.strHost.c_str(), &p6->sin6_addr) == 1)
    {
        p6->sin6_family = AF_INET6;
        p6->sin6_port = htons(m_config.nPort);
        nAddrLen = sizeof(sockaddr_in6);
    }
    else
        return CTAPI_ERR_INVALID;

    const int nSocket = ::socket(addr.ss_family, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (nSocket < 0)
        return CTAPI_ERR_TRANS;
    int nRc = ::connect(nSocket, reinterpret_cast<sockaddr*>(&addr), nAddrLen);
    if (nRc != 0 && errno == EINPROGRESS)
    {
        pollfd pfd{nSocket, POLLOUT, 0};
        if (::poll(&pfd, 1, CONNECT_TIMEOUT_MS) == 1)
        {
            int nErr = 0;
            socklen_t nLen = sizeof(nErr);
            ::getsockopt(nSocket, SOL_SOCKET, SO_ERROR, &nErr, &nLen);
            nRc = nErr == 0 ? 0 : -1;
        }
    }
    if (nRc != 0)
    {
        ::close(nSocket);
        return CTAPI_ERR_TRANS;
    }
    const int nOne = 1;
    ::setsockopt(nSocket, IPPROTO_TCP, TCP_NODELAY, &nOne, sizeof(nOne));
    const int nOld = m_nSocket.exchange(nSocket);
    if (nOld >= 0)
        ::close(nOld);
    return CTAPI_OK;
}

void CCtApiSimLink::Disconnect()
{
    const int nSocket = m_nSocket.load();
    if (nSocket >= 0)
        ::shutdown(nSocket, SHUT_RDWR);
}

bool CCtApiSimLink::SendAll(const std::vector<uint8_t>& vecData)
{
    const auto tEnd = Clock::now() + std::chrono::milliseconds(m_config.nTimeoutMs);
    size_t nDone = 0;
    while (nDone < vecData.size())
    {
        const ssize_t n = ::send(m_nSocket.load(), vecData.data() + nDone, vecData.size() - nDone, MSG_NOSIGNAL);
        if (n > 0)
        {
            nDone += static_cast<size_t>(n);
            continue;
        }
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR))
        {
            pollfd pfd{m_nSocket.load(), POLLOUT, 0};
            const int nWait = RemainingMs(tEnd);
            if (nWait == 0 || ::poll(&pfd, 1, nWait) < 0)
                return false;
            continue;
        }
        return false;
    }
    return true;
}

bool CCtApiSimLink::ReceiveExact(uint8_t* pBuf, size_t nLength, int nTimeoutMs)
{
    const auto tEnd = Clock::now() + std::chrono::milliseconds(nTimeoutMs);
    size_t nDone = 0;
    while (nDone < nLength)
    {
        const ssize_t n = ::recv(m_nSocket.load(), pBuf + nDone, nLength - nDone, 0);
        if (n > 0)
        {
            nDone += static_cast<size_t>(n);
            continue;
        }
        if (n == 0)
            return false; // terminal closed the connection
        if (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)
            return false;
        pollfd pfd{m_nSocket.load(), POLLIN, 0};
        const int nWait = RemainingMs(tEnd);
        if (nWait == 0 || ::poll(&pfd, 1, nWait) < 0)
            return false;
    }
    return true;
}

int CCtApiSimLink::Exchange(uint16_t nAddress, const uint8_t* pCommand, size_t nLength,
                            std::vector<uint8_t>& vecResponse)
{
    std::lock_guard<std::mutex> lock(m_mtxIo);
    if (m_nSocket.load() < 0)
        return CTAPI_ERR_TRANS;
    const uint16_t nSequence = m_nSequence++;
    std::vector<uint8_t> vecEnvelope = {TYPE_COMMAND,
                                        static_cast<uint8_t>(nAddress >> 8),
                                        static_cast<uint8_t>(nAddress),
                                        static_cast<uint8_t>(nSequence >> 8),
                                        static_cast<uint8_t>(nSequence),
                                        0x00,
                                        static_cast<uint8_t>(nLength >> 24),
                                        static_cast<uint8_t>(nLength >> 16),
                                        static_cast<uint8_t>(nLength >> 8),
                                        static_cast<uint8_t>(nLength)};
    vecEnvelope.insert(vecEnvelope.end(), pCommand, pCommand + nLength);
    if (!SendAll(vecEnvelope))
        return CTAPI_ERR_TRANS;

    // Events (keepalive, card in/out) may arrive before the answer; the first response
    // envelope is the answer, as a CT-API caller has no other way to receive anything.
    const auto tEnd = Clock::now() + std::chrono::milliseconds(m_config.nTimeoutMs);
    for (;;)
    {
        uint8_t aHeader[HEADER_SIZE];
        if (!ReceiveExact(aHeader, HEADER_SIZE, RemainingMs(tEnd)))
            return CTAPI_ERR_TRANS;
        const uint32_t nBody = (uint32_t(aHeader[6]) << 24) | (uint32_t(aHeader[7]) << 16) |
                               (uint32_t(aHeader[8]) << 8) | aHeader[9];
        if (nBody > MAX_BODY)
            return CTAPI_ERR_TRANS;
        std::vector<uint8_t> vecBody(nBody);
        if (nBody > 0 && !ReceiveExact(vecBody.data(), nBody, RemainingMs(tEnd)))
            return CTAPI_ERR_TRANS;
        if (aHeader[0] == TYPE_RESPONSE)
        {
            vecResponse = std::move(vecBody);
            return CTAPI_OK;
        }
    }
}

const SFaultRule* CCtApiSimLink::MatchFault(SFaultRule::ECall eCall, const uint8_t* pCommand, size_t nLength)
{
    std::lock_guard<std::mutex> lock(m_mtxFaults);
    for (size_t i = 0; i < m_config.vecFaults.size(); ++i)
    {
        const SFaultRule& rule = m_config.vecFaults[i];
        if (rule.eCall != eCall)
            continue;
        if (!rule.vecPrefix.empty() &&
            (nLength < rule.vecPrefix.size() || std::memcmp(pCommand, rule.vecPrefix.data(), rule.vecPrefix.size()) != 0))
            continue;
        const int nHit = ++m_vecFaultHits[i];
        if (rule.nOccurrence != 0 && nHit != rule.nOccurrence)
            continue;
        return &rule;
    }
    return nullptr;
}
} // namespace ctapisim
