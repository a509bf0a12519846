#include "SocketConn.h"

#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <openssl/err.h>
#include <openssl/ssl.h>

#include <csignal>
#include <mutex>

#include "TlsClientContext.h"
#include "Trace.h"

namespace
{
constexpr const char* kTrace = "SICCT";

struct SSslFree
{
    void operator()(SSL* p) const { SSL_free(p); }
};

using Clock = std::chrono::steady_clock;

int RemainingMs(Clock::time_point tEnd)
{
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(tEnd - Clock::now()).count();
    return ms > 0 ? static_cast<int>(ms) : 0;
}

/// errno to the codes the user sees in text 125.
int SocketErrorCode(int nErrno)
{
    switch (nErrno)
    {
    case EBADF:
    case ENOTSOCK: return CSocketConn::ERR_NOT_SOCKET;
    case ECONNABORTED: return CSocketConn::ERR_CONN_ABORTED;
    case ECONNRESET:
    case EPIPE: return CSocketConn::ERR_CONN_RESET;
    default: return nErrno;
    }
}

/// Waits for one poll condition on the socket within nTimeoutMs; true when it is met.
bool PollFor(int nSocket, short nEvents, int nTimeoutMs)
{
    pollfd pfd{nSocket, nEvents, 0};
    for (;;)
    {
        const int n = ::poll(&pfd, 1, nTimeoutMs);
        if (n < 0 && errno == EINTR)
            continue;
        return n > 0;
    }
}
} // namespace

struct CSocketConn::STls
{
    tls::CtxPtr pCtx;
    std::unique_ptr<SSL, SSslFree> pSsl;
};

CSocketConn::CSocketConn()
{
    // OpenSSL writes to the socket with write() (alerts, close_notify, records), which raises
    // SIGPIPE when the terminal has hung up and would end the whole program. A broken link is
    // reported through the return codes instead, so the signal is ignored once per process.
    static std::once_flag s_once;
    std::call_once(s_once, [] { std::signal(SIGPIPE, SIG_IGN); });
}

CSocketConn::~CSocketConn()
{
    m_pTls.reset();
    Close();
    if (m_nWakeFd >= 0)
        ::close(m_nWakeFd);
    if (m_nSignalFd >= 0)
        ::close(m_nSignalFd);
}

bool CSocketConn::Create()
{
    m_nSocket = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (m_nSocket < 0)
        return false;
    m_nWakeFd = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    m_nSignalFd = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    if (m_nWakeFd < 0 || m_nSignalFd < 0)
    {
        Close();
        return false;
    }
    // Commands are small and answered one by one: do not hold them back.
    const int nOne = 1;
    ::setsockopt(m_nSocket, IPPROTO_TCP, TCP_NODELAY, &nOne, sizeof(nOne));
    return true;
}

bool CSocketConn::ConnectTcp(const std::string& strAddress, uint16_t nPort, int nTimeoutMs)
{
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(nPort);
    if (m_nSocket < 0 || ::inet_pton(AF_INET, strAddress.c_str(), &addr.sin_addr) != 1)
        return false;
    if (::connect(m_nSocket, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)) == 0)
        return true;
    if (errno != EINPROGRESS)
    {
        m_nLastError = SocketErrorCode(errno);
        return false;
    }
    if (!PollFor(m_nSocket, POLLOUT, nTimeoutMs))
        return false;
    int nErr = 0;
    socklen_t nLen = sizeof(nErr);
    if (::getsockopt(m_nSocket, SOL_SOCKET, SO_ERROR, &nErr, &nLen) != 0 || nErr != 0)
    {
        m_nLastError = SocketErrorCode(nErr);
        return false;
    }
    return true;
}

CSocketConn::ETls CSocketConn::StartTls(int nProtocol, int nTimeoutMs)
{
    int nVersion = 0;
    switch (nProtocol)
    {
    case 0x10:
    case 0x11: nVersion = TLS1_VERSION; break;
    case 0x20: nVersion = TLS1_1_VERSION; break;
    case 0x30: nVersion = TLS1_2_VERSION; break;
    default: return TLS_FAILED;
    }

    // Exactly the version the terminal announced, no negotiation up or down.
    tls::CtxPtr pCtx = tls::MakeTerminalClientContext(nVersion);
    if (!pCtx)
        return TLS_NO_CONTEXT;

    auto pTls = std::make_unique<STls>();
    pTls->pCtx = std::move(pCtx);
    pTls->pSsl.reset(SSL_new(pTls->pCtx.get()));
    if (!pTls->pSsl)
        return TLS_BIND_FAILED;
    SSL* pSsl = pTls->pSsl.get();
    if (SSL_set_fd(pSsl, m_nSocket) != 1)
        return TLS_BIND_FAILED;
    m_pTls = std::move(pTls);

    const auto tEnd = Clock::now() + std::chrono::milliseconds(nTimeoutMs);
    for (;;)
    {
        int nResult = 0;
        int nError = 0;
        {
            std::lock_guard lock(m_mutexTls);
            ERR_clear_error();
            nResult = SSL_connect(pSsl);
            nError = nResult > 0 ? SSL_ERROR_NONE : SSL_get_error(pSsl, nResult);
        }
        if (nResult == 1)
            return TLS_OK;
        short nEvents = 0;
        if (nError == SSL_ERROR_WANT_READ)
            nEvents = POLLIN;
        else if (nError == SSL_ERROR_WANT_WRITE)
            nEvents = POLLOUT;
        if (nEvents == 0)
        {
            TC_TRACE(kTrace, trace::LEVEL_ERROR, "TLS handshake failed", static_cast<uint32_t>(ERR_peek_last_error()));
            return nResult == 0 ? TLS_SHUTDOWN : TLS_FAILED;
        }
        const int nLeft = RemainingMs(tEnd);
        if (nLeft == 0 || !PollFor(m_nSocket, nEvents, nLeft))
        {
            TC_TRACE(kTrace, trace::LEVEL_ERROR, "TLS handshake timed out", nTimeoutMs);
            return TLS_FAILED;
        }
    }
}

CSocketConn::EWait CSocketConn::WaitReadable(int nTimeoutMs, bool bForSignal)
{
    if (m_pTls)
    {
        std::lock_guard lock(m_mutexTls);
        if (SSL_pending(m_pTls->pSsl.get()) > 0)
            return WAIT_READABLE;
    }
    pollfd afd[2] = {{m_nSocket, POLLIN, 0}, {bForSignal ? m_nSignalFd : m_nWakeFd, POLLIN, 0}};
    const auto tEnd = Clock::now() + std::chrono::milliseconds(nTimeoutMs);
    for (;;)
    {
        const int n = ::poll(afd, 2, RemainingMs(tEnd));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return WAIT_ERROR;
        if (n == 0)
            return WAIT_TIMEOUT;
        if (afd[1].revents != 0)
            return bForSignal ? WAIT_SIGNALLED : WAIT_WOKEN;
        return WAIT_READABLE;  // also hang-up and error: the read tells which
    }
}

bool CSocketConn::WaitWake(int nTimeoutMs)
{
    pollfd pfd{m_nWakeFd, POLLIN, 0};
    const auto tEnd = Clock::now() + std::chrono::milliseconds(nTimeoutMs);
    for (;;)
    {
        const int n = ::poll(&pfd, 1, RemainingMs(tEnd));
        if (n < 0 && errno == EINTR)
            continue;
        return n > 0;
    }
}

int CSocketConn::Read(uint8_t* pBuf, size_t nSize)
{
    if (m_pTls)
    {
        std::lock_guard lock(m_mutexTls);
        ERR_clear_error();
        errno = 0;
        const int n = SSL_read(m_pTls->pSsl.get(), pBuf, static_cast<int>(nSize));
        if (n > 0)
            return n;
        const int nError = SSL_get_error(m_pTls->pSsl.get(), n);
        switch (nError)
        {
        case SSL_ERROR_WANT_READ:
        case SSL_ERROR_WANT_WRITE: return READ_AGAIN;
        case SSL_ERROR_ZERO_RETURN: return READ_CLOSED;
        case SSL_ERROR_SYSCALL:
            if (errno == 0)
                return READ_CLOSED;  // end of stream without close alert
            m_nLastError = SocketErrorCode(errno);
            return READ_ERROR;
        default:
            // A broken TLS record stream cannot be resumed.
            m_nLastError = ERR_CONN_ABORTED;
            return READ_ERROR;
        }
    }
    for (;;)
    {
        const ssize_t n = ::recv(m_nSocket, pBuf, nSize, 0);
        if (n > 0)
            return static_cast<int>(n);
        if (n == 0)
            return READ_CLOSED;
        if (errno == EINTR)
            continue;
        if (errno == EAGAIN || errno == EWOULDBLOCK)
            return READ_AGAIN;
        m_nLastError = SocketErrorCode(errno);
        return READ_ERROR;
    }
}

size_t CSocketConn::Write(const uint8_t* pData, size_t nLength, int nTimeoutMs)
{
    const auto tEnd = Clock::now() + std::chrono::milliseconds(nTimeoutMs);
    size_t nDone = 0;
    while (nDone < nLength)
    {
        short nEvents = POLLOUT;
        if (m_pTls)
        {
            int nResult = 0;
            int nError = 0;
            {
                std::lock_guard lock(m_mutexTls);
                ERR_clear_error();
                errno = 0;
                nResult = SSL_write(m_pTls->pSsl.get(), pData + nDone, static_cast<int>(nLength - nDone));
                nError = nResult > 0 ? SSL_ERROR_NONE : SSL_get_error(m_pTls->pSsl.get(), nResult);
            }
            if (nResult > 0)
            {
                nDone += static_cast<size_t>(nResult);
                continue;
            }
            if (nError == SSL_ERROR_WANT_READ)
                nEvents = POLLIN;
            else if (nError != SSL_ERROR_WANT_WRITE)
            {
                m_nLastError = (nError == SSL_ERROR_SYSCALL && errno != 0) ? SocketErrorCode(errno) : ERR_CONN_ABORTED;
                return 0;
            }
        }
        else
        {
            const ssize_t n = ::send(m_nSocket, pData + nDone, nLength - nDone, MSG_NOSIGNAL);
            if (n > 0)
            {
                nDone += static_cast<size_t>(n);
                continue;
            }
            if (n < 0 && errno == EINTR)
                continue;
            if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK)
            {
                m_nLastError = SocketErrorCode(errno);
                return 0;
            }
        }
        const int nLeft = RemainingMs(tEnd);
        if (nLeft == 0 || !PollFor(m_nSocket, nEvents, nLeft))
        {
            m_nLastError = ETIMEDOUT;
            return 0;
        }
    }
    return nDone;
}

void CSocketConn::Wake()
{
    if (m_nWakeFd >= 0)
    {
        const uint64_t nOne = 1;
        [[maybe_unused]] const auto n = ::write(m_nWakeFd, &nOne, sizeof(nOne));
    }
}

void CSocketConn::Signal()
{
    if (m_nSignalFd >= 0)
    {
        const uint64_t nOne = 1;
        [[maybe_unused]] const auto n = ::write(m_nSignalFd, &nOne, sizeof(nOne));
    }
}

void CSocketConn::ClearSignal()
{
    if (m_nSignalFd >= 0)
    {
        uint64_t nValue = 0;
        [[maybe_unused]] const auto n = ::read(m_nSignalFd, &nValue, sizeof(nValue));
    }
}

void CSocketConn::ShutdownTls()
{
    if (!m_pTls)
        return;
    {
        std::lock_guard lock(m_mutexTls);
        // One call sends our close alert; the peer's answer is not awaited.
        SSL_shutdown(m_pTls->pSsl.get());
    }
    m_pTls.reset();
}

void CSocketConn::Close()
{
    if (m_nSocket >= 0)
    {
        ::close(m_nSocket);
        m_nSocket = -1;
    }
}
