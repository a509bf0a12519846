#pragma once
// Configuration records of the terminal simulator: one terminal, its function units, its
// fault rules. Plain values, copied into the simulator at construction; a scenario file
// (ScenarioFile.h) fills them from JSON. Every field has a usable default, so a test only
// sets what it is about.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace sim
{
using Bytes = std::vector<uint8_t>;

/// Result codes of the simulator's operations (0 = success).
enum SimResult : int
{
    SIM_OK = 0,
    SIM_ERR_GENERAL = -1,     // anything not listed below
    SIM_ERR_CONFIG = -2,      // configuration or scenario invalid (text in the error string)
    SIM_ERR_BIND = -3,        // address could not be bound (taken, not local, not loopback)
    SIM_ERR_TLS = -4,         // key, certificate or TLS context could not be made
    SIM_ERR_STATE = -5,       // Start while running, operation while stopped
    SIM_ERR_NOT_LOOPBACK = -6 // a non-loopback address without the explicit permission
};

/// Transport security, taken from the protocol code a terminal announces:
/// 0 plain TCP, 0x10 and 0x11 TLS 1.0, 0x20 TLS 1.1, 0x30 TLS 1.2.
enum class ETransport
{
    Plain,
    Tls10,
    Tls11,
    Tls12
};
/// Maps a protocol code to the transport; false for an unknown code.
bool TransportFromProtocolCode(int nCode, ETransport& eOut);

/// Key type of the self-signed certificate the simulator makes at Start.
enum class EKeyType
{
    Rsa2048,
    EcBrainpoolP256r1
};

/// Layout of the maximum packet size in the download-init answer.
///  A: 73 09 80 01 00 02 02 lo hi        (little-endian, as the older terminals send it)
///  B: 73 07 04 01 00 04 02 hi lo        (big-endian; 73 06 04 01 00 04 01 nn for sizes < 256)
///  None: no size at all (73 00)
enum class EPacketSizeLayout
{
    A,
    B,
    None
};

/// How the simulator answers one command that a fault rule matched.
enum class EFaultKind
{
    Answer,    // answer normally (possibly delayed, split, with another status or sequence)
    SignOff,   // send the "terminal signs off" event (0x50, code 0x81) instead of the answer
    Silence,   // never answer; the connection stays open
    Drop,      // close the connection without answering
    DropAfter, // answer, then close the connection
    Malformed  // send a malformed envelope instead of the answer (see EMalformed)
};

/// The malformed envelopes the simulator can send.
enum class EMalformed
{
    BadType,      // message type 0x99 with a correct length and the normal answer body
    ShortHeader,  // only 6 header bytes, then nothing more
    LengthTooBig, // header announces 1000 body bytes, 2 are sent (90 00), then nothing
    ZeroLength,   // response type with body length 0
    HugeLength    // response type with body length 0xFFFFFFFF and 2 body bytes
};

/// One fault rule. A command matches when every set selector matches; the first rule
/// that matches (in list order) applies. Counters are per rule and start at 0 when the
/// rules are set (SetFaults), across connections.
struct FaultRule
{
    // --- selectors (-1 = any) ---
    int nCla = -1;
    int nIns = -1;
    int nP1 = -1;
    int nP2 = -1;
    int nCommandIndex = -1; // 0-based index of the command envelope within its connection
    int nOccurrence = 0;    // 0 = every match; k = only the k-th match of this rule (1-based)
    int nFromOccurrence = 0; // 0 = no bound; k = this and every later match (1-based)

    // --- actions ---
    EFaultKind eKind = EFaultKind::Answer;
    EMalformed eMalformed = EMalformed::BadType;
    int nDelayMs = 0;              // wait before answering (interruptible by Stop)
    int nSplitParts = 0;           // >1: send the answer in this many TCP segments
    int nSplitGapMs = 30;          // pause between the segments
    int nStatusWord = -1;          // replace SW1 SW2 of the answer (e.g. 0x6400)
    std::optional<Bytes> optBody;  // replace the whole answer body (data + status word)
    int nOversizeBytes = 0;        // >0: answer data padded to this many bytes before 90 00
    int nSequenceDelta = 0;        // add this to the echoed sequence number (wrong sequence)
    std::vector<Bytes> vecEventsBefore; // event bodies sent before the answer (e.g. {0x80,0x00})
};

/// One function unit as the terminal lists it (GET STATUS P2 0x81) and answers for it.
struct UnitConfig
{
    uint8_t nType = 0x01;   // < 0x10 card slot, 0x4x display, 0x5x keypad
    uint8_t nNumber = 0x01; // number byte; the unit's P1 is (type & 0xF0) | (number & 0x0F)
    std::string strName;    // answer to P2 0xA1 (tag 0x13); empty: "FU <id>"

    // card slot
    bool bCardPresent = false;
    Bytes vecAtr;                // ATR of the card (answer of RESET with P2 0x01)
    bool bPowered = false;       // set by a RESET of the card, cleared when the card is taken out
    int nIccStatus = -1;         // raw status byte for P2 0x80; -1 = derived from card and power
    Bytes vecIccInterface = {0x02, 0x08, 0xBE, 0x01, 0x03, 0x00, 0x00}; // values of tags 0x80..0x86
    uint16_t nExtendedLength = 0x0400;                                   // tag 0x87

    // display
    uint8_t nVisibleChars = 16, nVisibleLines = 2, nVirtualChars = 16, nVirtualLines = 2;
    uint8_t nDisplayAttributes = 0x01; // bit 0 beeper
    std::vector<uint8_t> vecCharsets = {0};

    // keypad: numeric, alphanumeric, entry, abort, menu, correction, function key counts
    std::vector<uint8_t> vecKeys = {10, 0, 1, 1, 0, 1, 0};

    /// Raw answer bodies without status word, keyed by P2 (e.g. 0x66); override the above.
    std::vector<std::pair<uint8_t, Bytes>> vecRawAnswers;
};

/// Manufacturer data object (GET STATUS P1 0x00 P2 0x46).
/// Long form: 46 L id(5) type(5) version(5) discretionary.
/// Short form: 46 0A id(5) version(5).
/// A raw answer (without status word) replaces both.
struct ManufacturerConfig
{
    std::string strId = "DEVNT";     // 5 characters
    std::string strType = "ST150";   // 5 characters
    std::string strVersion = "3000 "; // 5 version characters (long form: a b c d d2)
    Bytes vecDiscretionary;           // e.g. D7 len text...; empty = none
    bool bShortForm = false;
    std::optional<Bytes> optRaw;
};

/// One simulated terminal.
struct TerminalConfig
{
    std::string strName = "SIM-TERMINAL";
    std::string strMac = "02:00:00:00:00:01";
    std::string strAddress = "127.0.0.1"; // bind address
    int nPort = 0;                        // 0 = ephemeral
    int nProtocolCode = 0;                // 0 plain, 0x10/0x11 TLS 1.0, 0x20 TLS 1.1, 0x30 TLS 1.2
    uint16_t nSicctVersion = 0x0114;      // major in the high byte

    // credentials of the CT session
    std::string strUser = "admin";
    std::string strPassword = "12345678";
    bool bAllowAnonymous = true;          // empty user and password open a session (the middleware does so)
    Bytes vecSessionId = {'S', 'I', 'M', '-', 'S', 'E', 'S', 'S', 'I', 'O', 'N', '1'};
    bool bRequireSession = true;          // download and certificate write need an open CT session
    int nCloseWithoutSessionStatus = 0x9000; // answer of a session close without open session

    ManufacturerConfig manufacturer;
    std::vector<UnitConfig> vecUnits;
    std::optional<Bytes> optRawUnitList;  // answer body of P2 0x81 without status word

    // firmware download
    int nMaxPacketSize = 1024;
    EPacketSizeLayout ePacketSizeLayout = EPacketSizeLayout::B;
    int nDownloadInitStatus = 0x9000;
    int nDownloadDataStatus = 0x9000;
    bool bSignatureOk = true;                 // finish answers 90 00, else nSignatureFailStatus
    int nSignatureFailStatus = 0x6400;
    Bytes vecFinishData;                      // data before the status word of the finish answer

    int nCertWriteStatus = 0x9000;
    int nSelectModeStatus = 0x9000;           // 80 20 00 00 / 00 01

    // events
    int nKeepaliveIntervalMs = 0;             // 0 = no keepalive events

    // TLS certificate
    EKeyType eKeyType = EKeyType::Rsa2048;
    std::string strNotBefore = "20240101000000Z"; // ASN.1 time text YYYYMMDDHHMMSSZ
    std::string strNotAfter = "20341231235959Z";

    // UDP discovery answer
    bool bDiscoveryA1Form = false;            // wrap the answer in A1 L ...
    int nAnnouncedPort = 0;                   // port in the answer; 0 = the bound TCP port

    std::vector<FaultRule> vecFaults;
};

/// A terminal with a display, a keypad and two card slots, the first with a card.
TerminalConfig MakeDemoTerminal();

} // namespace sim
