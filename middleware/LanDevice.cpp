#include "LanDevice.h"

#include "SigPipeGuard.h"
#include "TlsClientContext.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>

#include "Configuration.h"
#include "MACMapping.h"
#include "MiddlewareCodes.h"
#include "MwTrace.h"
#include "NetAdapterList.h"
#include "SicctDevice.h"
#include "VendorFilter.h"

namespace
{
using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

constexpr int kConnectTimeoutMs = 10000;        // TCP connect and TLS handshake
constexpr int kSocketIoTimeoutMs = 10000;       // one send, one handshake read
constexpr int kListenerReadTimeoutMs = 200;     // a read after poll() said readable
constexpr int kListenerPollMs = 50;             // stop and idle checks of the listener
constexpr int kListenerIdleLimitMs = 15000;
constexpr int kDiscoveryPollMs = 50;
constexpr int kDiscoveryReadyWaitMs = 1000;
constexpr int kMaxPortBinds = 51;
constexpr int kDiscoveryReceiveBuffer = 4 * 1024 * 1024;
constexpr int kReadChunk = 4096;
constexpr const char* kLanLibraryName = "ctvnt.dll";
constexpr const char* kMappingWildcard = "ClientTerminalMapping.xml";

CNetAdapterListLinux g_defaultAdapters;

uint32_t Be32(const uint8_t* p)
{
    return static_cast<uint32_t>(p[0]) << 24 | static_cast<uint32_t>(p[1]) << 16 | static_cast<uint32_t>(p[2]) << 8 |
           p[3];
}

std::string AddressText(uint32_t nHostOrder)
{
    in_addr addr{};
    addr.s_addr = htonl(nHostOrder);
    char szText[INET_ADDRSTRLEN] = {};
    ::inet_ntop(AF_INET, &addr, szText, sizeof szText);
    return szText;
}

void SetTimeouts(int nSocket, int nReceiveMs, int nSendMs)
{
    timeval tvReceive{nReceiveMs / 1000, (nReceiveMs % 1000) * 1000};
    timeval tvSend{nSendMs / 1000, (nSendMs % 1000) * 1000};
    ::setsockopt(nSocket, SOL_SOCKET, SO_RCVTIMEO, &tvReceive, sizeof tvReceive);
    ::setsockopt(nSocket, SOL_SOCKET, SO_SNDTIMEO, &tvSend, sizeof tvSend);
}

/// Non-blocking connect bounded by nTimeoutMs; the socket is blocking again afterwards.
bool ConnectBounded(int nSocket, const sockaddr_in& addr, int nTimeoutMs)
{
    const int nFlags = ::fcntl(nSocket, F_GETFL, 0);
    ::fcntl(nSocket, F_SETFL, nFlags | O_NONBLOCK);
    int nResult = ::connect(nSocket, reinterpret_cast<const sockaddr*>(&addr), sizeof addr);
    if (nResult != 0 && errno == EINPROGRESS)
    {
        pollfd pfd{nSocket, POLLOUT, 0};
        nResult = -1;
        if (::poll(&pfd, 1, nTimeoutMs) == 1)
        {
            int nError = 0;
            socklen_t nLen = sizeof nError;
            if (::getsockopt(nSocket, SOL_SOCKET, SO_ERROR, &nError, &nLen) == 0 && nError == 0)
                nResult = 0;
            else
                errno = nError;
        }
        else
        {
            errno = ETIMEDOUT;
        }
    }
    ::fcntl(nSocket, F_SETFL, nFlags);
    return nResult == 0;
}
} // namespace

/// The open connection: socket and, for TLS, the context and session. Closing is the
/// destructor's job; the owner shuts TLS down first (under its I/O lock).
struct CLanDevice::CConnection
{
    uint32_t nAddress = 0;   // network order
    int nPort = 0;
    int nSocket = -1;
    int nProtocol = 0;
    SSL* pSsl = nullptr;
    SSL_CTX* pCtx = nullptr;

    ~CConnection()
    {
        if (pSsl != nullptr)
            SSL_free(pSsl);
        if (pCtx != nullptr)
            SSL_CTX_free(pCtx);
        if (nSocket >= 0)
            ::close(nSocket);
    }
};

CLanDevice::CLanDevice(CNetAdapterList* pAdapters)
    : m_pAdapters(pAdapters != nullptr ? pAdapters : &g_defaultAdapters)
    , m_nDiscoveryPort(mw::kSicctPort)
    , m_nDiscoveryPortStart(mw::kSicctPort)
    , m_nDiscoveryTargetPort(mw::kSicctPort)
    , m_nQuietWindowMs(3000)
    , m_nIdleLimitMs(kListenerIdleLimitMs)
    , m_nProtocol(0)
    , m_bDiscoveryEvent(false)
    , m_bLinkDown(false)
{
}

CLanDevice::~CLanDevice()
{
    KillListener();
    if (m_pSocketConn)
    {
        std::lock_guard<std::mutex> lock(m_mtxIo);
        if (m_pSocketConn->pSsl != nullptr)
        {
            tls::CSigPipeGuard guard;
            SSL_shutdown(m_pSocketConn->pSsl);
        }
        m_pSocketConn.reset();
    }
}

// ---------------------------------------------------------------------------------------
// Connection
// ---------------------------------------------------------------------------------------

bool CLanDevice::ParseConnectionString(const std::string& strConnection, std::string& strHost, int& nPort,
                                       int& nProtocol)
{
    const size_t nFirst = strConnection.find(':');
    const size_t nLast = strConnection.rfind(':');
    if (nFirst == std::string::npos)
    {
        strHost = strConnection;
        nPort = 0;
        nProtocol = 0;
        return false;
    }
    strHost = strConnection.substr(0, nFirst);
    nPort = std::atoi(strConnection.substr(nFirst + 1, nLast > nFirst ? nLast - nFirst - 1 : 0).c_str());
    nProtocol = nLast > nFirst ? std::atoi(strConnection.substr(nLast + 1).c_str()) : 0;
    return true;
}

int CLanDevice::Connect(std::string strConnection)
{
    TC_TRACE(mw::kTraceCtApi, trace::LEVEL_ENTER, "(Connect) entering", 0);
    std::string strHost;
    int nPort = 0;
    int nProtocol = 0;
    ParseConnectionString(strConnection, strHost, nPort, nProtocol);

    // A new connection replaces the old one; its listener must be gone first.
    KillListener();
    {
        std::lock_guard<std::mutex> lock(m_mtxIo);
        m_pSocketConn.reset();
    }
    {
        std::lock_guard<std::mutex> lock(m_mtxResponse);
        FreeResponseLocked();
        m_bResponseEvent = false;
        m_bLinkDown = false;
    }
    auto pConn = std::make_unique<CConnection>();
    m_nProtocol = static_cast<uint8_t>(nProtocol);

    pConn->nSocket = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, IPPROTO_TCP);
    if (pConn->nSocket < 0)
    {
        TC_TRACE(mw::kTraceCtApi, trace::LEVEL_ERROR, "Error creating Socket", errno);
        return mw::MW_ERR_GENERAL;
    }
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(static_cast<uint16_t>(nPort));
    if (::inet_pton(AF_INET, strHost.c_str(), &addr.sin_addr) != 1 || nPort <= 0 || nPort > 0xFFFF)
    {
        TC_TRACE(mw::kTraceCtApi, trace::LEVEL_ERROR, "Connect to Socket failed", EINVAL);
        return mw::MW_ERR_GENERAL;
    }
    pConn->nAddress = addr.sin_addr.s_addr;
    pConn->nPort = nPort;
    pConn->nProtocol = nProtocol;
    SetTimeouts(pConn->nSocket, kSocketIoTimeoutMs, kSocketIoTimeoutMs);
    if (!ConnectBounded(pConn->nSocket, addr, kConnectTimeoutMs))
    {
        TC_TRACE(mw::kTraceCtApi, trace::LEVEL_ERROR, "Connect to Socket failed", errno);
        return mw::MW_ERR_GENERAL;
    }
    const int nNoDelay = 1;
    ::setsockopt(pConn->nSocket, IPPROTO_TCP, TCP_NODELAY, &nNoDelay, sizeof nNoDelay);

    if (nProtocol != mw::PROTO_PLAIN)
    {
        MW_TRACEF(mw::kTraceCtApi, trace::LEVEL_INFO, 0, "Initiating SSL Connection to %s", strHost.c_str());
        OPENSSL_init_ssl(OPENSSL_INIT_LOAD_SSL_STRINGS | OPENSSL_INIT_LOAD_CRYPTO_STRINGS, nullptr);
        TC_TRACE(mw::kTraceCtApi, trace::LEVEL_INFO, "Initiated SSL Connection", 0);
    }
    if (nProtocol == mw::PROTO_PLAIN)
    {
        TC_TRACE(mw::kTraceCtApi, trace::LEVEL_INFO, "Initiating NON-SSL Connection", 0);
    }
    else if (nProtocol == mw::PROTO_TLS10_A || nProtocol == mw::PROTO_TLS10_B)
    {
        TC_TRACE(mw::kTraceCtApi, trace::LEVEL_INFO, "Initiating TLSv1_client_method", 0);
        // Terminals speak TLS 1.0 only here. No verification: the link is for maintenance of
        // a terminal the administrator chose by address.
        pConn->pCtx = tls::MakeTerminalClientContext(TLS1_VERSION).release();
        if (pConn->pCtx != nullptr)
        {
            TC_TRACE(mw::kTraceCtApi, trace::LEVEL_INFO, "Initiated TLSv1_client_method", 0);
        }
    }
    else
    {
        // Reported as a failure: a connection that cannot carry commands is no connection.
        TC_TRACE(mw::kTraceCtApi, trace::LEVEL_ERROR, "No Protocol Specified", nProtocol);
        return mw::MW_ERR_GENERAL;
    }

    if (nProtocol != mw::PROTO_PLAIN && pConn->pCtx != nullptr)
    {
        pConn->pSsl = SSL_new(pConn->pCtx);
        if (pConn->pSsl == nullptr || SSL_set_fd(pConn->pSsl, pConn->nSocket) != 1)
        {
            TC_TRACE(mw::kTraceCtApi, trace::LEVEL_ERROR, "Socket SSL error", 0);
            return mw::MW_ERR_GENERAL;
        }
        TC_TRACE(mw::kTraceCtApi, trace::LEVEL_INFO, "Connecting SSL Socket", 0);
        int nResult = 0;
        {
            tls::CSigPipeGuard guard;
            nResult = SSL_connect(pConn->pSsl);
        }
        if (nResult < 1)
        {
            TC_TRACE(mw::kTraceCtApi, trace::LEVEL_ERROR, "Error connecting SSL Socket",
                     SSL_get_error(pConn->pSsl, nResult));
            ERR_clear_error();
            return mw::MW_ERR_GENERAL;
        }
        TC_TRACE(mw::kTraceCtApi, trace::LEVEL_INFO, "SSL Socket Connection intitiated successfully", 0);
    }
    else if (nProtocol != mw::PROTO_PLAIN)
    {
        TC_TRACE(mw::kTraceCtApi, trace::LEVEL_ERROR, "Error connecting SSL Socket", 0);
        return mw::MW_ERR_GENERAL;
    }
    else
    {
        TC_TRACE(mw::kTraceCtApi, trace::LEVEL_INFO, "Socket initiated without SSL", 0);
    }
    // Reads after poll() only wait for the rest of a TLS record, briefly.
    SetTimeouts(pConn->nSocket, kListenerReadTimeoutMs, kSocketIoTimeoutMs);
    {
        std::lock_guard<std::mutex> lock(m_mtxIo);
        m_pSocketConn = std::move(pConn);
    }
    CBaseDevice::Connect(strConnection);
    TC_TRACE(mw::kTraceCtApi, trace::LEVEL_LEAVE, "(Connect) leaving", 0);
    return mw::MW_OK;
}

int CLanDevice::DisConnect()
{
    TC_TRACE(mw::kTraceCtApi, trace::LEVEL_ENTER, "(DisConnect) entering", 0);
    KillListener();
    {
        std::lock_guard<std::mutex> lock(m_mtxIo);
        if (m_pSocketConn)
        {
            if (m_pSocketConn->pSsl != nullptr)
            {
                TC_TRACE(mw::kTraceCtApi, trace::LEVEL_INFO, "Clearing SSL Socket", 0);
                tls::CSigPipeGuard guard;
                SSL_shutdown(m_pSocketConn->pSsl);
            }
            m_pSocketConn.reset();
        }
    }
    {
        std::lock_guard<std::mutex> lock(m_mtxResponse);
        FreeResponseLocked();
        m_bResponseEvent = false;
    }
    TC_TRACE(mw::kTraceCtApi, trace::LEVEL_LEAVE, "(DisConnect) leaving", 0);
    return mw::MW_OK;
}

bool CLanDevice::SendAll(const uint8_t* pData, int nLength)
{
    std::lock_guard<std::mutex> lock(m_mtxIo);
    if (!m_pSocketConn)
        return false;
    int nSent = 0;
    while (nSent < nLength)
    {
        int nResult = 0;
        if (m_nProtocol != mw::PROTO_PLAIN)
        {
            if (m_pSocketConn->pSsl == nullptr)
                return false;
            tls::CSigPipeGuard guard;
            nResult = SSL_write(m_pSocketConn->pSsl, pData + nSent, nLength - nSent);
            if (nResult <= 0)
                ERR_clear_error();
        }
        else
        {
            nResult = static_cast<int>(
                ::send(m_pSocketConn->nSocket, pData + nSent, static_cast<size_t>(nLength - nSent), MSG_NOSIGNAL));
            if (nResult < 0 && errno == EINTR)
                continue;
        }
        if (nResult <= 0)
            return false;
        nSent += nResult;
    }
    return true;
}

int CLanDevice::Write(const uint8_t* pRequest, int nLength, uint8_t* pResponse, int& nResponseLength,
                      int nTimeoutMs, int /*nFlag*/)
{
    TC_TRACE(mw::kTraceCtApi, trace::LEVEL_INFO, "Sending Data...", 0);
    if (pRequest == nullptr || nLength <= 0 || !SendAll(pRequest, nLength))
    {
        TC_TRACE("CLanDevice::Write", trace::LEVEL_ERROR, mw::StrFormat("WSAGetLastError: %d", errno).c_str(), errno);
        return mw::MW_ERR_COMM;
    }
    if (nTimeoutMs == 0)
        return mw::MW_ERR_GENERAL;

    const Clock::time_point tpDeadline = Clock::now() + milliseconds(nTimeoutMs < 0 ? 0 : nTimeoutMs);
    std::unique_lock<std::mutex> lock(m_mtxResponse);
    for (;;)
    {
        if (!WaitResponseLocked(lock, tpDeadline))
        {
            TC_TRACE(mw::kTraceCtApi, trace::LEVEL_INFO, "->timeout on wait for response", 0);
            return mw::MW_ERR_COMM;
        }
        TC_TRACE(mw::kTraceCtApi, trace::LEVEL_INFO, "->response for Command received", 0);
        if (!m_bHasResponse)
        {
            TC_TRACE(mw::kTraceCtApi, trace::LEVEL_INFO, "->connection closed", 0);
            return mw::MW_ERR_COMM;
        }
        const int nBuffered = static_cast<int>(m_vecResponse.size());
        if (nBuffered > mw::kEnvelopeHeaderSize && nLength >= 5)
        {
            uint16_t nReceivedSeq = 0;
            uint16_t nRequestSeq = 0;
            std::memcpy(&nReceivedSeq, m_vecResponse.data() + 3, sizeof nReceivedSeq);
            std::memcpy(&nRequestSeq, pRequest + 3, sizeof nRequestSeq);
            MW_TRACEF(mw::kTraceCtApi, trace::LEVEL_ERROR, 0, "->check sequence, rec: %u , req: %u", nReceivedSeq,
                      nRequestSeq);
            if (nReceivedSeq != nRequestSeq && m_vecResponse[0] != mw::MSG_EVENT)
            {
                // An answer to an earlier command: drop it and wait on for ours.
                FreeResponseLocked();
                if (m_bLinkDown)
                {
                    TC_TRACE(mw::kTraceCtApi, trace::LEVEL_INFO, "->connection closed", 0);
                    return mw::MW_ERR_COMM;
                }
                continue;
            }
        }
        int nResult = mw::MW_OK;
        if (nBuffered > mw::kEnvelopeHeaderSize && pResponse != nullptr && nResponseLength >= nBuffered)
        {
            std::memcpy(pResponse, m_vecResponse.data(), static_cast<size_t>(nBuffered));
            nResponseLength = nBuffered;
        }
        else
        {
            MW_TRACEF(mw::kTraceCtApi, trace::LEVEL_ERROR, 0, "->Response Buffer too small, %d bytes rec, buffersize = %d",
                      nBuffered, nResponseLength);
            nResult = mw::MW_ERR_BUFFER;
        }
        FreeResponseLocked();
        return nResult;
    }
}

void CLanDevice::SignalLinkDown(bool bFreeResponse)
{
    ClearRunning();
    std::lock_guard<std::mutex> lock(m_mtxResponse);
    if (bFreeResponse)
        FreeResponseLocked();
    m_bLinkDown = true;
    SignalResponseLocked();
}

void CLanDevice::HandleMessage(std::vector<uint8_t> vecMessage)
{
    CSicctDevice* pOwner = GetOwner();
    bool bDeliver = false;
    int nType = 0;
    if (pOwner != nullptr)
        nType = pOwner->CheckResponse(vecMessage.data(), static_cast<int>(vecMessage.size()), &bDeliver);
    else if (vecMessage[0] == mw::MSG_RESPONSE)
        nType = mw::MSG_RESPONSE;  // without a protocol object only responses are handed over

    if (nType == mw::MSG_EVENT)
    {
        if (vecMessage[10] == mw::EVT_KEEPALIVE && CConfiguration::HandleLanKeepalive())
        {
            const uint16_t nSequence = pOwner->NextSequenceNumber();
            const uint8_t aKeepalive[15] = {0x6B, 0x00, 0x00, static_cast<uint8_t>(nSequence >> 8),
                                            static_cast<uint8_t>(nSequence), 0x00, 0x00, 0x00, 0x00, 0x05,
                                            0x20, 0x13, 0x00, 0x81, 0x00};
            TC_TRACE(mw::kTraceCtApi, trace::LEVEL_INFO, "-> retrigger Sending Data...", 0);
            SendAll(aKeepalive, sizeof aKeepalive);
            m_optKeepaliveSequence = nSequence;
        }
        if (!bDeliver)
            return;
    }
    else if (nType == mw::MSG_RESPONSE)
    {
        TC_TRACE(mw::kTraceCtApi, trace::LEVEL_INFO, "new command response", 0);
        const uint16_t nSequence = static_cast<uint16_t>(vecMessage[3] << 8 | vecMessage[4]);
        if (m_optKeepaliveSequence && *m_optKeepaliveSequence == nSequence)
        {
            // The answer to our own keepalive command is no writer's business.
            m_optKeepaliveSequence.reset();
            return;
        }
    }
    else
    {
        // Neither event nor response (a command from the terminal, an empty event).
        TC_TRACE(mw::kTraceCtApi, trace::LEVEL_INFO, "unexpected message dropped", vecMessage[0]);
        return;
    }
    std::lock_guard<std::mutex> lock(m_mtxResponse);
    m_vecResponse = std::move(vecMessage);
    m_bHasResponse = true;
    SignalResponseLocked();
}

bool CLanDevice::CutEnvelopes(std::vector<uint8_t>& vecStream,
                              const std::function<void(std::vector<uint8_t>)>& fnMessage)
{
    size_t nStart = 0;
    bool bIntact = true;
    while (vecStream.size() - nStart >= static_cast<size_t>(mw::kEnvelopeHeaderSize))
    {
        const uint32_t nBody = Be32(vecStream.data() + nStart + 6);
        const size_t nTotal = static_cast<size_t>(nBody) + mw::kEnvelopeHeaderSize;
        if (nTotal > kMaxMessageSize)
        {
            TC_TRACE(mw::kTraceCtApi, trace::LEVEL_ERROR, "message length out of range, connection dropped", nBody);
            bIntact = false;
            break;
        }
        if (vecStream.size() - nStart < nTotal)
            break;
        const auto itBegin = vecStream.begin() + static_cast<std::ptrdiff_t>(nStart);
        fnMessage(std::vector<uint8_t>(itBegin, itBegin + static_cast<std::ptrdiff_t>(nTotal)));
        nStart += nTotal;
    }
    // One erase per read, however many envelopes it carried.
    vecStream.erase(vecStream.begin(), vecStream.begin() + static_cast<std::ptrdiff_t>(nStart));
    return bIntact;
}

int CLanDevice::ListenerThread()
{
    TC_TRACE(mw::kTraceCtApi, trace::LEVEL_ENTER, "(ListenerThread) entering", 0);
    m_optKeepaliveSequence.reset();
    int nIdleMs = 0;
    std::vector<uint8_t> vecStream;
    std::vector<uint8_t> vecChunk(kReadChunk);
    int nSocket = -1;
    SSL* pSsl = nullptr;
    {
        std::lock_guard<std::mutex> lock(m_mtxIo);
        if (m_pSocketConn)
        {
            nSocket = m_pSocketConn->nSocket;
            pSsl = m_pSocketConn->pSsl;
        }
    }
    while (IsRunning() && nSocket >= 0)
    {
        const Clock::time_point tpStart = Clock::now();
        bool bReadable = false;
        {
            std::lock_guard<std::mutex> lock(m_mtxIo);
            bReadable = pSsl != nullptr && SSL_pending(pSsl) > 0;
        }
        if (!bReadable)
        {
            pollfd aPoll[2] = {{nSocket, POLLIN, 0}, {StopEventFd(), POLLIN, 0}};
            const int nReady = ::poll(aPoll, aPoll[1].fd >= 0 ? 2 : 1, kListenerPollMs);
            bReadable = nReady > 0 && (aPoll[0].revents & (POLLIN | POLLHUP | POLLERR)) != 0;
        }
        if (!IsRunning())
            break;
        if (!bReadable)
        {
            nIdleMs += static_cast<int>(std::chrono::duration_cast<milliseconds>(Clock::now() - tpStart).count());
            if (nIdleMs > m_nIdleLimitMs)
            {
                TC_TRACE(mw::kTraceCtApi, 6, "-> Connection timeout...", nIdleMs);
                SignalLinkDown(true);
                break;
            }
            continue;
        }

        int nRead = 0;
        bool bRetry = false;
        int nError = 0;
        {
            std::lock_guard<std::mutex> lock(m_mtxIo);
            if (pSsl != nullptr)
            {
                nRead = SSL_read(pSsl, vecChunk.data(), kReadChunk);
                if (nRead <= 0)
                {
                    const int nSslError = SSL_get_error(pSsl, nRead);
                    bRetry = nSslError == SSL_ERROR_WANT_READ || nSslError == SSL_ERROR_WANT_WRITE;
                    nError = nSslError == SSL_ERROR_ZERO_RETURN ? 0 : nSslError;
                    nRead = bRetry ? 0 : (nError == 0 ? 0 : -1);
                    ERR_clear_error();
                }
            }
            else
            {
                nRead = static_cast<int>(::recv(nSocket, vecChunk.data(), kReadChunk, MSG_DONTWAIT));
                if (nRead < 0)
                {
                    nError = errno;
                    bRetry = nError == EAGAIN || nError == EWOULDBLOCK || nError == EINTR;
                }
            }
        }
        if (bRetry)
            continue;
        if (nRead == 0)
        {
            SignalLinkDown(false);
            break;
        }
        if (nRead < 0)
        {
            TC_TRACE(mw::kTraceCtApi, trace::LEVEL_ERROR, "WSAGetLastError returned with error", nError);
            SignalLinkDown(false);
            break;
        }

        nIdleMs = 0;
        TC_TRACE(mw::kTraceCtApi, trace::LEVEL_INFO, "new LAN response", nRead);
        vecStream.insert(vecStream.end(), vecChunk.begin(), vecChunk.begin() + nRead);
        // One read may carry the end of one message and the start of the next, or several
        // messages: each complete one is handled, the rest waits for more bytes.
        const bool bBroken =
            !CutEnvelopes(vecStream, [this](std::vector<uint8_t> vecMessage) { HandleMessage(std::move(vecMessage)); });
        if (bBroken)
        {
            SignalLinkDown(false);
            break;
        }
    }
    TC_TRACE(mw::kTraceCtApi, trace::LEVEL_LEAVE, "(ListenerThread) leaving", 0);
    return 0;
}

// ---------------------------------------------------------------------------------------
// Service discovery
// ---------------------------------------------------------------------------------------

std::array<uint8_t, 16> CLanDevice::BuildDiscoveryRequest(uint32_t nLocalAddressHostOrder, uint16_t nAnswerPort)
{
    return {0xA0,
            0x0E,
            0x80,
            0x02,
            0x01,
            0x14,
            0x81,
            0x04,
            static_cast<uint8_t>(nLocalAddressHostOrder >> 24),
            static_cast<uint8_t>(nLocalAddressHostOrder >> 16),
            static_cast<uint8_t>(nLocalAddressHostOrder >> 8),
            static_cast<uint8_t>(nLocalAddressHostOrder),
            0x82,
            0x02,
            static_cast<uint8_t>(nAnswerPort >> 8),
            static_cast<uint8_t>(nAnswerPort)};
}

bool CLanDevice::IsDiscoveryAnswer(const uint8_t* pData, int nLength)
{
    if (pData == nullptr || nLength < 1)
        return false;
    return pData[0] == 0xA1 || (nLength >= 2 && pData[0] == 0x80 && pData[1] == 0x02);
}

void CLanDevice::SetDiscoveryEvent()
{
    std::lock_guard<std::mutex> lock(m_mtxFound);
    m_bDiscoveryEvent = true;
    m_cvFound.notify_all();
}

bool CLanDevice::WaitDiscoveryEvent(int nTimeoutMs)
{
    std::unique_lock<std::mutex> lock(m_mtxFound);
    if (!m_cvFound.wait_for(lock, milliseconds(nTimeoutMs), [this] { return m_bDiscoveryEvent; }))
        return false;
    m_bDiscoveryEvent = false;
    return true;
}

std::vector<CDeviceInfo> CLanDevice::GetFoundDevices() const
{
    std::lock_guard<std::mutex> lock(m_mtxFound);
    return m_vecFound;
}

void CLanDevice::ClearFoundDevices()
{
    std::lock_guard<std::mutex> lock(m_mtxFound);
    m_vecFound.clear();
    m_setFoundMacs.clear();
    m_bDiscoveryEvent = false;
}

bool CLanDevice::StartDiscoveryListener()
{
    if (HasLiveListener())
        return true;
    {
        std::lock_guard<std::mutex> lock(m_mtxFound);
        m_bDiscoveryEvent = false;
    }
    if (!StartListenerThread([this] { return ListenTerminalServiceDiscovery(); }))
        return false;
    WaitDiscoveryEvent(kDiscoveryReadyWaitMs);
    TC_TRACE(mw::kTraceCtApi, trace::LEVEL_INFO, "Listener thread initialized", 0);
    return true;
}

int CLanDevice::ListenTerminalServiceDiscovery()
{
    TC_TRACE(mw::kTraceCtApi, trace::LEVEL_ENTER, "(ListenTerminalServiceDiscovery) entering", 0);
    int nSocket = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, IPPROTO_UDP);
    if (nSocket < 0)
    {
        TC_TRACE(mw::kTraceCtApi, trace::LEVEL_ERROR, "Socket could not be opened!", errno);
    }
    else
    {
        uint16_t nPort = m_nDiscoveryPortStart;
        int nFailed = 0;
        for (;;)
        {
            sockaddr_in addr{};
            addr.sin_family = AF_INET;
            addr.sin_addr.s_addr = htonl(INADDR_ANY);
            addr.sin_port = htons(nPort);
            if (::bind(nSocket, reinterpret_cast<const sockaddr*>(&addr), sizeof addr) == 0)
                break;
            ++nFailed;
            if (nFailed >= kMaxPortBinds)
            {
                ::close(nSocket);
                TC_TRACE(mw::kTraceCtApi, trace::LEVEL_ERROR, "No free Port found!", nPort);
                return -1;
            }
            nPort = static_cast<uint16_t>(nPort + nFailed);
        }
        m_nDiscoveryPort = nPort;
        // Many terminals answer within a few milliseconds: make room for all of them.
        const int nBuffer = kDiscoveryReceiveBuffer;
        if (::setsockopt(nSocket, SOL_SOCKET, SO_RCVBUFFORCE, &nBuffer, sizeof nBuffer) != 0)
            ::setsockopt(nSocket, SOL_SOCKET, SO_RCVBUF, &nBuffer, sizeof nBuffer);
    }
    TC_TRACE(mw::kTraceCtApi, trace::LEVEL_INFO, "ListenTerminalServiceDiscovery Thread Ready", m_nDiscoveryPort.load());
    SetDiscoveryEvent();

    std::vector<uint8_t> vecBuffer(mw::kDiscoveryBufferSize);
    while (IsRunning())
    {
        pollfd aPoll[2] = {{nSocket, POLLIN, 0}, {StopEventFd(), POLLIN, 0}};
        const int nReady = ::poll(aPoll, 2, kDiscoveryPollMs);
        if (nReady < 0)
        {
            if (errno == EINTR)
                continue;
            TC_TRACE(mw::kTraceCtApi, trace::LEVEL_ERROR, mw::StrFormat("WSOCK-Select failed with error %d", errno).c_str(),
                     errno);
            break;
        }
        if (nSocket < 0 || (aPoll[0].revents & POLLIN) == 0)
            continue;
        // Drain what is queued, but look at the stop flag now and then.
        for (int nBatch = 0; nBatch < 256 && IsRunning(); ++nBatch)
        {
            sockaddr_in sender{};
            socklen_t nSenderLen = sizeof sender;
            std::fill(vecBuffer.begin(), vecBuffer.end(), 0);
            const ssize_t nReceived = ::recvfrom(nSocket, vecBuffer.data(), vecBuffer.size(), 0,
                                                 reinterpret_cast<sockaddr*>(&sender), &nSenderLen);
            if (nReceived < 0)
            {
                if (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)
                    TC_TRACE(mw::kTraceCtApi, trace::LEVEL_ERROR,
                             mw::StrFormat("WSOCK-Recv failed with error %d", errno).c_str(), errno);
                break;
            }
            const int nLength = static_cast<int>(nReceived);
            TC_TRACE("", trace::LEVEL_BANNER,
                     ("-> DATA recv from " + AddressText(ntohl(sender.sin_addr.s_addr)) + ":" +
                      mw::HexBytes(vecBuffer.data(), static_cast<size_t>(nLength)))
                         .c_str(),
                     0);
            if (!IsDiscoveryAnswer(vecBuffer.data(), nLength))
                continue;
            CDeviceInfo device;
            device.SetConnectionType(mw::CONN_LAN);
            device.SetCtApiDllName(kLanLibraryName);
            if (!CSicctDevice::InterpreteServiceDiscovery(device, vecBuffer.data(), nLength))
                continue;
            const std::string strMac = device.GetMacAddress();
            if (strMac.empty() || CVendorFilter::IsExcluded(strMac))
                continue;
            std::lock_guard<std::mutex> lock(m_mtxFound);
            if (m_setFoundMacs.insert(strMac).second)
            {
                m_vecFound.push_back(device);
                m_bDiscoveryEvent = true;
                m_cvFound.notify_all();
            }
        }
    }
    if (nSocket >= 0)
        ::close(nSocket);
    TC_TRACE(mw::kTraceCtApi, trace::LEVEL_LEAVE, "(ListenTerminalServiceDiscovery) leaving", 0);
    return 0;
}

bool CLanDevice::SendDiscoveryRequest(const std::string& strTargets)
{
    std::vector<CAdapterAddress> vecAdapters;
    if (!m_pAdapters->List(vecAdapters))
    {
        TC_TRACE(mw::kTraceCtApi, trace::LEVEL_ERROR, "Error allocating memory needed to call GetAdaptersinfo", 0);
        return false;
    }
    std::vector<std::string> vecEntries;
    size_t nStart = 0;
    while (nStart < strTargets.size())
    {
        size_t nEnd = strTargets.find(';', nStart);
        if (nEnd == std::string::npos)
            nEnd = strTargets.size();
        if (nEnd > nStart)
            vecEntries.push_back(strTargets.substr(nStart, nEnd - nStart));
        nStart = nEnd + 1;
    }
    const uint16_t nAnswerPort = m_nDiscoveryPort.load();
    for (const CAdapterAddress& adapter : vecAdapters)
    {
        if (!adapter.bEthernet || !adapter.bHasHardwareAddress || adapter.nAddress == 0)
            continue;
        // One socket per local address, so that each request leaves by the adapter it names.
        const int nSocket = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, IPPROTO_UDP);
        if (nSocket < 0)
        {
            MW_TRACEF("", trace::LEVEL_BANNER, 0, "<- BROADCAST-DATA failed with error %d", errno);
            continue;
        }
        const int nOn = 1;
        ::setsockopt(nSocket, SOL_SOCKET, SO_BROADCAST, &nOn, sizeof nOn);
        sockaddr_in local{};
        local.sin_family = AF_INET;
        local.sin_addr.s_addr = htonl(adapter.nAddress);
        ::bind(nSocket, reinterpret_cast<const sockaddr*>(&local), sizeof local);
        const std::array<uint8_t, 16> aRequest = BuildDiscoveryRequest(adapter.nAddress, nAnswerPort);
        for (const std::string& strEntry : vecEntries)
        {
            in_addr target{};
            uint32_t nDestination = 0;
            if (::inet_pton(AF_INET, strEntry.c_str(), &target) == 1 && target.s_addr != INADDR_NONE)
                nDestination = ntohl(target.s_addr);
            else
                nDestination = adapter.nAddress | ~adapter.nMask;  // directed broadcast
            sockaddr_in dest{};
            dest.sin_family = AF_INET;
            dest.sin_addr.s_addr = htonl(nDestination);
            dest.sin_port = htons(m_nDiscoveryTargetPort);
            const std::string strDest = AddressText(nDestination);
            if (::sendto(nSocket, aRequest.data(), aRequest.size(), MSG_NOSIGNAL,
                         reinterpret_cast<const sockaddr*>(&dest), sizeof dest) < 0)
            {
                MW_TRACEF("", trace::LEVEL_BANNER, 0, "<- BROADCAST-DATA to %s failed with error %d", strDest.c_str(),
                          errno);
            }
            else
            {
                TC_TRACE("", trace::LEVEL_BANNER,
                         ("<- BROADCAST-DATA sent to " + strDest + ":" + mw::HexBytes(aRequest.data(), aRequest.size()))
                             .c_str(),
                         0);
            }
        }
        ::close(nSocket);
    }
    return true;
}

std::unique_ptr<CDeviceInfo> CLanDevice::GetDevice(uint32_t nAddressHostOrder)
{
    TC_TRACE(mw::kTraceCtApi, trace::LEVEL_ENTER, "(GetDevice) entering", 0);
    ClearFoundDevices();
    std::unique_ptr<CDeviceInfo> pResult;
    StartDiscoveryListener();
    const std::string strAddress = AddressText(nAddressHostOrder);
    if (SendDiscoveryRequest(strAddress + ";"))
    {
        while (!pResult)
        {
            if (!WaitDiscoveryEvent(m_nQuietWindowMs))
            {
                TC_TRACE("", trace::LEVEL_BANNER, "Timeout, no LAN device answered", 0);
                break;
            }
            for (const CDeviceInfo& found : GetFoundDevices())
            {
                if (found.GetIpAddress() == strAddress)
                {
                    TC_TRACE("", trace::LEVEL_BANNER, "LAN device found", 0);
                    pResult = std::make_unique<CDeviceInfo>(found);
                    TC_TRACE(mw::kTraceCtApi, trace::LEVEL_INFO, ("Found Device: " + found.GetLogicalName()).c_str(), 0);
                    break;
                }
            }
        }
    }
    KillListener();
    ClearFoundDevices();
    TC_TRACE(mw::kTraceCtApi, trace::LEVEL_LEAVE, "(GetDevice) leaving", 0);
    return pResult;
}

void CLanDevice::GetDevices(std::vector<CDeviceInfo*>& vecDevices)
{
    TC_TRACE(mw::kTraceCtApi, trace::LEVEL_ENTER, "(GetDevices) entering", 0);
    ClearFoundDevices();
    StartDiscoveryListener();
    std::string strTargets = "255.255.255.255;";
    CMACMapping mapping;
    mapping.AppendTerminalAddresses(strTargets);
    if (!SendDiscoveryRequest(strTargets))
    {
        KillListener();
        TC_TRACE(mw::kTraceCtApi, trace::LEVEL_LEAVE, "(GetDevices) leaving", 0);
        return;
    }
    bool bWantedFound = false;
    while (!bWantedFound)
    {
        TC_TRACE(mw::kTraceCtApi, trace::LEVEL_INFO, "waiting for answer from device", 0);
        if (!WaitDiscoveryEvent(m_nQuietWindowMs))
        {
            TC_TRACE("", trace::LEVEL_BANNER, "Timeout, no LAN device answered", 0);
            break;
        }
        TC_TRACE("", trace::LEVEL_BANNER, "new LAN device answered ", 0);
        const std::vector<CDeviceInfo> vecFound = GetFoundDevices();
        for (size_t i = 0; i < vecDevices.size() && !bWantedFound; ++i)
        {
            const CDeviceInfo* pWanted = vecDevices[i];
            if (pWanted == nullptr)
                continue;
            for (const CDeviceInfo& found : vecFound)
            {
                const bool bMatch = pWanted->GetMacAddress().empty()
                                        ? pWanted->GetName() == kMappingWildcard
                                        : pWanted->GetMacAddress() == found.GetMacAddress();
                if (bMatch)
                {
                    TC_TRACE("", trace::LEVEL_BANNER, "LAN device found", 0);
                    vecDevices.erase(vecDevices.begin() + static_cast<long>(i));
                    bWantedFound = true;
                    break;
                }
            }
        }
    }
    KillListener();
    vecDevices.clear();
    for (const CDeviceInfo& found : GetFoundDevices())
    {
        TC_TRACE(mw::kTraceCtApi, trace::LEVEL_INFO, ("Found Device: " + found.GetLogicalName()).c_str(), 0);
        vecDevices.push_back(new CDeviceInfo(found));
    }
    ClearFoundDevices();
    TC_TRACE(mw::kTraceCtApi, trace::LEVEL_LEAVE, "(GetDevices) leaving", 0);
}
