// The certificate validity reader against TLS servers on loopback: the terminal simulator
// with chosen dates and key types, and a minimal server in the test whose certificate is
// made here with the OpenSSL C API. The clock is a fake, so "now" is chosen too.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <openssl/evp.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>

#include <memory>
#include <thread>

#include "CertValidity.h"
#include "FakeClock.h"
#include "RecordingSink.h"
#include "RunTrace.h"
#include "TerminalSim.h"

using Trace = std::vector<std::string>;

namespace
{
int64_t UnixOf(int nYear, int nMonth, int nDay, int nHour, int nMin, int nSec)
{
    std::tm tm{};
    tm.tm_year = nYear - 1900;
    tm.tm_mon = nMonth - 1;
    tm.tm_mday = nDay;
    tm.tm_hour = nHour;
    tm.tm_min = nMin;
    tm.tm_sec = nSec;
    return static_cast<int64_t>(timegm(&tm));
}

/// A one-connection TLS 1.2 server on 127.0.0.1 with a certificate made from chosen dates.
class CDateServer
{
public:
    CDateServer(const char* pszNotBefore, const char* pszNotAfter)
    {
        m_pKey.reset(EVP_RSA_gen(2048));
        m_pCert.reset(X509_new());
        X509* x = m_pCert.get();
        X509_set_version(x, 2);
        ASN1_INTEGER_set(X509_get_serialNumber(x), 7);
        std::unique_ptr<ASN1_TIME, decltype(&ASN1_TIME_free)> pFrom(ASN1_TIME_new(), ASN1_TIME_free);
        std::unique_ptr<ASN1_TIME, decltype(&ASN1_TIME_free)> pTo(ASN1_TIME_new(), ASN1_TIME_free);
        m_bOk = ASN1_TIME_set_string_X509(pFrom.get(), pszNotBefore) == 1 &&
                ASN1_TIME_set_string_X509(pTo.get(), pszNotAfter) == 1 && X509_set1_notBefore(x, pFrom.get()) == 1 &&
                X509_set1_notAfter(x, pTo.get()) == 1;
        X509_NAME* pName = X509_get_subject_name(x);
        X509_NAME_add_entry_by_txt(pName, "CN", MBSTRING_ASC, reinterpret_cast<const unsigned char*>("gSMC-KT"), -1,
                                   -1, 0);
        X509_set_issuer_name(x, pName);
        X509_set_pubkey(x, m_pKey.get());
        m_bOk = m_bOk && X509_sign(x, m_pKey.get(), EVP_sha256()) > 0;

        m_nListen = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t nLen = sizeof(addr);
        m_bOk = m_bOk && ::bind(m_nListen, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)) == 0 &&
                ::listen(m_nListen, 1) == 0 && ::getsockname(m_nListen, reinterpret_cast<sockaddr*>(&addr), &nLen) == 0;
        m_nPort = ntohs(addr.sin_port);
        if (m_bOk)
            m_thread = std::thread([this] { Serve(); });
    }
    ~CDateServer()
    {
        m_bStop = true;
        if (m_thread.joinable())
            m_thread.join();
        ::close(m_nListen);
    }
    bool Ok() const { return m_bOk; }
    uint16_t Port() const { return m_nPort; }

private:
    void Serve()
    {
        // At most 10 s for one client; the stop flag is looked at every 50 ms.
        pollfd pfd{m_nListen, POLLIN, 0};
        for (int i = 0; i < 200 && !m_bStop; ++i)
            if (::poll(&pfd, 1, 50) > 0)
                break;
        if (m_bStop || (pfd.revents & POLLIN) == 0)
            return;
        const int nFd = ::accept(m_nListen, nullptr, nullptr);
        if (nFd < 0)
            return;
        timeval tv{5, 0};
        ::setsockopt(nFd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof(tv));
        ::setsockopt(nFd, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof(tv));
        SSL_CTX* pCtx = SSL_CTX_new(TLS_server_method());
        SSL_CTX_use_certificate(pCtx, m_pCert.get());
        SSL_CTX_use_PrivateKey(pCtx, m_pKey.get());
        SSL* pSsl = SSL_new(pCtx);
        SSL_set_fd(pSsl, nFd);
        if (SSL_accept(pSsl) == 1)
        {
            char c;
            SSL_read(pSsl, &c, 1);  // until the client closes
        }
        SSL_free(pSsl);
        SSL_CTX_free(pCtx);
        ::close(nFd);
    }

    std::unique_ptr<EVP_PKEY, decltype(&EVP_PKEY_free)> m_pKey{nullptr, EVP_PKEY_free};
    std::unique_ptr<X509, decltype(&X509_free)> m_pCert{nullptr, X509_free};
    int m_nListen = -1;
    uint16_t m_nPort = 0;
    bool m_bOk = false;
    std::atomic<bool> m_bStop{false};
    std::thread m_thread;
};
} // namespace

class CertValiditySim : public testing::Test
{
protected:
    /// A simulated terminal on TLS with the given dates and key.
    void StartSim(int nProtocol, const char* pszFrom, const char* pszTo, sim::EKeyType eKey = sim::EKeyType::Rsa2048)
    {
        sim::TerminalConfig config;
        config.nProtocolCode = nProtocol;
        config.strNotBefore = pszFrom;
        config.strNotAfter = pszTo;
        config.eKeyType = eKey;
        m_pSim = std::make_unique<sim::CTerminalSim>(config);
        std::string strError;
        ASSERT_EQ(m_pSim->Start(&strError), sim::SIM_OK) << strError;
    }
    SCertValidityResult Check(uint16_t nPort)
    {
        CCertValidity validity(m_sink, m_clock, 5000, 10000);
        return validity.Run("127.0.0.1", nPort, m_bStop);
    }

    CRecordingSink m_sink;
    CFakeClock m_clock;
    std::atomic<bool> m_bStop{false};
    std::unique_ptr<sim::CTerminalSim> m_pSim;
};

TEST_F(CertValiditySim, DatesOfTheTerminalCertificateAndTheirStatus)
{
    StartSim(0x30, "20240101000000Z", "20341231235959Z", sim::EKeyType::EcBrainpoolP256r1);
    m_clock.SetUnixTimeMs(UnixOf(2026, 12, 8, 12, 0, 0) * 1000);
    const auto result = Check(m_pSim->GetPort());
    EXPECT_EQ(result.eStatus, ECertStatus::Valid);
    ASSERT_TRUE(result.dates.tmNotBefore && result.dates.tmNotAfter);
    EXPECT_EQ(result.dates.tmNotBefore->tm_year, 124);
    EXPECT_EQ(result.dates.tmNotAfter->tm_year, 134);
    EXPECT_EQ(result.dates.tmNotAfter->tm_mon, 11);
    EXPECT_EQ(result.dates.tmNotAfter->tm_mday, 31);
    EXPECT_EQ(result.dates.tmNotAfter->tm_hour, 23);
    EXPECT_EQ(result.dates.tmNotAfter->tm_sec, 59);
    EXPECT_EQ(RunTrace(m_sink.Messages()), (Trace{"B1", "D", "I1", "B0"}));
    const auto msgs = m_sink.Of(wm::WM_CERT_DATES);
    ASSERT_EQ(msgs.size(), 1u);
    const auto* pDates = std::get_if<CertificateDates>(&msgs[0].payload);
    ASSERT_NE(pDates, nullptr);
    EXPECT_EQ(pDates->tmNotBefore->tm_year, 124);
    EXPECT_FALSE(CCertValidity::FormatDate(*pDates->tmNotAfter).empty());
}

TEST_F(CertValiditySim, PastFutureAndTheLastSecond)
{
    StartSim(0x30, "20150101000000Z", "20191231235959Z");
    m_clock.SetUnixTimeMs(UnixOf(2026, 12, 8, 12, 0, 0) * 1000);
    EXPECT_EQ(Check(m_pSim->GetPort()).eStatus, ECertStatus::Expired);
    // The same certificate in its last second, with a fraction of it gone: still valid.
    m_clock.SetUnixTimeMs(UnixOf(2019, 12, 31, 23, 59, 59) * 1000 + 999);
    EXPECT_EQ(Check(m_pSim->GetPort()).eStatus, ECertStatus::Valid);
    m_clock.SetUnixTimeMs(UnixOf(2020, 1, 1, 0, 0, 0) * 1000);
    EXPECT_EQ(Check(m_pSim->GetPort()).eStatus, ECertStatus::Expired);
    // Before its start: not valid yet, shown as expired.
    m_clock.SetUnixTimeMs(UnixOf(2014, 12, 31, 23, 59, 59) * 1000);
    EXPECT_EQ(Check(m_pSim->GetPort()).eStatus, ECertStatus::Expired);
    EXPECT_EQ(OnlyKinds(RunTrace(m_sink.Messages()), "I"), (Trace{"I2", "I1", "I2", "I2"}));
}

TEST_F(CertValiditySim, CertificateMadeInTheTestWithALateGeneralizedTime)
{
    CDateServer server("20300101000000Z", "20510630120000Z");
    ASSERT_TRUE(server.Ok());
    m_clock.SetUnixTimeMs(UnixOf(2026, 12, 8, 12, 0, 0) * 1000);
    const auto result = Check(server.Port());
    // Starts in 2030: not valid yet.
    EXPECT_EQ(result.eStatus, ECertStatus::Expired);
    ASSERT_TRUE(result.dates.tmNotAfter);
    EXPECT_EQ(result.dates.tmNotAfter->tm_year, 151);
    EXPECT_EQ(result.dates.tmNotAfter->tm_mon, 5);
    EXPECT_EQ(result.dates.tmNotAfter->tm_hour, 12);
}

TEST_F(CertValiditySim, NoCertificateWithoutAConnectionOrWithAnotherTlsVersion)
{
    // TLS 1.0 only: the TLS 1.2 handshake fails.
    StartSim(0x10, "20240101000000Z", "20341231235959Z");
    EXPECT_EQ(Check(m_pSim->GetPort()).eStatus, ECertStatus::NotFound);
    const uint16_t nPort = m_pSim->GetPort();
    m_pSim.reset();
    m_sink.Clear();
    // Nothing listens any more.
    const auto result = Check(nPort);
    EXPECT_EQ(result.eStatus, ECertStatus::NotFound);
    EXPECT_FALSE(result.dates.tmNotBefore);
    EXPECT_EQ(RunTrace(m_sink.Messages()), (Trace{"B1", "I0", "B0"}));
    // A plain server that never speaks TLS: the stop flag ends the handshake wait.
    StartSim(0, "20240101000000Z", "20341231235959Z");
    m_bStop = false;
    std::thread stopper([this] {
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        m_bStop = true;
    });
    const auto t0 = std::chrono::steady_clock::now();
    EXPECT_EQ(Check(m_pSim->GetPort()).eStatus, ECertStatus::NotFound);
    stopper.join();
    EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::seconds(8));
}
