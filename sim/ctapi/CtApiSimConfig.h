#pragma once
// Configuration of libctapi-sim.so: where the simulated terminal listens and which faults
// the library plays instead of (or before) forwarding a call. Read afresh at every CT_init,
// so that one process (a test) can change it between runs.
//
// Sources, later ones override earlier ones:
//   1. the file named by TC_CTAPI_SIM_CONFIG: one "key=value" per line, '#' starts a comment;
//      keys "address", "fault" (repeatable), "timeout_ms";
//   2. TC_CTAPI_SIM         = address, "127.0.0.1:PORT" or "[::1]:PORT" (loopback only)
//   3. TC_CTAPI_SIM_FAULTS  = fault rules separated by ';'
//   4. TC_CTAPI_SIM_TIMEOUT_MS = how long CT_data waits for the terminal's answer (default 30000)
//
// A fault rule is  <call>[:<hex prefix>][@<n>]=<action>
//   call        init, data or close
//   hex prefix  only commands starting with these bytes (data only), e.g. "8025" or "80 25"
//   @n          only the n-th matching call since CT_init (1-based); without it every match
//   action      a CT-API code (e.g. -10): the call returns it without talking to the terminal
//               (init: no connection is made; close: the connection is closed anyway), or
//               "stall:<ms>": the call first sleeps that long, then goes on normally (data only)
// Examples: "init=-8", "close=-10", "data:8025@3=-127", "data:8025@2=stall:4000".
// The first rule that matches a call applies.

#include <cstdint>
#include <string>
#include <vector>

namespace ctapisim
{
/// What a matching rule does.
struct SFaultRule
{
    enum ECall
    {
        CALL_INIT,
        CALL_DATA,
        CALL_CLOSE
    };
    ECall eCall = CALL_DATA;
    std::vector<uint8_t> vecPrefix;  // empty: any command
    int nOccurrence = 0;             // 0 = every match, k = only the k-th match
    bool bStall = false;             // true: sleep nStallMs, then go on; false: return nCode
    int nStallMs = 0;
    int nCode = 0;
};

/// The parsed configuration; plain value.
struct SSimConfig
{
    std::string strHost;       // numeric loopback address, without brackets
    uint16_t nPort = 0;        // 0 = no address configured
    int nTimeoutMs = 30000;
    std::vector<SFaultRule> vecFaults;
};

/// Reads the environment (and the file it names). False when something is present but
/// unusable (strError says what); a missing address is not an error here.
bool LoadConfigFromEnvironment(SSimConfig& config, std::string& strError);

/// Parses one address "127.0.0.1:4742" or "[::1]:4742". Only loopback addresses are
/// accepted: this library must never reach beyond the machine.
bool ParseAddress(const std::string& strText, std::string& strHost, uint16_t& nPort);

/// Parses one fault rule (grammar above).
bool ParseFaultRule(const std::string& strText, SFaultRule& rule);
} // namespace ctapisim
