#pragma once
// CTerminalLogic: what a SICCT terminal answers to one command APDU. No sockets and no
// threads: CTerminalSim feeds it parsed APDUs and sends what it returns. Not thread-safe:
// the caller holds the simulator's lock for every call. It does not own the configuration
// or the recording it is given; both must outlive it.

#include "SimTypes.h"
#include "SimWire.h"
#include "TerminalSim.h"

#include <string>
#include <vector>

namespace sim
{
/// Per-connection protocol state (a CT session belongs to its connection).
struct ConnectionState
{
    bool bSessionOpen = false;
    bool bDownloadOpen = false;
};

/// What the simulator recorded, shared by all connections of one terminal.
struct SimRecording
{
    SimStats stats;
    std::vector<ReceivedEnvelope> vecReceived;
    Bytes vecDownloadImage;
    std::vector<int> vecPacketSizes;
    Bytes vecCertificateList;
    std::vector<Bytes> vecDisplayOutputs;
    std::vector<Bytes> vecClosedSessionIds;
    std::vector<std::string> vecLoginAttempts;
    std::vector<std::string> vecLog;
};

class CTerminalLogic
{
public:
    CTerminalLogic(TerminalConfig& config, SimRecording& recording);

    /// Answer body (data followed by SW1 SW2) for one command sent to nAddress.
    Bytes Handle(const wire::Apdu& apdu, uint16_t nAddress, ConnectionState& conn);

    /// Answer data (without status word) of GET STATUS P2 0x81: 81 L (type number)...
    Bytes UnitList() const;
    /// Answer data of GET STATUS P2 0x46.
    Bytes ManufacturerObject() const;
    /// Answer data of download init for the configured size and layout.
    Bytes DownloadInitData() const;
    /// Finds a unit by its P1 value ((type & 0xF0) | (number & 0x0F)); null if none.
    UnitConfig* FindUnit(uint8_t nP1);

private:
    Bytes OpenSession(const wire::Apdu& apdu, ConnectionState& conn, bool bCtApiForm);
    Bytes CloseSession(const wire::Apdu& apdu, ConnectionState& conn);
    Bytes Reset(const wire::Apdu& apdu);
    Bytes GetStatus(const wire::Apdu& apdu);
    Bytes UnitStatus(UnitConfig& unit, uint8_t nP2);
    Bytes Output(const wire::Apdu& apdu);
    Bytes DownloadInit(ConnectionState& conn);
    Bytes DownloadData(const wire::Apdu& apdu, ConnectionState& conn);
    Bytes DownloadFinish(ConnectionState& conn);
    Bytes WriteCertificates(const wire::Apdu& apdu, ConnectionState& conn);
    Bytes SessionAnswer(uint8_t nTag) const;

    TerminalConfig& m_config;
    SimRecording& m_rec;
};

/// Body with only a status word.
Bytes StatusOnly(int nStatusWord);
/// Appends SW1 SW2.
void AppendStatus(Bytes& vec, int nStatusWord);

} // namespace sim
