#pragma once
// A deliberately small host for the simulator tests: a plain or TLS socket on loopback that
// writes bytes exactly as given and reads whole envelopes with a time limit. It knows
// nothing of the project's own client, so the tests check the simulator against bytes
// written by hand.

#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>

#include <arpa/inet.h>
#include <chrono>
#include <cstdint>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <string>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

namespace simtest
{
using Bytes = std::vector<uint8_t>;

class CTestClient
{
public:
    ~CTestClient() { Close(); }

    /// nTlsVersion 0 = plain, else TLS1_VERSION / TLS1_1_VERSION / TLS1_2_VERSION.
    bool Connect(uint16_t nPort, int nTlsVersion = 0, const char* pszGroups = nullptr)
    {
        m_nFd = ::socket(AF_INET, SOCK_STREAM, 0);
        if (m_nFd < 0)
            return false;
        sockaddr_in sa{};
        sa.sin_family = AF_INET;
        sa.sin_port = htons(nPort);
        sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (::connect(m_nFd, reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0)
            return false;
        timeval tv{5, 0}; // no test waits forever on a broken handshake
        ::setsockopt(m_nFd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
        int nOne = 1;
        ::setsockopt(m_nFd, IPPROTO_TCP, TCP_NODELAY, &nOne, sizeof nOne);
        if (nTlsVersion == 0)
            return true;
        m_pCtx = SSL_CTX_new(TLS_client_method());
        SSL_CTX_set_min_proto_version(m_pCtx, nTlsVersion);
        SSL_CTX_set_max_proto_version(m_pCtx, nTlsVersion);
        SSL_CTX_set_security_level(m_pCtx, 0);
        SSL_CTX_set_verify(m_pCtx, SSL_VERIFY_NONE, nullptr);
        if (pszGroups)
            SSL_CTX_set1_groups_list(m_pCtx, pszGroups);
        m_pSsl = SSL_new(m_pCtx);
        SSL_set_fd(m_pSsl, m_nFd);
        if (SSL_connect(m_pSsl) != 1)
        {
            ERR_clear_error();
            return false;
        }
        return true;
    }

    std::string TlsVersion() const { return m_pSsl ? SSL_get_version(m_pSsl) : ""; }

    /// notBefore and notAfter of the peer certificate as "YYYYMMDDHHMMSSZ".
    bool PeerDates(std::string& strBefore, std::string& strAfter) const
    {
        X509* pCert = m_pSsl ? SSL_get1_peer_certificate(m_pSsl) : nullptr;
        if (!pCert)
            return false;
        auto Text = [](const ASN1_TIME* t) {
            tm v{};
            ASN1_TIME_to_tm(t, &v);
            char buf[32];
            std::strftime(buf, sizeof buf, "%Y%m%d%H%M%SZ", &v);
            return std::string(buf);
        };
        strBefore = Text(X509_get0_notBefore(pCert));
        strAfter = Text(X509_get0_notAfter(pCert));
        X509_free(pCert);
        return true;
    }

    bool Send(const Bytes& v)
    {
        if (m_pSsl)
            return SSL_write(m_pSsl, v.data(), static_cast<int>(v.size())) == static_cast<int>(v.size());
        return ::send(m_nFd, v.data(), v.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(v.size());
    }

    /// One read of whatever arrives within nTimeoutMs: >0 bytes, 0 closed, -1 nothing.
    int ReadChunk(Bytes& vecOut, int nTimeoutMs)
    {
        if (!(m_pSsl && SSL_pending(m_pSsl) > 0))
        {
            pollfd pfd{m_nFd, POLLIN, 0};
            if (::poll(&pfd, 1, nTimeoutMs) <= 0)
                return -1;
        }
        uint8_t buf[65536];
        const int n = m_pSsl ? SSL_read(m_pSsl, buf, sizeof buf) : static_cast<int>(::recv(m_nFd, buf, sizeof buf, 0));
        if (n > 0)
            vecOut.insert(vecOut.end(), buf, buf + n);
        return n > 0 ? n : 0;
    }

    /// Reads one whole envelope (header + body) within nTimeoutMs; empty on time-out or close.
    /// Also counts the reads it needed (for the split-segment tests).
    Bytes ReadEnvelope(int nTimeoutMs = 3000)
    {
        const auto tEnd = std::chrono::steady_clock::now() + std::chrono::milliseconds(nTimeoutMs);
        m_nReads = 0;
        m_vecReadSizes.clear();
        while (true)
        {
            if (m_vecRx.size() >= 10)
            {
                const size_t nBody = (size_t(m_vecRx[6]) << 24) | (size_t(m_vecRx[7]) << 16) |
                                     (size_t(m_vecRx[8]) << 8) | m_vecRx[9];
                if (m_vecRx.size() >= 10 + nBody)
                {
                    Bytes v(m_vecRx.begin(), m_vecRx.begin() + static_cast<std::ptrdiff_t>(10 + nBody));
                    m_vecRx.erase(m_vecRx.begin(), m_vecRx.begin() + static_cast<std::ptrdiff_t>(10 + nBody));
                    return v;
                }
            }
            const auto nLeft = std::chrono::duration_cast<std::chrono::milliseconds>(
                                   tEnd - std::chrono::steady_clock::now())
                                   .count();
            if (nLeft <= 0)
                return {};
            const size_t nBefore = m_vecRx.size();
            const int n = ReadChunk(m_vecRx, static_cast<int>(nLeft));
            if (n == 0)
            {
                m_bClosed = true;
                return {};
            }
            if (n > 0)
            {
                ++m_nReads;
                m_vecReadSizes.push_back(static_cast<int>(m_vecRx.size() - nBefore));
            }
        }
    }

    /// Sends a command envelope with this body and returns the answer envelope.
    Bytes Exchange(const Bytes& vecBody, uint16_t nSeq = 0, int nTimeoutMs = 3000)
    {
        if (!Send(Envelope(0x6B, nSeq, vecBody)))
            return {};
        return ReadEnvelope(nTimeoutMs);
    }

    /// True when the peer closed the connection within nTimeoutMs.
    bool WaitClosed(int nTimeoutMs)
    {
        const auto tEnd = std::chrono::steady_clock::now() + std::chrono::milliseconds(nTimeoutMs);
        while (std::chrono::steady_clock::now() < tEnd)
        {
            Bytes v;
            const int n = ReadChunk(v, 50);
            if (n == 0)
                return true;
        }
        return false;
    }

    void Close()
    {
        if (m_pSsl)
            SSL_free(m_pSsl);
        if (m_pCtx)
            SSL_CTX_free(m_pCtx);
        if (m_nFd >= 0)
            ::close(m_nFd);
        m_pSsl = nullptr;
        m_pCtx = nullptr;
        m_nFd = -1;
    }

    static Bytes Envelope(uint8_t nType, uint16_t nSeq, const Bytes& vecBody, uint16_t nAddress = 0)
    {
        const auto n = static_cast<uint32_t>(vecBody.size());
        Bytes v = {nType,
                   uint8_t(nAddress >> 8),
                   uint8_t(nAddress),
                   uint8_t(nSeq >> 8),
                   uint8_t(nSeq),
                   0x00,
                   uint8_t(n >> 24),
                   uint8_t(n >> 16),
                   uint8_t(n >> 8),
                   uint8_t(n)};
        v.insert(v.end(), vecBody.begin(), vecBody.end());
        return v;
    }

    static Bytes Body(const Bytes& vecEnvelope)
    {
        return vecEnvelope.size() < 10 ? Bytes{} : Bytes(vecEnvelope.begin() + 10, vecEnvelope.end());
    }

    int m_nReads = 0;
    std::vector<int> m_vecReadSizes;
    bool m_bClosed = false;

private:
    int m_nFd = -1;
    SSL_CTX* m_pCtx = nullptr;
    SSL* m_pSsl = nullptr;
    Bytes m_vecRx;
};

} // namespace simtest
