#pragma once
// CTerminalSim: an in-process SICCT card terminal for tests, benchmarks and the demo.
//
// It listens on one TCP port (127.0.0.1 by default, port 0 = ephemeral), plain or wrapped in
// exactly one TLS version (1.0, 1.1 or 1.2, chosen by the protocol code of its
// TerminalConfig). For TLS it makes a fresh key and a self-signed certificate at Start
// (RSA 2048 or EC on brainpoolP256r1, validity dates from the configuration); TLS 1.0 and
// 1.1 run at OpenSSL security level 0, which they need.
//
// Wire format, as a terminal reads it: every message is a 10-byte envelope header
//   [0] type (0x6B command from the host; 0x83 response and 0x50 event from the terminal)
//   [1..2] address (0 = terminal, else a card slot)   [3..4] sequence number
//   [5] reserved 0   [6..9] body length, all big-endian
// followed by the body. A command body is one APDU (short or extended Lc/Le). The answer is
// a 0x83 envelope that echoes address and sequence number; its body is the answer data and
// SW1 SW2. Events carry the terminal's own sequence counter and the body
// [code][length][detail...]: 80 00 keepalive, 81 00 sign-off, 84 01 n / 85 01 n card in /
// out of slot n, 86 01 dd protocol error.
//
// Commands understood (CLA 0x80, GET STATUS and RESET also with CLA 0x20):
//   80 28 CT session open (T 13 user 13 password 13 00; T 0x69 or 0x73) -> T 12 13 00 13 00
//         13 N id 90 00; 6401 unknown user, 6402 wrong password, 6200 session already open
//   80 58 CT session open as a CT-API library does it (no credentials)
//   80 29 CT session close: 5-byte form, or with the identifier as third 13-object; 6403 on a
//         wrong identifier
//   80 20 select mode; 80 11 / 20 11 reset (P1 unit, P2 01 = answer with the card's ATR as
//         5F 51 L ATR; 64A1 without card)
//   80 13 / 20 13 GET STATUS, P1 unit (00 = terminal), P2 0x46 manufacturer, 0x81 unit list,
//         0xA1 name, 0x80 ICC status, 0x66 ICC interface, 0x67 display, 0x6A keypad
//   80 17 display output (data object 0x50 is recorded)
//   80 24 download init (maximum packet size in layout A or B), 80 25 / 80 26 data packets
//         (data object 0x73 with 1-byte, 81 or 82 length), 80 26 00 00 00 finish
//   80 23 C0 05 certificate list write (short or extended Lc)
// Anything else answers 6D00 (INS) or 6E00 (CLA); an unusable APDU 6700. A malformed
// envelope (wrong type, oversize length) is answered by a protocol-error event 86 01 11 and,
// for an impossible length, by closing the connection.
//
// Threads: Start creates one accept thread; every accepted connection gets one thread (at
// most 16 at a time). All of them wait at most 50 ms at a time and check the stop flag, so
// Stop joins them within a bounded time; no thread is killed. Every public operation may be
// called from any thread (one lock guards the shared state). The owner owns the object;
// the destructor calls Stop.
//
// Fault injection: FaultRule (SimTypes.h) selects commands by CLA/INS/P1/P2, by the index of
// the command in its connection, or by the k-th occurrence, and answers them delayed, split
// into several TCP segments, with another status word, sequence number or body, oversized,
// malformed, by a sign-off event, not at all, or by dropping the connection. A script
// (SetScript) instead plays (expected command -> answer) steps and records every mismatch
// with the step number and both byte strings.
//
// Recording: every complete command envelope received (exact bytes), the reassembled
// download image, the certificate list, the display outputs and counters; read them with the
// Get... operations, which return copies.

#include "SimTypes.h"

#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace sim
{
/// One complete envelope as the simulator received it.
struct ReceivedEnvelope
{
    int nConnection = 0; // 1-based number of the connection since Start
    Bytes vecBytes;      // header and body exactly as received
};

/// One step of a script: the command the host must send next and how to answer it.
struct ScriptStep
{
    Bytes vecExpected;              // expected command APDU (envelope body); empty = any command
    std::optional<Bytes> optAnswer; // answer body (data + SW); none = what the terminal answers
    FaultRule fault;                // how to answer (its selectors are ignored)
};

/// Counters since Start (or the last ClearRecording).
struct SimStats
{
    int nConnections = 0;       // connections accepted (TLS ones after a completed handshake)
    int nHandshakeFailures = 0; // TLS handshakes that failed
    int nCommands = 0;          // complete command envelopes received
    int nSessionsOpened = 0;
    int nSessionsClosed = 0;
    int nDownloadInits = 0;
    int nDownloadPackets = 0;
    int nDownloadFinishes = 0; // finish commands (80 26 00 00 00, or a data packet with INS 0x26)
    int nCertWrites = 0;
    int nMalformed = 0;        // envelopes the simulator could not use
    int nEventsSent = 0;
};

class CTerminalSim
{
public:
    /// Keeps a copy of the configuration; nothing is opened before Start.
    explicit CTerminalSim(TerminalConfig config);
    /// Stops the simulator (see Stop).
    ~CTerminalSim();
    CTerminalSim(const CTerminalSim&) = delete;
    CTerminalSim& operator=(const CTerminalSim&) = delete;

    /// Binds, listens and starts the accept thread. A non-loopback address is refused with
    /// SIM_ERR_NOT_LOOPBACK unless AllowNonLoopback(true) was called first.
    /// Codes: SIM_OK, SIM_ERR_STATE (running), SIM_ERR_CONFIG (protocol code, dates),
    /// SIM_ERR_BIND, SIM_ERR_TLS, SIM_ERR_NOT_LOOPBACK. pError receives a readable reason.
    [[nodiscard]] int Start(std::string* pError = nullptr);
    /// Closes the listening socket and every connection and joins all threads (each notices
    /// the stop within 50 ms; delays of fault rules are cut short). Idempotent.
    void Stop();
    bool IsRunning() const;

    /// Bound TCP port (the ephemeral one after Start with port 0); 0 before Start.
    uint16_t GetPort() const;
    /// Bound address text, e.g. "127.0.0.1".
    std::string GetAddress() const;
    /// Protocol code from the configuration (0, 0x10, 0x11, 0x20, 0x30).
    int GetProtocolCode() const;
    /// Copy of the configuration, with the state changes made by the setters below.
    TerminalConfig GetConfig() const;
    /// Permits binding to a non-loopback address (only inside namespaces made by a test).
    void AllowNonLoopback(bool bAllow);

    // --- behaviour changes while running (take effect at the next command) ---
    void SetFaults(std::vector<FaultRule> vecRules); // also resets the rule counters
    void AddFault(FaultRule rule);
    void ClearFaults();
    void SetSignatureOk(bool bOk);
    void SetMaxPacketSize(int nBytes, EPacketSizeLayout eLayout);
    void SetCredentials(const std::string& strUser, const std::string& strPassword);
    /// Puts a card into slot nNumber or takes it out; with bSendEvent the connected hosts
    /// get the card-inserted (84 01 n) or card-removed (85 01 n) event. False: no such slot.
    bool SetCardPresent(uint8_t nNumber, bool bPresent, bool bSendEvent);

    /// Plays a script: the n-th command received (over all connections) is compared with
    /// step n; a difference is recorded as a mismatch naming the step and both byte strings,
    /// and the command is answered as the step says all the same. Commands beyond the last
    /// step are mismatches too (answered normally). Replaces the fault rules while set; an
    /// empty script ends script mode.
    void SetScript(std::vector<ScriptStep> vecSteps);
    /// Mismatches so far, e.g. "step 2: expected 80 13 00 46 00, received 80 13 00 81 00".
    std::vector<std::string> GetScriptMismatches() const;
    /// True when every step of the script has been played.
    bool IsScriptDone() const;

    // --- events to every connected host ---
    /// Queues an event with this body (first byte = event code) for every connection;
    /// returns the number of connections it was queued for.
    int SendEvent(const Bytes& vecBody);
    int SendKeepalive();          // 80 00
    int SendSignOff();            // 81 00
    int SendProtocolError(uint8_t nDetail); // 86 01 detail

    // --- recording (copies; thread-safe) ---
    std::vector<ReceivedEnvelope> GetReceived() const;
    /// Command bodies (APDUs) of the received envelopes, in order.
    std::vector<Bytes> GetReceivedApdus() const;
    /// Data bytes of all download packets since the last download init, in order.
    Bytes GetDownloadImage() const;
    /// Data bytes per packet since the last download init.
    std::vector<int> GetDownloadPacketSizes() const;
    /// Last certificate list written.
    Bytes GetCertificateList() const;
    /// Value of every display data object 0x50 written, in order.
    std::vector<Bytes> GetDisplayOutputs() const;
    /// Session identifiers presented in close commands, in order (empty entry = none given).
    std::vector<Bytes> GetClosedSessionIds() const;
    /// Credentials presented in session-open commands, "user:password", in order.
    std::vector<std::string> GetLoginAttempts() const;
    SimStats GetStats() const;
    /// Short lines about what went wrong on the wire (malformed envelopes, failed
    /// handshakes, dropped connections) for test failure messages.
    std::vector<std::string> GetLog() const;
    void ClearRecording();

    /// Waits until at least nCount command envelopes were received since the last
    /// ClearRecording, at most nTimeoutMs. True when reached.
    bool WaitForCommands(int nCount, int nTimeoutMs) const;
    /// Waits until no connection is open any more, at most nTimeoutMs.
    bool WaitForIdle(int nTimeoutMs) const;
    /// PEM text of the certificate made at Start (empty for plain TCP).
    std::string GetCertificatePem() const;

    class CImpl; // defined in TerminalSim.cpp

private:
    std::unique_ptr<CImpl> m_pImpl;
};

} // namespace sim
