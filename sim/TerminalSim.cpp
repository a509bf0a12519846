#include "TerminalSim.h"

#include "SimCertificate.h"
#include "SimWire.h"
#include "TerminalLogic.h"

#include <openssl/err.h>
#include <openssl/pem.h>
#include <openssl/ssl.h>

#include <arpa/inet.h>
#include <cerrno>
#include <condition_variable>
#include <cstring>
#include <fcntl.h>
#include <list>
#include <mutex>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

namespace sim
{
namespace
{
constexpr int kPollSliceMs = 50;
constexpr int kMaxConnections = 16;
constexpr int kHandshakeLimitMs = 10000;
// The largest body a terminal of this kind takes; anything larger is a broken stream.
constexpr uint32_t kMaxBodyLength = 1u << 20;

template <auto Fn> struct Deleter
{
    template <class T> void operator()(T* p) const { Fn(p); }
};
using SslCtxPtr = std::unique_ptr<SSL_CTX, Deleter<SSL_CTX_free>>;
using SslPtr = std::unique_ptr<SSL, Deleter<SSL_free>>;

using Clock = std::chrono::steady_clock;

std::string OpenSslErrors()
{
    std::string s;
    unsigned long e = 0;
    char buf[256];
    while ((e = ERR_get_error()) != 0)
    {
        ERR_error_string_n(e, buf, sizeof buf);
        if (!s.empty())
            s += "; ";
        s += buf;
    }
    return s;
}

bool IsLoopback(const in_addr& a) { return (ntohl(a.s_addr) >> 24) == 127; }
} // namespace

/// One accepted connection and its thread.
struct SimConnection
{
    int nId = 0;
    int nFd = -1;
    int nWakeFd = -1; // eventfd: queued events or stop
    SslPtr pSsl;
    std::thread thread;
    std::atomic<bool> bDone{false};
    std::vector<Bytes> vecPendingEvents; // guarded by the simulator's lock
    ConnectionState state;               // touched by the connection's thread only
    int nCommandIndex = 0;

    ~SimConnection()
    {
        if (nFd >= 0)
            ::close(nFd);
        if (nWakeFd >= 0)
            ::close(nWakeFd);
    }
};

class CTerminalSim::CImpl
{
public:
    explicit CImpl(TerminalConfig config) : m_config(std::move(config)), m_logic(m_config, m_rec)
    {
        m_vecFaultCounts.assign(m_config.vecFaults.size(), 0);
    }

    int Start(std::string* pError);
    void Stop();

    // state shared with the public operations
    mutable std::mutex m_mutex;
    mutable std::condition_variable m_cv;
    TerminalConfig m_config;
    SimRecording m_rec;
    CTerminalLogic m_logic;
    std::vector<int> m_vecFaultCounts;
    std::vector<ScriptStep> m_vecScript;
    size_t m_nScriptPos = 0;
    std::vector<std::string> m_vecScriptMismatches;
    std::list<std::unique_ptr<SimConnection>> m_listConns;
    int m_nActive = 0;
    uint16_t m_nEventSequence = 0;
    bool m_bAllowNonLoopback = false;
    std::string m_strCertPem;
    uint16_t m_nPort = 0;

    std::atomic<bool> m_bRunning{false};
    std::atomic<bool> m_bStop{false};

    int QueueEvent(const Bytes& vecBody);
    void Log(const std::string& strLine); // caller holds m_mutex

private:
    void AcceptLoop();
    void ServeConnection(SimConnection& conn);
    bool Handshake(SimConnection& conn);
    bool WriteAll(SimConnection& conn, const uint8_t* pData, size_t nLen);
    bool WriteAll(SimConnection& conn, const Bytes& v) { return WriteAll(conn, v.data(), v.size()); }
    int ReadSome(SimConnection& conn, uint8_t* pBuf, size_t nCap); // >0 bytes, 0 closed, -1 nothing yet, -2 error
    bool SendEvent(SimConnection& conn, const Bytes& vecBody);
    bool HandleEnvelope(SimConnection& conn, const Bytes& vecEnvelope);
    bool SleepInterruptible(int nMs);
    std::optional<FaultRule> MatchFault(const wire::Apdu& apdu, int nCommandIndex);
    std::optional<FaultRule> PlayScript(const Bytes& vecApdu);
    void ReapFinished();

    int m_nListenFd = -1;
    int m_nStopFd = -1;
    SslCtxPtr m_pCtx;
    std::thread m_acceptThread;
    int m_nNextConnId = 0;
};

void CTerminalSim::CImpl::Log(const std::string& strLine)
{
    if (m_rec.vecLog.size() < 1000)
        m_rec.vecLog.push_back(strLine);
}

int CTerminalSim::CImpl::Start(std::string* pError)
{
    std::string strError;
    auto Fail = [&](int nCode, const std::string& strWhy) {
        if (pError)
            *pError = strWhy;
        if (m_nListenFd >= 0)
            ::close(m_nListenFd);
        if (m_nStopFd >= 0)
            ::close(m_nStopFd);
        m_nListenFd = m_nStopFd = -1;
        m_pCtx.reset();
        return nCode;
    };
    if (m_bRunning)
    {
        // not through Fail: that would close the running listener
        if (pError)
            *pError = "already running";
        return SIM_ERR_STATE;
    }
    ETransport eTransport = ETransport::Plain;
    in_addr addr{};
    {
        std::lock_guard lock(m_mutex);
        if (!TransportFromProtocolCode(m_config.nProtocolCode, eTransport))
            return Fail(SIM_ERR_CONFIG, "unknown protocol code " + std::to_string(m_config.nProtocolCode));
        if (::inet_pton(AF_INET, m_config.strAddress.c_str(), &addr) != 1)
            return Fail(SIM_ERR_CONFIG, "not an IPv4 address: '" + m_config.strAddress + "'");
        if (!IsLoopback(addr) && !m_bAllowNonLoopback)
            return Fail(SIM_ERR_NOT_LOOPBACK, "refusing to listen on non-loopback address " + m_config.strAddress);
    }

    if (eTransport != ETransport::Plain)
    {
        std::string strKeyPem, strCertPem;
        TerminalConfig cfg = m_config;
        const int nCert = MakeSelfSignedCertificate(cfg.eKeyType, cfg.strName, cfg.strNotBefore, cfg.strNotAfter,
                                                    strKeyPem, strCertPem, strError);
        if (nCert != SIM_OK)
            return Fail(nCert, strError);
        m_pCtx.reset(SSL_CTX_new(TLS_server_method()));
        if (!m_pCtx)
            return Fail(SIM_ERR_TLS, "SSL_CTX_new: " + OpenSslErrors());
        const int nVersion = eTransport == ETransport::Tls10   ? TLS1_VERSION
                             : eTransport == ETransport::Tls11 ? TLS1_1_VERSION
                                                               : TLS1_2_VERSION;
        // Exactly the announced version, as the terminal offers no other.
        SSL_CTX_set_min_proto_version(m_pCtx.get(), nVersion);
        SSL_CTX_set_max_proto_version(m_pCtx.get(), nVersion);
        if (eTransport != ETransport::Tls12)
        {
            // OpenSSL 3 refuses the SHA-1 handshake signatures of TLS 1.0/1.1 above level 0.
            SSL_CTX_set_security_level(m_pCtx.get(), 0);
            SSL_CTX_set_cipher_list(m_pCtx.get(), "DEFAULT:@SECLEVEL=0");
        }
        SSL_CTX_set1_groups_list(m_pCtx.get(),
                                 "X25519:P-256:P-384:P-521:brainpoolP256r1:brainpoolP384r1:brainpoolP512r1");
        SSL_CTX_set_mode(m_pCtx.get(), SSL_MODE_ACCEPT_MOVING_WRITE_BUFFER);
        BIO* pKeyBio = BIO_new_mem_buf(strKeyPem.data(), static_cast<int>(strKeyPem.size()));
        BIO* pCertBio = BIO_new_mem_buf(strCertPem.data(), static_cast<int>(strCertPem.size()));
        EVP_PKEY* pKey = pKeyBio ? PEM_read_bio_PrivateKey(pKeyBio, nullptr, nullptr, nullptr) : nullptr;
        X509* pCert = pCertBio ? PEM_read_bio_X509(pCertBio, nullptr, nullptr, nullptr) : nullptr;
        const bool bOk = pKey && pCert && SSL_CTX_use_certificate(m_pCtx.get(), pCert) == 1 &&
                         SSL_CTX_use_PrivateKey(m_pCtx.get(), pKey) == 1;
        EVP_PKEY_free(pKey);
        X509_free(pCert);
        BIO_free(pKeyBio);
        BIO_free(pCertBio);
        if (!bOk)
            return Fail(SIM_ERR_TLS, "loading key and certificate: " + OpenSslErrors());
        std::lock_guard lock(m_mutex);
        m_strCertPem = strCertPem;
    }

    m_nListenFd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    m_nStopFd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (m_nListenFd < 0 || m_nStopFd < 0)
        return Fail(SIM_ERR_GENERAL, std::string("socket: ") + std::strerror(errno));
    int nOne = 1;
    ::setsockopt(m_nListenFd, SOL_SOCKET, SO_REUSEADDR, &nOne, sizeof nOne);
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_addr = addr;
    sa.sin_port = htons(static_cast<uint16_t>(m_config.nPort));
    if (::bind(m_nListenFd, reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0 || ::listen(m_nListenFd, 16) != 0)
        return Fail(SIM_ERR_BIND, "bind " + m_config.strAddress + ":" + std::to_string(m_config.nPort) + ": " +
                                      std::strerror(errno));
    socklen_t nLen = sizeof sa;
    ::getsockname(m_nListenFd, reinterpret_cast<sockaddr*>(&sa), &nLen);
    ::fcntl(m_nListenFd, F_SETFL, O_NONBLOCK);
    {
        std::lock_guard lock(m_mutex);
        m_nPort = ntohs(sa.sin_port);
    }
    m_bStop = false;
    m_bRunning = true;
    try
    {
        m_acceptThread = std::thread([this] { AcceptLoop(); });
    }
    catch (const std::exception& e)
    {
        m_bRunning = false;
        return Fail(SIM_ERR_GENERAL, e.what());
    }
    return SIM_OK;
}

void CTerminalSim::CImpl::Stop()
{
    if (!m_bRunning.exchange(false))
        return;
    m_bStop = true;
    const uint64_t nOne = 1;
    if (::write(m_nStopFd, &nOne, sizeof nOne) < 0)
    {
        // the accept thread still notices the flag at its next poll slice
    }
    {
        std::lock_guard lock(m_mutex);
        for (auto& p : m_listConns)
            if (::write(p->nWakeFd, &nOne, sizeof nOne) < 0)
            {
            }
    }
    m_cv.notify_all();
    // Every loop below looks at m_bStop at least every kPollSliceMs, so these joins are bounded.
    if (m_acceptThread.joinable())
        m_acceptThread.join();
    std::list<std::unique_ptr<SimConnection>> listConns;
    {
        std::lock_guard lock(m_mutex);
        listConns.swap(m_listConns);
    }
    for (auto& p : listConns)
        if (p->thread.joinable())
            p->thread.join();
    listConns.clear();
    ::close(m_nListenFd);
    ::close(m_nStopFd);
    m_nListenFd = m_nStopFd = -1;
    m_pCtx.reset();
    std::lock_guard lock(m_mutex);
    m_nActive = 0;
    m_cv.notify_all();
}

void CTerminalSim::CImpl::ReapFinished()
{
    std::list<std::unique_ptr<SimConnection>> listDone;
    {
        std::lock_guard lock(m_mutex);
        for (auto it = m_listConns.begin(); it != m_listConns.end();)
        {
            if ((*it)->bDone)
            {
                listDone.push_back(std::move(*it));
                it = m_listConns.erase(it);
            }
            else
                ++it;
        }
    }
    for (auto& p : listDone)
        if (p->thread.joinable())
            p->thread.join(); // the thread has already left its function
}

void CTerminalSim::CImpl::AcceptLoop()
{
    try
    {
        while (!m_bStop)
        {
            ReapFinished();
            pollfd fds[2] = {{m_nListenFd, POLLIN, 0}, {m_nStopFd, POLLIN, 0}};
            const int nReady = ::poll(fds, 2, kPollSliceMs);
            if (nReady <= 0 || m_bStop || !(fds[0].revents & POLLIN))
                continue;
            const int nFd = ::accept4(m_nListenFd, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
            if (nFd < 0)
                continue;
            int nOne = 1;
            // Each write leaves as its own segment, which the split-answer fault depends on.
            ::setsockopt(nFd, IPPROTO_TCP, TCP_NODELAY, &nOne, sizeof nOne);
            auto pConn = std::make_unique<SimConnection>();
            pConn->nFd = nFd;
            pConn->nWakeFd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
            std::lock_guard lock(m_mutex);
            if (static_cast<int>(m_listConns.size()) >= kMaxConnections || pConn->nWakeFd < 0)
            {
                Log("connection refused: too many connections");
                continue; // the destructor closes the socket
            }
            pConn->nId = ++m_nNextConnId;
            ++m_nActive;
            SimConnection* pRaw = pConn.get();
            m_listConns.push_back(std::move(pConn));
            try
            {
                pRaw->thread = std::thread([this, pRaw] { ServeConnection(*pRaw); });
            }
            catch (const std::exception& e)
            {
                Log(std::string("connection thread: ") + e.what());
                pRaw->bDone = true;
                --m_nActive;
            }
        }
    }
    catch (const std::exception& e)
    {
        std::lock_guard lock(m_mutex);
        Log(std::string("accept loop ended: ") + e.what());
    }
}

bool CTerminalSim::CImpl::SleepInterruptible(int nMs)
{
    std::unique_lock lock(m_mutex);
    return !m_cv.wait_for(lock, std::chrono::milliseconds(nMs), [this] { return m_bStop.load(); });
}

bool CTerminalSim::CImpl::Handshake(SimConnection& conn)
{
    conn.pSsl.reset(SSL_new(m_pCtx.get()));
    if (!conn.pSsl || SSL_set_fd(conn.pSsl.get(), conn.nFd) != 1)
        return false;
    const auto tEnd = Clock::now() + std::chrono::milliseconds(kHandshakeLimitMs);
    while (!m_bStop && Clock::now() < tEnd)
    {
        ERR_clear_error();
        const int n = SSL_accept(conn.pSsl.get());
        if (n == 1)
            return true;
        const int nErr = SSL_get_error(conn.pSsl.get(), n);
        if (nErr != SSL_ERROR_WANT_READ && nErr != SSL_ERROR_WANT_WRITE)
        {
            std::lock_guard lock(m_mutex);
            Log("TLS handshake failed on connection " + std::to_string(conn.nId) + ": " + OpenSslErrors());
            return false;
        }
        pollfd pfd{conn.nFd, static_cast<short>(nErr == SSL_ERROR_WANT_READ ? POLLIN : POLLOUT), 0};
        ::poll(&pfd, 1, kPollSliceMs);
    }
    std::lock_guard lock(m_mutex);
    Log("TLS handshake timed out on connection " + std::to_string(conn.nId));
    return false;
}

bool CTerminalSim::CImpl::WriteAll(SimConnection& conn, const uint8_t* pData, size_t nLen)
{
    size_t nDone = 0;
    const auto tEnd = Clock::now() + std::chrono::seconds(10);
    while (nDone < nLen)
    {
        if (m_bStop || Clock::now() > tEnd)
            return false;
        short nWait = POLLOUT;
        if (conn.pSsl)
        {
            ERR_clear_error();
            const int n = SSL_write(conn.pSsl.get(), pData + nDone, static_cast<int>(nLen - nDone));
            if (n > 0)
            {
                nDone += static_cast<size_t>(n);
                continue;
            }
            const int nErr = SSL_get_error(conn.pSsl.get(), n);
            if (nErr == SSL_ERROR_WANT_READ)
                nWait = POLLIN;
            else if (nErr != SSL_ERROR_WANT_WRITE)
                return false;
        }
        else
        {
            const ssize_t n = ::send(conn.nFd, pData + nDone, nLen - nDone, MSG_NOSIGNAL);
            if (n > 0)
            {
                nDone += static_cast<size_t>(n);
                continue;
            }
            if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)
                return false;
        }
        pollfd pfd{conn.nFd, nWait, 0};
        ::poll(&pfd, 1, kPollSliceMs);
    }
    return true;
}

int CTerminalSim::CImpl::ReadSome(SimConnection& conn, uint8_t* pBuf, size_t nCap)
{
    if (conn.pSsl)
    {
        ERR_clear_error();
        const int n = SSL_read(conn.pSsl.get(), pBuf, static_cast<int>(nCap));
        if (n > 0)
            return n;
        const int nErr = SSL_get_error(conn.pSsl.get(), n);
        if (nErr == SSL_ERROR_WANT_READ || nErr == SSL_ERROR_WANT_WRITE)
            return -1;
        return nErr == SSL_ERROR_ZERO_RETURN ? 0 : -2;
    }
    const ssize_t n = ::recv(conn.nFd, pBuf, nCap, 0);
    if (n > 0)
        return static_cast<int>(n);
    if (n == 0)
        return 0;
    return (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR) ? -1 : -2;
}

bool CTerminalSim::CImpl::SendEvent(SimConnection& conn, const Bytes& vecBody)
{
    uint16_t nSeq = 0;
    {
        std::lock_guard lock(m_mutex);
        nSeq = m_nEventSequence++;
        ++m_rec.stats.nEventsSent;
    }
    return WriteAll(conn, wire::BuildEnvelope(wire::kTypeEvent, 0x0000, nSeq, vecBody));
}

int CTerminalSim::CImpl::QueueEvent(const Bytes& vecBody)
{
    std::lock_guard lock(m_mutex);
    int nCount = 0;
    const uint64_t nOne = 1;
    for (auto& p : m_listConns)
    {
        if (p->bDone)
            continue;
        p->vecPendingEvents.push_back(vecBody);
        if (::write(p->nWakeFd, &nOne, sizeof nOne) < 0)
        {
            // the connection still sends the event at its next poll slice
        }
        ++nCount;
    }
    return nCount;
}

void CTerminalSim::CImpl::ServeConnection(SimConnection& conn)
{
    try
    {
        bool bOk = true;
        if (m_pCtx)
        {
            bOk = Handshake(conn);
            if (!bOk)
            {
                std::lock_guard lock(m_mutex);
                ++m_rec.stats.nHandshakeFailures;
            }
        }
        int nKeepaliveMs = 0;
        if (bOk)
        {
            std::lock_guard lock(m_mutex);
            ++m_rec.stats.nConnections;
            nKeepaliveMs = m_config.nKeepaliveIntervalMs;
        }
        Bytes vecRx;
        std::vector<uint8_t> vecChunk(16384);
        auto tNextKeepalive = Clock::now() + std::chrono::milliseconds(nKeepaliveMs);
        while (bOk && !m_bStop)
        {
            // TLS may hold decrypted bytes that poll cannot see.
            if (!(conn.pSsl && SSL_pending(conn.pSsl.get()) > 0))
            {
                pollfd fds[2] = {{conn.nFd, POLLIN, 0}, {conn.nWakeFd, POLLIN, 0}};
                ::poll(fds, 2, kPollSliceMs);
                if (fds[1].revents & POLLIN)
                {
                    uint64_t nDummy = 0;
                    if (::read(conn.nWakeFd, &nDummy, sizeof nDummy) < 0)
                    {
                    }
                }
            }
            if (m_bStop)
                break;
            std::vector<Bytes> vecEvents;
            {
                std::lock_guard lock(m_mutex);
                vecEvents.swap(conn.vecPendingEvents);
            }
            for (const auto& ev : vecEvents)
                bOk = bOk && SendEvent(conn, ev);
            if (nKeepaliveMs > 0 && Clock::now() >= tNextKeepalive)
            {
                bOk = bOk && SendEvent(conn, {wire::kEventKeepalive, 0x00});
                tNextKeepalive = Clock::now() + std::chrono::milliseconds(nKeepaliveMs);
            }
            const int n = ReadSome(conn, vecChunk.data(), vecChunk.size());
            if (n == -1)
                continue;
            if (n <= 0)
                break; // closed by the host or broken
            vecRx.insert(vecRx.end(), vecChunk.begin(), vecChunk.begin() + n);
            // Take every complete envelope out of the stream.
            while (bOk && vecRx.size() >= wire::kHeaderSize)
            {
                const wire::Header h = wire::ParseHeader(vecRx.data());
                if (h.nBodyLength > kMaxBodyLength)
                {
                    std::lock_guard lock(m_mutex);
                    ++m_rec.stats.nMalformed;
                    Log("connection " + std::to_string(conn.nId) + ": body length " + std::to_string(h.nBodyLength) +
                        " is impossible; closing");
                    bOk = false;
                    break;
                }
                const size_t nTotal = wire::kHeaderSize + h.nBodyLength;
                if (vecRx.size() < nTotal)
                    break;
                Bytes vecEnvelope(vecRx.begin(), vecRx.begin() + static_cast<std::ptrdiff_t>(nTotal));
                vecRx.erase(vecRx.begin(), vecRx.begin() + static_cast<std::ptrdiff_t>(nTotal));
                bOk = HandleEnvelope(conn, vecEnvelope);
            }
        }
        if (conn.pSsl && bOk)
        {
            SSL_shutdown(conn.pSsl.get());
        }
    }
    catch (const std::exception& e)
    {
        std::lock_guard lock(m_mutex);
        Log(std::string("connection thread: ") + e.what());
    }
    ::shutdown(conn.nFd, SHUT_RDWR);
    {
        std::lock_guard lock(m_mutex);
        --m_nActive;
    }
    conn.bDone = true;
    m_cv.notify_all();
}

std::optional<FaultRule> CTerminalSim::CImpl::MatchFault(const wire::Apdu& a, int nCommandIndex)
{
    // caller holds m_mutex
    auto& vecRules = m_config.vecFaults;
    if (m_vecFaultCounts.size() != vecRules.size())
        m_vecFaultCounts.assign(vecRules.size(), 0);
    for (size_t i = 0; i < vecRules.size(); ++i)
    {
        const FaultRule& r = vecRules[i];
        if ((r.nCla >= 0 && r.nCla != a.nCla) || (r.nIns >= 0 && r.nIns != a.nIns) ||
            (r.nP1 >= 0 && r.nP1 != a.nP1) || (r.nP2 >= 0 && r.nP2 != a.nP2) ||
            (r.nCommandIndex >= 0 && r.nCommandIndex != nCommandIndex))
            continue;
        const int nCount = ++m_vecFaultCounts[i];
        if (r.nOccurrence > 0 && nCount != r.nOccurrence)
            continue;
        if (r.nFromOccurrence > 0 && nCount < r.nFromOccurrence)
            continue;
        return r;
    }
    return std::nullopt;
}

std::optional<FaultRule> CTerminalSim::CImpl::PlayScript(const Bytes& vecApdu)
{
    // caller holds m_mutex
    const size_t nStep = m_nScriptPos++;
    if (nStep >= m_vecScript.size())
    {
        m_vecScriptMismatches.push_back("step " + std::to_string(nStep) + ": beyond the script, received " +
                                        wire::ToHex(vecApdu));
        return std::nullopt;
    }
    const ScriptStep& step = m_vecScript[nStep];
    if (!step.vecExpected.empty() && step.vecExpected != vecApdu)
        m_vecScriptMismatches.push_back("step " + std::to_string(nStep) + ": expected " +
                                        wire::ToHex(step.vecExpected) + ", received " + wire::ToHex(vecApdu));
    FaultRule f = step.fault;
    if (step.optAnswer)
        f.optBody = step.optAnswer;
    return f;
}

bool CTerminalSim::CImpl::HandleEnvelope(SimConnection& conn, const Bytes& vecEnvelope)
{
    const wire::Header h = wire::ParseHeader(vecEnvelope.data());
    const Bytes vecBody(vecEnvelope.begin() + wire::kHeaderSize, vecEnvelope.end());
    wire::Apdu apdu;
    std::optional<FaultRule> optFault;
    Bytes vecAnswer;
    bool bNotCommand = false;
    {
        std::lock_guard lock(m_mutex);
        m_rec.vecReceived.push_back({conn.nId, vecEnvelope});
        bNotCommand = h.nType != wire::kTypeCommand;
        if (bNotCommand)
        {
            ++m_rec.stats.nMalformed;
            Log("connection " + std::to_string(conn.nId) + ": message type " + std::to_string(h.nType) +
                " is not a command: " + wire::ToHex(vecEnvelope));
        }
    }
    if (bNotCommand)
    {
        m_cv.notify_all();
        // A terminal answers what it cannot read with a protocol-error event and carries on.
        return SendEvent(conn, {wire::kEventProtocolError, 0x01, 0x11});
    }
    {
        std::lock_guard lock(m_mutex);
        ++m_rec.stats.nCommands;
        const int nIndex = conn.nCommandIndex++;
        if (!wire::ParseApdu(vecBody, apdu))
        {
            Log("connection " + std::to_string(conn.nId) + ": unusable APDU " + wire::ToHex(vecBody));
            vecAnswer = StatusOnly(0x6700);
        }
        else
        {
            optFault = m_vecScript.empty() ? MatchFault(apdu, nIndex) : PlayScript(vecBody);
            const bool bProcess = !optFault || optFault->eKind == EFaultKind::Answer ||
                                  optFault->eKind == EFaultKind::DropAfter || optFault->eKind == EFaultKind::Malformed;
            if (bProcess)
                vecAnswer = m_logic.Handle(apdu, h.nAddress, conn.state);
        }
        m_cv.notify_all();
    }
    if (!optFault)
        return WriteAll(conn, wire::BuildEnvelope(wire::kTypeResponse, h.nAddress, h.nSequence, vecAnswer));

    const FaultRule& f = *optFault;
    for (const auto& ev : f.vecEventsBefore)
        if (!SendEvent(conn, ev))
            return false;
    if (f.nDelayMs > 0 && !SleepInterruptible(f.nDelayMs))
        return false;
    switch (f.eKind)
    {
    case EFaultKind::Silence:
        return true;
    case EFaultKind::Drop:
    {
        std::lock_guard lock(m_mutex);
        Log("connection " + std::to_string(conn.nId) + ": dropped by fault rule");
        return false;
    }
    case EFaultKind::SignOff:
        return SendEvent(conn, {wire::kEventSignOff, 0x00});
    default:
        break;
    }
    if (f.optBody)
        vecAnswer = *f.optBody;
    if (f.nOversizeBytes > 0 && vecAnswer.size() >= 2)
    {
        const Bytes vecSw(vecAnswer.end() - 2, vecAnswer.end());
        vecAnswer.resize(vecAnswer.size() - 2);
        // filler that reads as a run of data, not as a status word
        while (vecAnswer.size() < static_cast<size_t>(f.nOversizeBytes))
            vecAnswer.push_back(static_cast<uint8_t>(vecAnswer.size() & 0x7F));
        vecAnswer.insert(vecAnswer.end(), vecSw.begin(), vecSw.end());
    }
    if (f.nStatusWord >= 0)
    {
        if (vecAnswer.size() < 2)
            vecAnswer.resize(2);
        vecAnswer[vecAnswer.size() - 2] = static_cast<uint8_t>((f.nStatusWord >> 8) & 0xFF);
        vecAnswer[vecAnswer.size() - 1] = static_cast<uint8_t>(f.nStatusWord & 0xFF);
    }
    const auto nSeq = static_cast<uint16_t>(h.nSequence + f.nSequenceDelta);
    Bytes vecOut = wire::BuildEnvelope(wire::kTypeResponse, h.nAddress, nSeq, vecAnswer);
    if (f.eKind == EFaultKind::Malformed)
    {
        switch (f.eMalformed)
        {
        case EMalformed::BadType:
            vecOut[0] = 0x99;
            break;
        case EMalformed::ShortHeader:
            vecOut.resize(6);
            break;
        case EMalformed::LengthTooBig:
            vecOut = wire::BuildEnvelope(wire::kTypeResponse, h.nAddress, nSeq, Bytes{0x90, 0x00});
            vecOut[6] = 0x00;
            vecOut[7] = 0x00;
            vecOut[8] = 0x03;
            vecOut[9] = 0xE8; // announces 1000 body bytes
            break;
        case EMalformed::ZeroLength:
            vecOut = wire::BuildEnvelope(wire::kTypeResponse, h.nAddress, nSeq, Bytes{});
            break;
        case EMalformed::HugeLength:
            vecOut = wire::BuildEnvelope(wire::kTypeResponse, h.nAddress, nSeq, Bytes{0x90, 0x00});
            vecOut[6] = vecOut[7] = vecOut[8] = vecOut[9] = 0xFF;
            break;
        }
    }
    if (f.nSplitParts > 1 && vecOut.size() > 1)
    {
        const size_t nParts = std::min(static_cast<size_t>(f.nSplitParts), vecOut.size());
        // The first part ends inside the header, so a reader must assemble even the header.
        std::vector<size_t> vecCuts;
        vecCuts.push_back(0);
        vecCuts.push_back(std::min<size_t>(3, vecOut.size() - (nParts - 1)));
        for (size_t k = 2; k < nParts; ++k)
        {
            const size_t nRest = vecOut.size() - vecCuts.back();
            vecCuts.push_back(vecCuts.back() + nRest / (nParts - k + 1));
        }
        vecCuts.push_back(vecOut.size());
        for (size_t k = 0; k + 1 < vecCuts.size(); ++k)
        {
            if (k > 0 && !SleepInterruptible(f.nSplitGapMs))
                return false;
            if (!WriteAll(conn, vecOut.data() + vecCuts[k], vecCuts[k + 1] - vecCuts[k]))
                return false;
        }
    }
    else if (!WriteAll(conn, vecOut))
        return false;
    return f.eKind != EFaultKind::DropAfter;
}

// ---------------------------------------------------------------- public operations

CTerminalSim::CTerminalSim(TerminalConfig config) : m_pImpl(std::make_unique<CImpl>(std::move(config))) {}

CTerminalSim::~CTerminalSim() { Stop(); }

int CTerminalSim::Start(std::string* pError) { return m_pImpl->Start(pError); }

void CTerminalSim::Stop() { m_pImpl->Stop(); }

bool CTerminalSim::IsRunning() const { return m_pImpl->m_bRunning; }

uint16_t CTerminalSim::GetPort() const
{
    std::lock_guard lock(m_pImpl->m_mutex);
    return m_pImpl->m_nPort;
}

std::string CTerminalSim::GetAddress() const
{
    std::lock_guard lock(m_pImpl->m_mutex);
    return m_pImpl->m_config.strAddress;
}

int CTerminalSim::GetProtocolCode() const
{
    std::lock_guard lock(m_pImpl->m_mutex);
    return m_pImpl->m_config.nProtocolCode;
}

TerminalConfig CTerminalSim::GetConfig() const
{
    std::lock_guard lock(m_pImpl->m_mutex);
    return m_pImpl->m_config;
}

void CTerminalSim::AllowNonLoopback(bool bAllow)
{
    std::lock_guard lock(m_pImpl->m_mutex);
    m_pImpl->m_bAllowNonLoopback = bAllow;
}

void CTerminalSim::SetFaults(std::vector<FaultRule> vecRules)
{
    std::lock_guard lock(m_pImpl->m_mutex);
    m_pImpl->m_config.vecFaults = std::move(vecRules);
    m_pImpl->m_vecFaultCounts.assign(m_pImpl->m_config.vecFaults.size(), 0);
}

void CTerminalSim::AddFault(FaultRule rule)
{
    std::lock_guard lock(m_pImpl->m_mutex);
    m_pImpl->m_config.vecFaults.push_back(std::move(rule));
    m_pImpl->m_vecFaultCounts.push_back(0);
}

void CTerminalSim::ClearFaults() { SetFaults({}); }

void CTerminalSim::SetScript(std::vector<ScriptStep> vecSteps)
{
    std::lock_guard lock(m_pImpl->m_mutex);
    m_pImpl->m_vecScript = std::move(vecSteps);
    m_pImpl->m_nScriptPos = 0;
    m_pImpl->m_vecScriptMismatches.clear();
}

std::vector<std::string> CTerminalSim::GetScriptMismatches() const
{
    std::lock_guard lock(m_pImpl->m_mutex);
    return m_pImpl->m_vecScriptMismatches;
}

bool CTerminalSim::IsScriptDone() const
{
    std::lock_guard lock(m_pImpl->m_mutex);
    return m_pImpl->m_nScriptPos >= m_pImpl->m_vecScript.size();
}

void CTerminalSim::SetSignatureOk(bool bOk)
{
    std::lock_guard lock(m_pImpl->m_mutex);
    m_pImpl->m_config.bSignatureOk = bOk;
}

void CTerminalSim::SetMaxPacketSize(int nBytes, EPacketSizeLayout eLayout)
{
    std::lock_guard lock(m_pImpl->m_mutex);
    m_pImpl->m_config.nMaxPacketSize = nBytes;
    m_pImpl->m_config.ePacketSizeLayout = eLayout;
}

void CTerminalSim::SetCredentials(const std::string& strUser, const std::string& strPassword)
{
    std::lock_guard lock(m_pImpl->m_mutex);
    m_pImpl->m_config.strUser = strUser;
    m_pImpl->m_config.strPassword = strPassword;
}

bool CTerminalSim::SetCardPresent(uint8_t nNumber, bool bPresent, bool bSendEvent)
{
    {
        std::lock_guard lock(m_pImpl->m_mutex);
        UnitConfig* pSlot = nullptr;
        for (auto& u : m_pImpl->m_config.vecUnits)
            if (u.nType < 0x10 && u.nNumber == nNumber)
                pSlot = &u;
        if (!pSlot)
            return false;
        pSlot->bCardPresent = bPresent;
        pSlot->bPowered = false; // a card just inserted or taken out is not powered
    }
    if (bSendEvent)
        m_pImpl->QueueEvent({bPresent ? wire::kEventCardInserted : wire::kEventCardRemoved, 0x01, nNumber});
    return true;
}

int CTerminalSim::SendEvent(const Bytes& vecBody) { return m_pImpl->QueueEvent(vecBody); }
int CTerminalSim::SendKeepalive() { return m_pImpl->QueueEvent({wire::kEventKeepalive, 0x00}); }
int CTerminalSim::SendSignOff() { return m_pImpl->QueueEvent({wire::kEventSignOff, 0x00}); }
int CTerminalSim::SendProtocolError(uint8_t nDetail)
{
    return m_pImpl->QueueEvent({wire::kEventProtocolError, 0x01, nDetail});
}

std::vector<ReceivedEnvelope> CTerminalSim::GetReceived() const
{
    std::lock_guard lock(m_pImpl->m_mutex);
    return m_pImpl->m_rec.vecReceived;
}

std::vector<Bytes> CTerminalSim::GetReceivedApdus() const
{
    std::lock_guard lock(m_pImpl->m_mutex);
    std::vector<Bytes> vec;
    for (const auto& r : m_pImpl->m_rec.vecReceived)
        if (r.vecBytes.size() >= wire::kHeaderSize)
            vec.emplace_back(r.vecBytes.begin() + wire::kHeaderSize, r.vecBytes.end());
    return vec;
}

Bytes CTerminalSim::GetDownloadImage() const
{
    std::lock_guard lock(m_pImpl->m_mutex);
    return m_pImpl->m_rec.vecDownloadImage;
}

std::vector<int> CTerminalSim::GetDownloadPacketSizes() const
{
    std::lock_guard lock(m_pImpl->m_mutex);
    return m_pImpl->m_rec.vecPacketSizes;
}

Bytes CTerminalSim::GetCertificateList() const
{
    std::lock_guard lock(m_pImpl->m_mutex);
    return m_pImpl->m_rec.vecCertificateList;
}

std::vector<Bytes> CTerminalSim::GetDisplayOutputs() const
{
    std::lock_guard lock(m_pImpl->m_mutex);
    return m_pImpl->m_rec.vecDisplayOutputs;
}

std::vector<Bytes> CTerminalSim::GetClosedSessionIds() const
{
    std::lock_guard lock(m_pImpl->m_mutex);
    return m_pImpl->m_rec.vecClosedSessionIds;
}

std::vector<std::string> CTerminalSim::GetLoginAttempts() const
{
    std::lock_guard lock(m_pImpl->m_mutex);
    return m_pImpl->m_rec.vecLoginAttempts;
}

SimStats CTerminalSim::GetStats() const
{
    std::lock_guard lock(m_pImpl->m_mutex);
    return m_pImpl->m_rec.stats;
}

std::vector<std::string> CTerminalSim::GetLog() const
{
    std::lock_guard lock(m_pImpl->m_mutex);
    return m_pImpl->m_rec.vecLog;
}

void CTerminalSim::ClearRecording()
{
    std::lock_guard lock(m_pImpl->m_mutex);
    m_pImpl->m_rec = SimRecording{};
}

bool CTerminalSim::WaitForCommands(int nCount, int nTimeoutMs) const
{
    std::unique_lock lock(m_pImpl->m_mutex);
    return m_pImpl->m_cv.wait_for(lock, std::chrono::milliseconds(nTimeoutMs),
                                  [&] { return m_pImpl->m_rec.stats.nCommands >= nCount; });
}

bool CTerminalSim::WaitForIdle(int nTimeoutMs) const
{
    std::unique_lock lock(m_pImpl->m_mutex);
    return m_pImpl->m_cv.wait_for(lock, std::chrono::milliseconds(nTimeoutMs),
                                  [&] { return m_pImpl->m_nActive == 0; });
}

std::string CTerminalSim::GetCertificatePem() const
{
    std::lock_guard lock(m_pImpl->m_mutex);
    return m_pImpl->m_strCertPem;
}

} // namespace sim
