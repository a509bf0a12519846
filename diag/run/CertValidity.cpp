#include "CertValidity.h"

#include "SigPipeGuard.h"
#include "TlsClientContext.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <memory>

#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>

namespace
{
constexpr int kPollSliceMs = 100;

struct SSslFree
{
    void operator()(SSL* p) const { SSL_free(p); }
};
struct SX509Free
{
    void operator()(X509* p) const { X509_free(p); }
};

/// A socket descriptor closed on every path.
class CSocket
{
public:
    CSocket() : m_nFd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0)) {}
    ~CSocket()
    {
        if (m_nFd >= 0)
            ::close(m_nFd);
    }
    CSocket(const CSocket&) = delete;
    CSocket& operator=(const CSocket&) = delete;
    int Fd() const { return m_nFd; }

private:
    int m_nFd;
};

using Clock = std::chrono::steady_clock;

/// Waits for the socket in slices so that the stop flag is seen; false on time-out or stop.
bool WaitFor(int nFd, short nEvents, Clock::time_point tEnd, const std::atomic<bool>& bStop)
{
    while (!bStop)
    {
        const auto nLeft = std::chrono::duration_cast<std::chrono::milliseconds>(tEnd - Clock::now()).count();
        if (nLeft <= 0)
            return false;
        pollfd pfd{nFd, nEvents, 0};
        const int n = ::poll(&pfd, 1, static_cast<int>(std::min<long long>(nLeft, kPollSliceMs)));
        if (n > 0)
            return true;
        if (n < 0 && errno != EINTR)
            return false;
    }
    return false;
}

bool ConnectWithin(int nFd, const std::string& strAddress, uint16_t nPort, int nTimeoutMs,
                   const std::atomic<bool>& bStop)
{
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(nPort);
    if (::inet_pton(AF_INET, strAddress.c_str(), &addr.sin_addr) != 1)
        return false;
    const int nFlags = ::fcntl(nFd, F_GETFL, 0);
    if (nFlags < 0 || ::fcntl(nFd, F_SETFL, nFlags | O_NONBLOCK) < 0)
        return false;
    if (::connect(nFd, reinterpret_cast<const sockaddr*>(&addr), sizeof(addr)) == 0)
        return true;
    if (errno != EINPROGRESS)
        return false;
    if (!WaitFor(nFd, POLLOUT, Clock::now() + std::chrono::milliseconds(nTimeoutMs), bStop))
        return false;
    int nError = 0;
    socklen_t nLen = sizeof(nError);
    return ::getsockopt(nFd, SOL_SOCKET, SO_ERROR, &nError, &nLen) == 0 && nError == 0;
}

/// Normalises a calendar time read from a certificate (fills weekday and day of the year).
std::tm Normalised(std::tm tm)
{
    const time_t t = timegm(&tm);
    std::tm out{};
    gmtime_r(&t, &out);
    return out;
}

/// Field-by-field order of two calendar times: negative, 0 or positive.
int Compare(const std::tm& a, const std::tm& b)
{
    const int aA[] = {a.tm_year, a.tm_mon, a.tm_mday, a.tm_hour, a.tm_min, a.tm_sec};
    const int aB[] = {b.tm_year, b.tm_mon, b.tm_mday, b.tm_hour, b.tm_min, b.tm_sec};
    for (size_t i = 0; i < 6; ++i)
        if (aA[i] != aB[i])
            return aA[i] < aB[i] ? -1 : 1;
    return 0;
}
} // namespace

CCertValidity::CCertValidity(CWorkerSink& sink, os::CClock& clock, int nConnectTimeoutMs, int nHandshakeTimeoutMs)
    : m_sink(sink), m_clock(clock), m_nConnectTimeoutMs(nConnectTimeoutMs), m_nHandshakeTimeoutMs(nHandshakeTimeoutMs)
{
}

CertificateDates CCertValidity::FetchDates(const std::string& strAddress, uint16_t nPort, const std::atomic<bool>& bStop)
{
    CertificateDates dates;
    CSocket sock;
    if (sock.Fd() < 0 || !ConnectWithin(sock.Fd(), strAddress, nPort, m_nConnectTimeoutMs, bStop))
        return dates;

    // Exactly TLS 1.2; only the dates are read, whatever the certificate is.
    const tls::CtxPtr pCtx = tls::MakeTerminalClientContext(TLS1_2_VERSION);
    if (!pCtx)
        return dates;
    const tls::CSigPipeGuard guard;
    std::unique_ptr<SSL, SSslFree> pSsl(SSL_new(pCtx.get()));
    if (!pSsl || SSL_set_fd(pSsl.get(), sock.Fd()) != 1)
        return dates;

    const auto tEnd = Clock::now() + std::chrono::milliseconds(m_nHandshakeTimeoutMs);
    for (;;)
    {
        ERR_clear_error();
        const int nResult = SSL_connect(pSsl.get());
        if (nResult == 1)
            break;
        const int nError = SSL_get_error(pSsl.get(), nResult);
        short nEvents = 0;
        if (nError == SSL_ERROR_WANT_READ)
            nEvents = POLLIN;
        else if (nError == SSL_ERROR_WANT_WRITE)
            nEvents = POLLOUT;
        if (nEvents == 0 || !WaitFor(sock.Fd(), nEvents, tEnd, bStop))
        {
            ERR_clear_error();
            return dates;
        }
    }

    std::unique_ptr<X509, SX509Free> pCert(SSL_get1_peer_certificate(pSsl.get()));
    if (pCert)
    {
        std::tm tm{};
        if (ASN1_TIME_to_tm(X509_get0_notBefore(pCert.get()), &tm) == 1)
            dates.tmNotBefore = Normalised(tm);
        tm = std::tm{};
        if (ASN1_TIME_to_tm(X509_get0_notAfter(pCert.get()), &tm) == 1)
            dates.tmNotAfter = Normalised(tm);
    }
    // A polite close; the answer is not waited for.
    SSL_shutdown(pSsl.get());
    ERR_clear_error();
    return dates;
}

ECertStatus CCertValidity::Judge(const CertificateDates& dates, const std::tm& tmNowUtc)
{
    if (!dates.tmNotBefore || !dates.tmNotAfter)
        return ECertStatus::NotFound;
    if (Compare(*dates.tmNotBefore, tmNowUtc) > 0)
        return ECertStatus::Expired;  // not valid yet
    if (Compare(*dates.tmNotAfter, tmNowUtc) < 0)
        return ECertStatus::Expired;
    return ECertStatus::Valid;       // also when it ends in the current second
}

std::tm CCertValidity::NowUtc() const
{
    constexpr uint64_t kFileTimeUnixEpoch = 116444736000000000ULL;
    const uint64_t nFileTime = m_clock.SystemTimeAsFileTime();
    const int64_t nUnix = nFileTime >= kFileTimeUnixEpoch
                              ? static_cast<int64_t>((nFileTime - kFileTimeUnixEpoch) / 10000000ULL)
                              : 0;
    const time_t t = static_cast<time_t>(nUnix);
    std::tm tm{};
    gmtime_r(&t, &tm);
    return tm;
}

std::string CCertValidity::FormatDate(const std::tm& tmDate)
{
    char sz[128];
    const size_t n = std::strftime(sz, sizeof(sz), "%c", &tmDate);
    return std::string(sz, n);
}

int CCertValidity::StatusText(ECertStatus eStatus)
{
    switch (eStatus)
    {
    case ECertStatus::Valid: return 201;
    case ECertStatus::Expired: return 202;
    case ECertStatus::NotFound: break;
    }
    return 203;
}

SCertValidityResult CCertValidity::Run(const std::string& strAddress, uint16_t nPort, const std::atomic<bool>& bStop)
{
    SCertValidityResult result;
    m_sink.Post(wm::WM_BUSY, 1);
    result.dates = FetchDates(strAddress, nPort, bStop);
    if (result.dates.tmNotBefore && result.dates.tmNotAfter)
    {
        m_sink.Post(wm::WM_CERT_DATES, 0, WorkerPayload{result.dates});
        result.eStatus = Judge(result.dates, NowUtc());
    }
    m_sink.Post(wm::WM_REPORT, wm::STATUS_ICON, static_cast<int64_t>(result.eStatus));
    m_sink.Post(wm::WM_BUSY, 0);
    return result;
}
