#pragma once
#include <atomic>
#include <cstdint>
#include <ctime>
#include <string>

#include "Clock.h"
#include "WorkerMessages.h"
#include "WorkerSink.h"

/// Status of a terminal certificate; the numbers are the status codes of the validity
/// dialog (texts 203, 201, 202; icons red, green, yellow).
enum class ECertStatus : int
{
    NotFound = 0,  // 203 "Es wurde kein gültiges Zertifikat gefunden."
    Valid = 1,     // 201 "Das Zertifikat ist gültig."
    Expired = 2,   // 202 "Das Zertifikat ist abgelaufen." (also: not yet valid)
};

/// Outcome of one validity check.
struct SCertValidityResult
{
    CertificateDates dates;   // UTC calendar times; either may be missing
    ECertStatus eStatus = ECertStatus::NotFound;
};

/// CCertValidity: reads the validity period (notBefore, notAfter) of the certificate a
/// terminal presents in a TLS 1.2 handshake (no verification; brainpool groups offered) and
/// judges it against the current time field by field (a certificate that ends in the
/// current second is still valid).
///
/// Threads: Run on a worker thread, blocking for at most the connect and handshake limits;
/// bStop (set from another thread) ends the connect or handshake wait early. Messages to
/// the sink: WM_BUSY 1; WM_CERT_DATES when both dates were read; WM_REPORT / STATUS_ICON
/// with the status (1 or 2 after dates, 0 without); WM_BUSY 0.
/// Ownership: sink and clock are not owned.
class CCertValidity
{
public:
    CCertValidity(CWorkerSink& sink, os::CClock& clock, int nConnectTimeoutMs = 21000, int nHandshakeTimeoutMs = 30000);

    /// Connects to strAddress:nPort, reads the dates and judges them.
    SCertValidityResult Run(const std::string& strAddress, uint16_t nPort, const std::atomic<bool>& bStop);

    /// Only the TLS part: the dates of the peer certificate (empty when none was read).
    CertificateDates FetchDates(const std::string& strAddress, uint16_t nPort, const std::atomic<bool>& bStop);
    /// Status of two dates against now (UTC): start after now or end before now -> Expired;
    /// a missing date -> NotFound; else Valid.
    static ECertStatus Judge(const CertificateDates& dates, const std::tm& tmNowUtc);
    /// Current UTC time from the clock as a calendar time.
    std::tm NowUtc() const;
    /// A date in the long local form of the C library ("%c"), empty when it cannot be formatted.
    static std::string FormatDate(const std::tm& tmDate);
    /// The string-table number of a status' text.
    static int StatusText(ECertStatus eStatus);

private:
    CWorkerSink& m_sink;
    os::CClock& m_clock;
    int m_nConnectTimeoutMs;
    int m_nHandshakeTimeoutMs;
};
