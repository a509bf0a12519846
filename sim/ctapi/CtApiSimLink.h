#pragma once
// CCtApiSimLink: one opened card-terminal number of libctapi-sim.so, i.e. one plain TCP
// connection to the simulated terminal and the fault rules of the configuration it was
// opened with.
//
// Threads: CT_data may be called for the same link from several threads (a caller that gave
// up on a stalled call may still have it running); the socket exchange is serialised by the
// link's own lock, and the fault counters by another, so a stall never holds a lock. The
// link is shared (std::shared_ptr) between the table of open terminals and every running
// call: CT_close or a new CT_init removes it from the table, the last running call frees it.

#include "CtApiSimConfig.h"

#include <atomic>
#include <cstdint>
#include <mutex>
#include <vector>

namespace ctapisim
{
/// CT-API result codes as the standard defines them.
enum ECtApiCode : int
{
    CTAPI_OK = 0,
    CTAPI_ERR_INVALID = -1,
    CTAPI_ERR_CT = -8,
    CTAPI_ERR_TRANS = -10,
    CTAPI_ERR_MEMORY = -11,
    CTAPI_ERR_HOST = -127,
    CTAPI_ERR_HTSI = -128,
};

class CCtApiSimLink
{
public:
    explicit CCtApiSimLink(SSimConfig config);
    ~CCtApiSimLink();
    CCtApiSimLink(const CCtApiSimLink&) = delete;
    CCtApiSimLink& operator=(const CCtApiSimLink&) = delete;

    /// Connects to the configured terminal. CTAPI_OK, CTAPI_ERR_INVALID (no address),
    /// CTAPI_ERR_TRANS (no connection within the time-out).
    int Connect();
    /// Shuts the connection down (idempotent; a call blocked in Exchange fails at once).
    /// The descriptor itself is closed with the link.
    void Disconnect();

    /// Sends one APDU to envelope address nAddress and waits for the answer. Events of the
    /// terminal are skipped. CTAPI_OK (vecResponse filled), CTAPI_ERR_TRANS (connection lost,
    /// no answer in time, or not connected).
    int Exchange(uint16_t nAddress, const uint8_t* pCommand, size_t nLength, std::vector<uint8_t>& vecResponse);

    /// The first fault rule of this call kind that matches, counted; nullptr for none.
    /// The returned rule lives as long as the link.
    const SFaultRule* MatchFault(SFaultRule::ECall eCall, const uint8_t* pCommand, size_t nLength);

    const SSimConfig& Config() const { return m_config; }

private:
    bool SendAll(const std::vector<uint8_t>& vecData);
    bool ReceiveExact(uint8_t* pBuf, size_t nLength, int nTimeoutMs);

    SSimConfig m_config;
    std::mutex m_mtxIo;                  // socket and sequence counter
    std::atomic<int> m_nSocket{-1};
    uint16_t m_nSequence = 0;
    std::mutex m_mtxFaults;              // rule counters
    std::vector<int> m_vecFaultHits;     // matches per rule
};
} // namespace ctapisim
