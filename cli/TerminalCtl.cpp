#include "TerminalCtl.h"

#include <CLI/CLI.hpp>

#include <cstdio>
#include <ctime>
#include <filesystem>
#include <sstream>

#include "CertListDownloadRun.h"
#include "CertValidity.h"
#include "CliCodes.h"
#include "MiddlewareFinder.h"
#include "ConsoleSink.h"
#include "DiagnosisExport.h"
#include "DiagnosisRules.h"
#include "DiagnosisRun.h"
#include "FirmwareDownloadRun.h"
#include "FleetRun.h"
#include "MaintenanceArgs.h"
#include "PasswordSource.h"
#include "SessionSettings.h"
#include "Settings.h"
#include "TerminalRules.h"
#include "TerminalSearch.h"
#include "TerminalTable.h"
#include "Texts.h"

#ifndef TC_VERSION_TEXT
#define TC_VERSION_TEXT "0.0.0.0"
#endif

namespace
{
using cli::EXIT_FAILED;
using cli::EXIT_NOT_FOUND;
using cli::EXIT_OK;
using cli::EXIT_USAGE;
using cli::EXIT_WARNING;

constexpr int kGoOn = -1;
constexpr const char* kPasswordPrompt = "Kennwort: ";

/// Swallows messages whose content the command prints from the result instead.
class CQuietSink final : public CWorkerSink
{
public:
    void Deliver(SWorkerMessage) override {}
};

bool ParseAddress(const std::string& strText, uint32_t& nAddress)
{
    std::array<uint8_t, 4> ab{};
    if (!search::ParseIpv4(strText, ab))
        return false;
    nAddress = (static_cast<uint32_t>(ab[0]) << 24) | (static_cast<uint32_t>(ab[1]) << 16) |
               (static_cast<uint32_t>(ab[2]) << 8) | ab[3];
    return true;
}

/// A number of at most nMax, decimal or (with 0x) hexadecimal.
bool ParseNumber(const std::string& strText, unsigned long nMax, unsigned long& nValue)
{
    if (strText.empty() || strText.size() > 10)
        return false;
    const bool bHex = strText.size() > 2 && strText[0] == '0' && (strText[1] == 'x' || strText[1] == 'X');
    const std::string strDigits = bHex ? strText.substr(2) : strText;
    if (strDigits.empty())
        return false;
    for (char c : strDigits)
        if (bHex ? !std::isxdigit(static_cast<unsigned char>(c)) : !std::isdigit(static_cast<unsigned char>(c)))
            return false;
    nValue = std::stoul(strDigits, nullptr, bHex ? 16 : 10);
    return nValue <= nMax;
}

/// "major.minor" (decimal, each 0..255) as major * 256 + minor.
bool ParseSicctVersion(const std::string& strText, uint16_t& nVersion)
{
    const size_t nDot = strText.find('.');
    if (nDot == std::string::npos)
        return false;
    unsigned long nMajor = 0, nMinor = 0;
    const std::string strMajor = strText.substr(0, nDot), strMinor = strText.substr(nDot + 1);
    if (strMajor.rfind("0x", 0) == 0 || strMinor.rfind("0x", 0) == 0)
        return false;
    if (!ParseNumber(strMajor, 255, nMajor) || !ParseNumber(strMinor, 255, nMinor))
        return false;
    nVersion = static_cast<uint16_t>((nMajor << 8) | nMinor);
    return true;
}

std::string FormatTime(const std::optional<std::tm>& optTime, const char* pszFormat)
{
    if (!optTime)
        return {};
    char sz[64];
    std::tm tm = *optTime;
    return std::strftime(sz, sizeof sz, pszFormat, &tm) > 0 ? std::string(sz) : std::string();
}

nlohmann::ordered_json JsonTime(const std::optional<std::tm>& optTime)
{
    const std::string str = FormatTime(optTime, "%Y-%m-%dT%H:%M:%SZ");
    return str.empty() ? nlohmann::ordered_json(nullptr) : nlohmann::ordered_json(str);
}

const char* CertStatusKey(ECertStatus eStatus)
{
    switch (eStatus)
    {
    case ECertStatus::Valid:
        return "valid";
    case ECertStatus::Expired:
        return "expired";
    case ECertStatus::NotFound:
        break;
    }
    return "not_found";
}

const char* RunEndKey(ERunEnd eEnd)
{
    switch (eEnd)
    {
    case ERunEnd::Green:
        return "green";
    case ERunEnd::Yellow:
        return "yellow";
    case ERunEnd::Red:
        break;
    }
    return "red";
}

std::string Hex2(unsigned n)
{
    char sz[8];
    std::snprintf(sz, sizeof sz, "%.2X", n & 0xFFu);
    return sz;
}

std::string MacText(const TerminalIdRecord& record)
{
    char sz[24];
    const auto& ab = record.abData;
    const size_t o = TerminalIdRecord::kOffMac;
    std::snprintf(sz, sizeof sz, "%.2X:%.2X:%.2X:%.2X:%.2X:%.2X", ab[o], ab[o + 1], ab[o + 2], ab[o + 3], ab[o + 4],
                  ab[o + 5]);
    return sz;
}

/// Splits a log as printed into its lines (for JSON).
nlohmann::ordered_json LogLines(const std::string& strLog)
{
    nlohmann::ordered_json lines = nlohmann::ordered_json::array();
    std::istringstream in(strLog);
    std::string strLine;
    while (std::getline(in, strLine))
        lines.push_back(strLine);
    return lines;
}

void WriteValueRows(std::ostream& out, const std::vector<SValueRow>& vecRows)
{
    // Rows after a group heading are indented further; the values form one column.
    std::vector<std::string> vecIndents;
    size_t nColumn = 0;
    bool bInGroup = false;
    for (const SValueRow& row : vecRows)
    {
        bInGroup = bInGroup || row.bHeading;
        vecIndents.push_back(row.bHeading || !bInGroup ? "  " : "    ");
        if (!row.bHeading)
            nColumn = std::max(nColumn, vecIndents.back().size() + cli::TextWidth(cli::DisplayText(row.strName)));
    }
    for (size_t i = 0; i < vecRows.size(); ++i)
    {
        const SValueRow& row = vecRows[i];
        const std::string strName = cli::DisplayText(row.strName);
        out << vecIndents[i] << strName;
        if (!row.bHeading)
            out << std::string(nColumn + 2 - vecIndents[i].size() - cli::TextWidth(strName), ' ')
                << cli::DisplayText(row.strValue);
        out << '\n';
    }
}
} // namespace

CTerminalCtl::CTerminalCtl(SCliEnvironment env) : m_env(std::move(env)), m_nDiscoveryPort(CMiddlewareFinder::kDefaultDiscoveryPort)
{
    if (m_env.pCancel == nullptr)
        m_env.pCancel = &m_bOwnCancel;
    if (!m_env.fnAskPassword)
        m_env.fnAskPassword = cli::AskPasswordOnTerminal;
}

CTerminalCtl::~CTerminalCtl() = default;

const char* CTerminalCtl::ExitCodeHelp()
{
    return "Exit codes:\n"
           "  0  success (green)\n"
           "  1  failed (red)\n"
           "  2  usage error or bad input\n"
           "  3  cancelled (Ctrl-C) or warning (yellow, e.g. an expired certificate)\n"
           "  4  nothing found (no terminal answered)\n"
           "\n"
           "Ctrl-C cancels the running step as the dialogs' Cancel button does; a second Ctrl-C quits at once.\n"
           "Settings are read from the same store as the GUI (section SICCT-Config; TC_SETTINGS_ROOT redirects it).";
}

bool CTerminalCtl::Cancelled() const
{
    return m_env.pCancel->load();
}

CTerminalFinder& CTerminalCtl::Finder()
{
    if (m_env.pFinder != nullptr)
        return *m_env.pFinder;
    if (!m_pOwnFinder)
        m_pOwnFinder = std::make_unique<CMiddlewareFinder>(m_env.pHidSystem, m_nDiscoveryPort);
    return *m_pOwnFinder;
}

int CTerminalCtl::Run(int argc, const char* const* argv)
{
    try
    {
        return Dispatch(argc, argv);
    }
    catch (const std::exception& e)
    {
        Err() << "terminalctl: " << e.what() << '\n';
    }
    catch (...)
    {
        Err() << "terminalctl: unexpected error\n";
    }
    return EXIT_FAILED;
}

int CTerminalCtl::Dispatch(int argc, const char* const* argv)
{
    CLI::App app{"terminalctl: find and maintain SICCT card terminals from the command line", "terminalctl"};
    app.footer(ExitCodeHelp());
    app.set_version_flag("--version", std::string("terminalctl ") + TC_VERSION_TEXT);
    app.require_subcommand(0, 1);
    int nDiscoveryPort = CMiddlewareFinder::kDefaultDiscoveryPort;
    app.add_option("--discovery-port", nDiscoveryPort,
                   "UDP port the discovery requests go to (default 4742; for simulators)")
        ->check(CLI::Range(1, 65535));

    bool bJson = false;
    auto fnConnection = [](CLI::App* pSub, SConnection& conn, bool bCtApi) {
        pSub->add_option("IPV4", conn.strAddress, "the terminal's IPv4 address")->required();
        pSub->add_option("--port", conn.nPort, "SICCT port (skips the query when given with --protocol and --sicct-version)")
            ->check(CLI::Range(1, 65535));
        pSub->add_option("--protocol", conn.strProtocol, "protocol code: 0x10/0x11 TLS 1.0, 0x20 TLS 1.1, 0x30 TLS 1.2");
        pSub->add_option("--sicct-version", conn.strSicctVersion, "SICCT version of the terminal, e.g. 1.20");
        if (bCtApi)
        {
            pSub->add_option("--ctapi", conn.strCtApi, "CT-API library (.so): use the CT-API way");
            pSub->add_option("--ctapi-port", conn.nCtApiPort, "port number (pn) for CT_init")->check(CLI::Range(0, 65535));
        }
    };

    CLI::App* pSearch = app.add_subcommand("search", "search terminals (LAN on every Ethernet adapter, USB)");
    pSearch->add_flag("--json", bJson, "JSON output");

    std::string strQueryAddress;
    CLI::App* pQuery = app.add_subcommand("query", "ask one address for its terminal (\"Hinzufügen\")");
    pQuery->add_option("IPV4", strQueryAddress, "the terminal's IPv4 address")->required();
    pQuery->add_flag("--json", bJson, "JSON output");

    SConnection connDiag;
    std::string strExport;
    CLI::App* pDiagnose = app.add_subcommand("diagnose", "diagnosis of a terminal and its function units");
    fnConnection(pDiagnose, connDiag, true);
    pDiagnose->add_option("--export", strExport, "write the diagnosis export file (XML)");
    pDiagnose->add_flag("--json", bJson, "JSON output");

    SConnection connFirmware;
    SCredentials credFirmware;
    std::string strFirmwareFile;
    CLI::App* pFirmware = app.add_subcommand("firmware", "download a firmware file into a terminal");
    fnConnection(pFirmware, connFirmware, true);
    pFirmware->add_option("FILE", strFirmwareFile, "firmware file (*.bin, *.sim)")->required();
    pFirmware->add_option("--user", credFirmware.strUser, "user name of the CT session (default admin)");
    pFirmware->add_flag("--password-stdin", credFirmware.bPasswordStdin, "read the password from standard input");

    SConnection connCert;
    SCredentials credCert;
    std::string strCertFile;
    CLI::App* pCertList = app.add_subcommand("certlist", "download a connector CA certificate list into a terminal");
    fnConnection(pCertList, connCert, false);
    pCertList->add_option("FILE", strCertFile, "certificate list file (*.bin)")->required();
    pCertList->add_option("--user", credCert.strUser, "user name of the CT session (default admin)");
    pCertList->add_flag("--password-stdin", credCert.bPasswordStdin, "read the password from standard input");

    std::string strValidAddress;
    uint16_t nValidPort = 0;
    CLI::App* pCertValid = app.add_subcommand("certvalid", "validity of the terminal's TLS certificate");
    pCertValid->add_option("IPV4", strValidAddress, "the terminal's IPv4 address")->required();
    pCertValid->add_option("--port", nValidPort, "TLS port (default: the setting \"Port\", else 443)")
        ->check(CLI::Range(1, 65535));
    pCertValid->add_flag("--json", bJson, "JSON output");

    int nJobs = CFleetRun::kDefaultJobs;
    uint16_t nFleetCertPort = 0;
    CLI::App* pFleet = app.add_subcommand("fleet", "search, then certificate validity and firmware version of every LAN terminal");
    pFleet->add_flag("--json", bJson, "JSON output");
    pFleet->add_option("--jobs", nJobs, "terminals handled at the same time (default 4)")
        ->check(CLI::Range(1, CFleetRun::kMaxJobs));
    pFleet->add_option("--cert-port", nFleetCertPort, "TLS port of the certificate check (default: the setting \"Port\", else 443)")
        ->check(CLI::Range(1, 65535));

    try
    {
        app.parse(argc, argv);
    }
    catch (const CLI::ParseError& e)
    {
        const int nCode = app.exit(e, Out(), Err());
        return nCode == 0 ? EXIT_OK : EXIT_USAGE;
    }
    m_nDiscoveryPort = static_cast<uint16_t>(nDiscoveryPort);
    if (app.get_subcommands().empty())
    {
        Err() << "terminalctl: a subcommand is required (search, query, diagnose, firmware, certlist, certvalid, "
                 "fleet)\nRun with --help for more information.\n";
        return EXIT_USAGE;
    }

    if (pSearch->parsed())
        return CmdSearch(bJson);
    if (pQuery->parsed())
        return CmdQuery(strQueryAddress, bJson);
    if (pDiagnose->parsed())
        return CmdDiagnose(connDiag, strExport, bJson);
    if (pFirmware->parsed())
        return CmdFirmware(connFirmware, credFirmware, strFirmwareFile);
    if (pCertList->parsed())
        return CmdCertList(connCert, credCert, strCertFile);
    if (pCertValid->parsed())
        return CmdCertValid(strValidAddress, nValidPort, bJson);
    if (pFleet->parsed())
        return CmdFleet(bJson, nJobs, nFleetCertPort);
    return EXIT_USAGE;
}

// --- search and query ----------------------------------------------------------------------

int CTerminalCtl::CmdSearch(bool bJson)
{
    search::DeviceList vecFound = search::RunSearch(Finder());
    if (Cancelled())
        return EXIT_WARNING;
    if (bJson)
    {
        nlohmann::ordered_json array = nlohmann::ordered_json::array();
        for (const auto& pDevice : vecFound)
            array.push_back(cli::TerminalJson(*pDevice));
        cli::WriteJson(Out(), array);
    }
    else
    {
        std::vector<std::vector<std::string>> vecRows;
        for (const auto& pDevice : vecFound)
            vecRows.push_back(cli::TerminalRow(*pDevice));
        cli::WriteTable(Out(), cli::TerminalHeaders(), vecRows);
    }
    return vecFound.empty() ? EXIT_NOT_FOUND : EXIT_OK;
}

int CTerminalCtl::CmdQuery(const std::string& strAddress, bool bJson)
{
    uint32_t nAddress = 0;
    if (!ParseAddress(strAddress, nAddress))
    {
        Err() << "terminalctl: not an IPv4 address: " << strAddress << '\n';
        return EXIT_USAGE;
    }
    std::unique_ptr<CDeviceInfo> pDevice = Finder().QueryTerminalByAddress(nAddress);
    if (Cancelled())
        return EXIT_WARNING;
    if (bJson)
    {
        nlohmann::ordered_json array = nlohmann::ordered_json::array();
        if (pDevice)
            array.push_back(cli::TerminalJson(*pDevice));
        cli::WriteJson(Out(), array);
    }
    else if (pDevice)
    {
        cli::WriteTable(Out(), cli::TerminalHeaders(), {cli::TerminalRow(*pDevice)});
    }
    if (!pDevice)
    {
        Err() << "terminalctl: no terminal answered at " << strAddress << '\n';
        return EXIT_NOT_FOUND;
    }
    return EXIT_OK;
}

// --- the terminal of a maintenance command ---------------------------------------------------

int CTerminalCtl::ResolveTerminal(const SConnection& conn, CDeviceInfo& device)
{
    uint32_t nAddress = 0;
    if (!ParseAddress(conn.strAddress, nAddress))
    {
        Err() << "terminalctl: not an IPv4 address: " << conn.strAddress << '\n';
        return EXIT_USAGE;
    }
    unsigned long nProtocol = 0;
    if (!conn.strProtocol.empty() && !ParseNumber(conn.strProtocol, 255, nProtocol))
    {
        Err() << "terminalctl: --protocol needs a number 0..255 (e.g. 0x30): " << conn.strProtocol << '\n';
        return EXIT_USAGE;
    }
    uint16_t nVersion = 0;
    if (!conn.strSicctVersion.empty() && !ParseSicctVersion(conn.strSicctVersion, nVersion))
    {
        Err() << "terminalctl: --sicct-version needs MAJOR.MINOR (e.g. 1.20): " << conn.strSicctVersion << '\n';
        return EXIT_USAGE;
    }
    const bool bCtApi = !conn.strCtApi.empty();
    const bool bAllGiven = conn.nPort != 0 && !conn.strProtocol.empty() && !conn.strSicctVersion.empty();
    if (!bAllGiven && !bCtApi)
    {
        // As the main window: the row of the answering terminal gives port, protocol, version.
        std::unique_ptr<CDeviceInfo> pFound = Finder().QueryTerminalByAddress(nAddress);
        if (Cancelled())
            return EXIT_WARNING;
        if (!pFound)
        {
            Err() << "terminalctl: no terminal answered at " << conn.strAddress
                  << " (give --port, --protocol and --sicct-version to go without the query)\n";
            return EXIT_NOT_FOUND;
        }
        device = *pFound;
    }
    else
    {
        device = CDeviceInfo();
        device.SetConnectionType(search::CONN_LAN);
        device.SetIpAddress(search::Ipv4ToText(nAddress));
    }
    // The options lay themselves over the answer.
    uint16_t nPort = device.GetNetworkPort();
    uint8_t nCode = static_cast<uint8_t>(search::ProtocolCodeFromLogicalName(device.GetLogicalName()));
    if (conn.nPort != 0)
        nPort = conn.nPort;
    if (!conn.strProtocol.empty())
        nCode = static_cast<uint8_t>(nProtocol);
    if (!conn.strSicctVersion.empty())
        device.SetSicctVersion(nVersion);
    device.SetNetworkPort(nPort);
    device.SetLogicalName(device.GetIpAddress() + ":" + std::to_string(nPort) + ":" + std::to_string(nCode));
    if (bCtApi)
    {
        device.SetConnectionType(search::CONN_HID_UNSECURE);
        device.SetPort(conn.nCtApiPort);
    }
    return kGoOn;
}

int CTerminalCtl::ObtainPassword(const SCredentials& cred, CSecretText& secret)
{
    const int nResult = cred.bPasswordStdin ? cli::ReadPasswordLine(*m_env.pIn, secret)
                                            : m_env.fnAskPassword(kPasswordPrompt, secret);
    switch (nResult)
    {
    case cli::PASSWORD_OK:
        return kGoOn;
    case cli::PASSWORD_CANCELLED:
        return EXIT_WARNING;
    case cli::PASSWORD_TOO_LONG:
        Err() << "terminalctl: the password is longer than " << CSecretText::kMaxLength << " characters\n";
        return EXIT_USAGE;
    default:
        Err() << (cred.bPasswordStdin ? "terminalctl: no password on standard input\n"
                                      : "terminalctl: no terminal to ask for the password; use --password-stdin\n");
        return EXIT_USAGE;
    }
}

// --- diagnosis ---------------------------------------------------------------------------------

int CTerminalCtl::CmdDiagnose(const SConnection& conn, const std::string& strExport, bool bJson)
{
    CDeviceInfo device;
    if (const int nCode = ResolveTerminal(conn, device); nCode != kGoOn)
        return nCode;
    CSettings settings(*m_env.pStore);
    const CSessionSettingsOf<CSettings> sessionSettings(settings);
    const search::SDiagnosisArgs args = search::MakeDiagnosisArgs(device);
    SDiagnosisParams params;
    params.record = args.record;
    params.nPort = args.nPort;
    params.nConnectionType = args.nConnectionType;
    params.strCtApiPath = conn.strCtApi;
    if (!CDiagnosisRun::CtApiLibraryUsable(params))
    {
        Err() << runtexts::kCtApiLibraryMissing << '\n';
        return EXIT_USAGE;
    }
    if (Cancelled())
        return EXIT_WARNING;

    std::ostringstream logBuffer;
    CConsoleSink sink(bJson ? static_cast<std::ostream&>(logBuffer) : Out(), CConsoleSink::EStyle::Diagnosis);
    CDiagnosisRun run(sink, &sessionSettings, *m_env.pLoader, m_env.timing);
    SDiagnosisResult result;
    const ERunEnd eEnd = run.Run(params, *m_env.pCancel, result);
    sink.Finish();
    int nExit = cli::ExitCodeOf(eEnd);

    const uint16_t nVersion = diagrun::EffectiveSicctVersion(params.record.Version());
    bool bExported = false;
    if (!strExport.empty())
    {
        SExportInput input;
        input.record = params.record;
        input.nSicctVersion = nVersion;
        input.result = result;
        input.settings = SExportSettings::From(settings);
        const int nWrite = CDiagnosisExport::WriteFile(strExport, input);
        bExported = nWrite == 0;
        if (!bExported)
        {
            Err() << "terminalctl: cannot write the export file " << strExport << '\n';
            if (nExit == EXIT_OK)
                nExit = EXIT_FAILED;
        }
    }

    const std::string strVersionText = cli::DisplayText(result.manufacturer.strVersion);
    if (bJson)
    {
        nlohmann::ordered_json units = nlohmann::ordered_json::array();
        for (const SDiagUnit& unit : result.vecUnits)
        {
            nlohmann::ordered_json values = nlohmann::ordered_json::array();
            for (const SValueRow& row : diagrun::ValueRows(unit))
                values.push_back({{"name", row.strName}, {"value", cli::DisplayText(row.strValue)}, {"heading", row.bHeading}});
            units.push_back({{"name", cli::DisplayText(unit.strName)},
                             {"type", Hex2(unit.nTypeByte)},
                             {"number", Hex2(unit.nNumberByte)},
                             {"id", unit.strId},
                             {"values", values}});
        }
        nlohmann::ordered_json out = {
            {"ip", CDiagnosisRun::TargetAddress(params.record)},
            {"port", CDiagnosisRun::TargetPort(params)},
            {"protocol", params.record.Protocol()},
            {"name", cli::DisplayText(params.record.Name())},
            {"mac", MacText(params.record)},
            {"sicct_version", diagrun::VersionText(nVersion)},
            {"result", RunEndKey(eEnd)},
            {"manufacturer", cli::DisplayText(result.manufacturer.strManufacturer)},
            {"type", cli::DisplayText(result.strTypeText)},
            {"firmware_version", strVersionText},
            {"firmware_version_number", result.manufacturer.nVersion},
            {"units", units},
            {"log", LogLines(logBuffer.str())},
            {"export", bExported ? nlohmann::ordered_json(strExport) : nlohmann::ordered_json(nullptr)},
        };
        cli::WriteJson(Out(), out);
        return nExit;
    }

    std::ostream& out = Out();
    out << "\nGeräte-Informationen\n";
    cli::WriteTable(out, {"  Hersteller:", cli::DisplayText(result.manufacturer.strManufacturer)},
                    {{"  Typ:", cli::DisplayText(result.strTypeText)},
                     {"  Firmware Version:", strVersionText},
                     {"  SICCT Version:", diagrun::VersionText(nVersion)}});
    out << "\nFunktionseinheiten\n";
    std::vector<std::vector<std::string>> vecRows;
    for (const SDiagUnit& unit : result.vecUnits)
        vecRows.push_back({cli::DisplayText(unit.strName), Hex2(unit.nTypeByte), Hex2(unit.nNumberByte)});
    cli::WriteTable(out, {"Name", "Typ", "#"}, vecRows);
    for (const SDiagUnit& unit : result.vecUnits)
    {
        const std::vector<SValueRow> vecValues = diagrun::ValueRows(unit);
        if (vecValues.empty())
            continue;
        out << '\n' << cli::DisplayText(unit.strName) << '\n';
        WriteValueRows(out, vecValues);
    }
    if (bExported)
        out << "\nExport: " << strExport << '\n';
    out.flush();
    return nExit;
}

// --- downloads ---------------------------------------------------------------------------------

int CTerminalCtl::CmdFirmware(const SConnection& conn, const SCredentials& cred, const std::string& strFile)
{
    CDeviceInfo device;
    if (const int nCode = ResolveTerminal(conn, device); nCode != kGoOn)
        return nCode;
    CSettings settings(*m_env.pStore);
    const CSessionSettingsOf<CSettings> sessionSettings(settings);
    const search::SDownloadArgs args = search::MakeDownloadArgs(device, settings.Port());
    SFirmwareDownloadParams params;
    params.strAddress = args.strIp;
    params.nPort = conn.nPort != 0 ? conn.nPort : args.nPort;  // a port given here wins over the setting
    params.nProtocol = static_cast<uint8_t>(args.nProtocolCode);
    params.nConnectionType = args.nConnectionType;
    params.nSicctVersion = args.nSicctVersion;
    params.strUser = cred.strUser;
    params.strFirmwarePath = strFile;
    params.strCtApiPath = conn.strCtApi;
    params.nCtApiPort = conn.nCtApiPort;
    switch (CFirmwareDownloadRun::Check(params))
    {
    case EFirmwareCheck::Ok:
        break;
    case EFirmwareCheck::NoFirmwarePath:
        Err() << texts::Get(111) << '\n';
        return EXIT_USAGE;
    case EFirmwareCheck::FirmwareUnreadable:
        Err() << texts::Format(113, strFile) << '\n';
        return EXIT_USAGE;
    case EFirmwareCheck::CtApiLibraryMissing:
        Err() << runtexts::kCtApiLibraryMissing << '\n';
        return EXIT_USAGE;
    }

    CSecretText secret;
    if (!CFirmwareDownloadRun::IsCtApiMode(params.nConnectionType))
    {
        if (const int nCode = ObtainPassword(cred, secret); nCode != kGoOn)
            return nCode;
        params.strPassword = secret.Text();
        secret.Clear();
    }
    if (Cancelled())
    {
        CSecretText::WipeString(params.strPassword);
        return EXIT_WARNING;
    }

    CConsoleSink sink(Out(), CConsoleSink::EStyle::Firmware);
    if (m_env.bProgressBar)
    {
        std::error_code ec;
        const auto nSize = std::filesystem::file_size(strFile, ec);
        sink.EnableProgressBar(ec ? 0 : static_cast<uint64_t>(nSize), m_env.nTerminalWidth);
    }
    CFirmwareDownloadRun run(sink, &sessionSettings, *m_env.pLoader, m_env.timing);
    const ERunEnd eEnd = run.Run(params, *m_env.pCancel);
    CSecretText::WipeString(params.strPassword);
    sink.Finish();
    return cli::ExitCodeOf(eEnd);
}

int CTerminalCtl::CmdCertList(const SConnection& conn, const SCredentials& cred, const std::string& strFile)
{
    CDeviceInfo device;
    if (const int nCode = ResolveTerminal(conn, device); nCode != kGoOn)
        return nCode;
    CSettings settings(*m_env.pStore);
    const CSessionSettingsOf<CSettings> sessionSettings(settings);
    const search::SDownloadArgs args = search::MakeDownloadArgs(device, settings.Port());
    SCertListDownloadParams params;
    params.strAddress = args.strIp;
    params.nPort = conn.nPort != 0 ? conn.nPort : args.nPort;
    params.nProtocol = static_cast<uint8_t>(args.nProtocolCode);
    params.nConnectionType = args.nConnectionType;
    params.nSicctVersion = args.nSicctVersion;
    params.strUser = cred.strUser;

    CConsoleSink sink(Out(), CConsoleSink::EStyle::CertificateList);
    CCertListDownloadRun run(sink, &sessionSettings, m_env.timing);
    // The file first: a list that cannot be used needs no password.
    if (run.LoadFile(strFile) != ECertFileResult::Ok)
    {
        sink.Finish();
        return EXIT_USAGE;
    }
    CSecretText secret;
    if (const int nCode = ObtainPassword(cred, secret); nCode != kGoOn)
    {
        sink.Finish();
        return nCode;
    }
    params.strPassword = secret.Text();
    secret.Clear();
    if (Cancelled())
    {
        CSecretText::WipeString(params.strPassword);
        return EXIT_WARNING;
    }
    const ERunEnd eEnd = run.Transfer(params, m_env.pCancel);
    CSecretText::WipeString(params.strPassword);
    sink.Finish();
    if (eEnd != ERunEnd::Green && Cancelled())
        return EXIT_WARNING;
    return cli::ExitCodeOf(eEnd);
}

// --- certificate validity and the fleet --------------------------------------------------------

int CTerminalCtl::CmdCertValid(const std::string& strAddress, uint16_t nPort, bool bJson)
{
    uint32_t nAddress = 0;
    if (!ParseAddress(strAddress, nAddress))
    {
        Err() << "terminalctl: not an IPv4 address: " << strAddress << '\n';
        return EXIT_USAGE;
    }
    CSettings settings(*m_env.pStore);
    if (nPort == 0)
        nPort = search::InitialWebInterfacePort(settings.Port());
    CQuietSink sink;
    CCertValidity validity(sink, *m_env.pClock, m_env.timing.nConnectTimeoutMs, m_env.timing.nHandshakeTimeoutMs);
    const SCertValidityResult result = validity.Run(search::Ipv4ToText(nAddress), nPort, *m_env.pCancel);
    const std::string strStatus(texts::Get(CCertValidity::StatusText(result.eStatus)));
    if (bJson)
    {
        cli::WriteJson(Out(), {{"ip", search::Ipv4ToText(nAddress)},
                               {"port", nPort},
                               {"not_before", JsonTime(result.dates.tmNotBefore)},
                               {"not_after", JsonTime(result.dates.tmNotAfter)},
                               {"status", CertStatusKey(result.eStatus)},
                               {"status_text", strStatus}});
    }
    else
    {
        const std::string strFrom =
            result.dates.tmNotBefore ? CCertValidity::FormatDate(*result.dates.tmNotBefore) : std::string();
        const std::string strTo = result.dates.tmNotAfter ? CCertValidity::FormatDate(*result.dates.tmNotAfter) : std::string();
        cli::WriteTable(Out(), {"gültig ab:", strFrom}, {{"gültig bis:", strTo}});
        Out() << strStatus << '\n';
        Out().flush();
    }
    if (Cancelled())
        return EXIT_WARNING;
    switch (result.eStatus)
    {
    case ECertStatus::Valid:
        return EXIT_OK;
    case ECertStatus::Expired:
        return EXIT_WARNING;
    case ECertStatus::NotFound:
        break;
    }
    return EXIT_FAILED;
}

int CTerminalCtl::CmdFleet(bool bJson, int nJobs, uint16_t nCertPort)
{
    search::DeviceList vecFound = search::RunSearch(Finder());
    if (Cancelled())
        return EXIT_WARNING;
    std::vector<CDeviceInfo> vecLan;
    for (const auto& pDevice : vecFound)
        if (pDevice->GetConnectionType() == search::CONN_LAN)
            vecLan.push_back(*pDevice);
    CSettings settings(*m_env.pStore);
    const CSessionSettingsOf<CSettings> sessionSettings(settings);
    if (nCertPort == 0)
        nCertPort = search::InitialWebInterfacePort(settings.Port());
    CFleetRun fleet(&sessionSettings, *m_env.pClock, m_env.timing, nJobs, nCertPort);
    const std::vector<SFleetEntry> vecEntries = fleet.Run(vecLan, *m_env.pCancel);

    int nExit = EXIT_OK;
    for (const SFleetEntry& entry : vecEntries)
    {
        if (!entry.bFirmwareRead || entry.cert.eStatus == ECertStatus::NotFound)
            nExit = EXIT_FAILED;
        else if (entry.cert.eStatus == ECertStatus::Expired && nExit == EXIT_OK)
            nExit = EXIT_WARNING;
    }
    if (bJson)
    {
        nlohmann::ordered_json array = nlohmann::ordered_json::array();
        for (const SFleetEntry& entry : vecEntries)
        {
            nlohmann::ordered_json item = cli::TerminalJson(entry.device);
            item["checked"] = entry.bChecked;
            item["firmware_version"] =
                entry.bFirmwareRead ? nlohmann::ordered_json(cli::DisplayText(entry.manufacturer.strVersion)) : nlohmann::ordered_json(nullptr);
            item["firmware_version_number"] = entry.manufacturer.nVersion;
            item["cert_not_before"] = JsonTime(entry.cert.dates.tmNotBefore);
            item["cert_not_after"] = JsonTime(entry.cert.dates.tmNotAfter);
            item["cert_status"] = CertStatusKey(entry.cert.eStatus);
            item["cert_status_text"] = std::string(texts::Get(CCertValidity::StatusText(entry.cert.eStatus)));
            array.push_back(item);
        }
        cli::WriteJson(Out(), array);
    }
    else
    {
        std::vector<std::vector<std::string>> vecRows;
        for (const SFleetEntry& entry : vecEntries)
        {
            const std::vector<std::string> vecTerminal = cli::TerminalRow(entry.device);
            const auto fnOrDash = [](const std::string& str) { return str.empty() ? std::string("-") : str; };
            vecRows.push_back({vecTerminal[1], vecTerminal[2], vecTerminal[3], vecTerminal[4], vecTerminal[5],
                               fnOrDash(entry.bFirmwareRead ? cli::DisplayText(entry.manufacturer.strVersion) : ""),
                               fnOrDash(FormatTime(entry.cert.dates.tmNotBefore, "%Y-%m-%d %H:%M:%S")),
                               fnOrDash(FormatTime(entry.cert.dates.tmNotAfter, "%Y-%m-%d %H:%M:%S")),
                               entry.bChecked ? std::string(texts::Get(CCertValidity::StatusText(entry.cert.eStatus)))
                                              : std::string("-")});
        }
        cli::WriteTable(Out(),
                        {"Terminal Name", "IP-Adresse", "MAC-Adresse", "Typ", "SICCT-Version", "Firmware Version",
                         "gültig ab", "gültig bis", "Zertifikat"},
                        vecRows);
    }
    if (Cancelled())
        return EXIT_WARNING;
    if (vecLan.empty())
        return EXIT_NOT_FOUND;
    return nExit;
}
