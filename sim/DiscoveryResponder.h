#pragma once
// CDiscoveryResponder: the UDP service discovery side of simulated terminals.
//
// Request (16 bytes, to UDP 4742 by default):
//   A0 0E | 80 02 vv vv (version) | 81 04 a.b.c.d (host address) | 82 02 pp pp (host's answer port)
// Every terminal answers with one datagram sent to the address and port the request
// ANNOUNCES (not to the sender's source address):
//   80 02 vv vv | 81 04 ip | 82 02 tcp-port | 83 06 mac | 84 n name | 85 03 8A 01 protocol
// or the same items wrapped as A1 L ... (per terminal). Synthetic terminals (load tests)
// answer in the plain form with made-up MAC addresses and names.
//
// Safety: answers go only to loopback addresses unless AllowNonLoopback(true) was called
// (for tests inside network namespaces they create). It binds to one given address only.
//
// Threads: Start creates one receive thread that polls in 50 ms slices; Stop joins it.
// AddTerminal/AddSynthetic are called before Start; counters may be read from any thread.

#include "SimTypes.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace sim
{
class CDiscoveryResponder
{
public:
    CDiscoveryResponder() = default;
    ~CDiscoveryResponder();
    CDiscoveryResponder(const CDiscoveryResponder&) = delete;
    CDiscoveryResponder& operator=(const CDiscoveryResponder&) = delete;

    /// Adds the answer of one terminal reachable on nTcpPort (0: the terminal's nAnnouncedPort or nPort).
    void AddTerminal(const TerminalConfig& terminal, uint16_t nTcpPort);
    /// Adds nCount synthetic terminals (MAC 02:5D:xx:xx:xx:xx, names "SIM-LOAD-%05d").
    void AddSynthetic(int nCount);
    void AllowNonLoopback(bool bAllow) { m_bAllowNonLoopback = bAllow; }

    /// Binds UDP strAddress:nPort (0 = ephemeral) and starts answering.
    /// Codes: SIM_OK, SIM_ERR_STATE, SIM_ERR_CONFIG (address), SIM_ERR_NOT_LOOPBACK, SIM_ERR_BIND.
    [[nodiscard]] int Start(const std::string& strAddress, int nPort, std::string* pError = nullptr);
    void Stop();
    uint16_t GetPort() const { return m_nPort; }

    int RequestsAnswered() const { return m_nAnswered; }
    int RequestsIgnored() const { return m_nIgnored; }
    int DatagramsSent() const { return m_nSent; }

    /// Answer bytes of one terminal, as sent.
    static Bytes BuildAnswer(const TerminalConfig& terminal, uint16_t nTcpPort);
    /// Reads the announced host address (network order) and port from a request.
    static bool ParseRequest(const Bytes& vecRequest, uint32_t& nAddressNetOrder, uint16_t& nPort);

private:
    void Run();

    std::vector<Bytes> m_vecAnswers;
    bool m_bAllowNonLoopback = false;
    int m_nFd = -1;
    int m_nStopFd = -1;
    uint16_t m_nPort = 0;
    std::thread m_thread;
    std::atomic<bool> m_bStop{false};
    std::atomic<bool> m_bRunning{false};
    std::atomic<int> m_nAnswered{0};
    std::atomic<int> m_nIgnored{0};
    std::atomic<int> m_nSent{0};
};
} // namespace sim
