// terminalctl against the terminal simulator on loopback: the unicast query, certificate
// validity, diagnosis with export, firmware and certificate list downloads with the
// password from standard input, Ctrl-C as Cancel. Output is compared as text.
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <chrono>
#include <fstream>
#include <thread>

#include "CliCodes.h"
#include "CliTestSupport.h"
#include "CommonAppData.h"
#include "DiscoveryResponder.h"
#include "TempDir.h"
#include "TerminalSim.h"

namespace
{
using Bytes = std::vector<uint8_t>;

sim::TerminalConfig SmallTerminal()
{
    sim::TerminalConfig config;
    config.strName = "SIM-CLI";
    config.strMac = "02:4E:7A:00:00:05";
    config.nProtocolCode = 0x30;
    config.nSicctVersion = 0x0114;
    sim::UnitConfig slot;
    slot.nType = 0x01;
    slot.nNumber = 0x01;
    slot.strName = "Slot 1";
    slot.bCardPresent = true;
    slot.vecAtr = {0x3B, 0x80, 0x01};
    sim::UnitConfig display;
    display.nType = 0x40;
    display.nNumber = 0x01;
    display.strName = "Anzeige";
    display.vecCharsets = {0, 12};
    config.vecUnits = {slot, display};
    return config;
}

Bytes FileBytes(size_t nSize)
{
    Bytes vec(nSize);
    for (size_t i = 0; i < nSize; ++i)
        vec[i] = static_cast<uint8_t>(i * 7 + 3);
    return vec;
}

class TerminalCtlSim : public ::testing::Test
{
protected:
    void SetUp() override { CCommonAppData::SetFolderOverride(m_dir.Path()); }
    void TearDown() override
    {
        m_responder.Stop();
        if (m_pSim)
            m_pSim->Stop();
        CCommonAppData::SetFolderOverride("");
    }
    void Start(const sim::TerminalConfig& config)
    {
        m_pSim = std::make_unique<sim::CTerminalSim>(config);
        std::string strError;
        ASSERT_EQ(m_pSim->Start(&strError), sim::SIM_OK) << strError;
        m_responder.AddTerminal(config, m_pSim->GetPort());
        ASSERT_EQ(m_responder.Start("127.0.0.1", 0, &strError), sim::SIM_OK) << strError;
    }
    std::string DiscoveryPort() const { return std::to_string(m_responder.GetPort()); }
    std::string Port() const { return std::to_string(m_pSim->GetPort()); }
    std::string WriteFile(const std::string& strName, const Bytes& vec)
    {
        const std::string strPath = m_dir.File(strName);
        std::ofstream(strPath, std::ios::binary).write(reinterpret_cast<const char*>(vec.data()),
                                                      static_cast<std::streamsize>(vec.size()));
        return strPath;
    }

    CTempDir m_dir;
    std::unique_ptr<sim::CTerminalSim> m_pSim;
    sim::CDiscoveryResponder m_responder;
    CCliHarness m_cli;
};
} // namespace

TEST_F(TerminalCtlSim, QueryAnswersFromLoopback)
{
    Start(SmallTerminal());
    EXPECT_EQ(m_cli.Run({"--discovery-port", DiscoveryPort(), "query", "127.0.0.1"}), cli::EXIT_OK);
    EXPECT_EQ(m_cli.out.str(),
              "Port  Terminal Name  IP-Adresse  MAC-Adresse        Typ  SICCT-Version\n"
              "      SIM-CLI        127.0.0.1   02:4E:7A:00:00:05  LAN  1.20\n");
    ASSERT_EQ(m_cli.Run({"--discovery-port", DiscoveryPort(), "query", "127.0.0.1", "--json"}), cli::EXIT_OK);
    const auto json = nlohmann::json::parse(m_cli.out.str());
    ASSERT_EQ(json.size(), 1u);
    EXPECT_EQ(json[0]["network_port"], m_pSim->GetPort());
    EXPECT_EQ(json[0]["protocol"], 0x30);
    EXPECT_EQ(json[0]["logical_name"], "127.0.0.1:" + Port() + ":48");
}

TEST_F(TerminalCtlSim, QueryOfASilentAddressIsExitFour)
{
    Start(SmallTerminal());
    // 127.0.0.2 is loopback too, but nobody answers there.
    EXPECT_EQ(m_cli.Run({"--discovery-port", DiscoveryPort(), "query", "127.0.0.2"}), cli::EXIT_NOT_FOUND);
    EXPECT_EQ(m_cli.out.str(), "");
}

TEST_F(TerminalCtlSim, CertificateValidityTextAndExitCodes)
{
    sim::TerminalConfig config = SmallTerminal();
    Start(config);
    EXPECT_EQ(m_cli.Run({"certvalid", "127.0.0.1", "--port", Port()}), cli::EXIT_OK);
    EXPECT_EQ(m_cli.out.str(),
              "gültig ab:   Mon Jan  1 00:00:00 2024\n"
              "gültig bis:  Sun Dec 31 23:59:59 2034\n"
              "Das Zertifikat ist gültig.\n");
    ASSERT_EQ(m_cli.Run({"certvalid", "127.0.0.1", "--port", Port(), "--json"}), cli::EXIT_OK);
    const auto json = nlohmann::json::parse(m_cli.out.str());
    EXPECT_EQ(json["not_before"], "2024-01-01T00:00:00Z");
    EXPECT_EQ(json["not_after"], "2034-12-31T23:59:59Z");
    EXPECT_EQ(json["status"], "valid");
    // Nobody listens on the simulator's port once it has stopped: red.
    m_pSim->Stop();
    EXPECT_EQ(m_cli.Run({"certvalid", "127.0.0.1", "--port", Port()}), cli::EXIT_FAILED);
    EXPECT_EQ(m_cli.out.str(), "gültig ab:\ngültig bis:\nEs wurde kein gültiges Zertifikat gefunden.\n");
}

TEST_F(TerminalCtlSim, ExpiredCertificateIsAWarning)
{
    sim::TerminalConfig config = SmallTerminal();
    config.strNotBefore = "20150101000000Z";
    config.strNotAfter = "20191231235959Z";
    Start(config);
    EXPECT_EQ(m_cli.Run({"certvalid", "127.0.0.1", "--port", Port()}), cli::EXIT_WARNING);
    EXPECT_NE(m_cli.out.str().find("Das Zertifikat ist abgelaufen.\n"), std::string::npos);
}

TEST_F(TerminalCtlSim, DiagnosisPrintsTheLogTheDeviceAndEveryUnit)
{
    Start(SmallTerminal());
    const std::string strExport = m_dir.File("diagnose_logfile.xml");
    EXPECT_EQ(m_cli.Run({"--discovery-port", DiscoveryPort(), "diagnose", "127.0.0.1", "--export", strExport}),
              cli::EXIT_OK);
    // The whole output against the golden text (the export path differs per run).
    std::string strGolden = CTempDir::Read(std::string(TC_CLI_TEST_DATA) + "/diagnose_small.txt");
    strGolden.replace(strGolden.find("@EXPORT@"), 8, strExport);
    EXPECT_EQ(m_cli.out.str(), strGolden);
    EXPECT_EQ(m_cli.err.str(), "");
    // The export file of the same run.
    const std::string strXml = CTempDir::Read(strExport);
    EXPECT_EQ(strXml.rfind("<?xml version=\"1.0\" encoding=\"ISO-8859-1\" standalone=\"yes\"?>\r\n<root>\r\n", 0), 0u);
    EXPECT_NE(strXml.find("\t<Name>SIM-CLI</Name>\r\n\t<IP>127.0.0.1</IP>\r\n\t<MAC>02-4E-7A-00-00-05</MAC>\r\n"
                          "\t<SecurityProtocol ID=\"0x30\">TLS 1.2</SecurityProtocol>\r\n"),
              std::string::npos);
    EXPECT_NE(strXml.find("\t\t<Port>" + Port() + "</Port>\r\n"), std::string::npos);
    EXPECT_NE(strXml.find("\t\t\t<ATR>3B 80 01</ATR>\r\n"), std::string::npos);
    // No settings are set: the file ends right after the terminal.
    EXPECT_TRUE(strXml.ends_with("\t</FunctionUnitList>\r\n</Terminal>\r\n</root>\r\n"));
}

TEST_F(TerminalCtlSim, DiagnosisWithoutQueryAndAsJson)
{
    Start(SmallTerminal());
    // Port, protocol and version given: no discovery at all (the responder port is not named).
    ASSERT_EQ(m_cli.Run({"diagnose", "127.0.0.1", "--port", Port(), "--protocol", "0x30", "--sicct-version", "1.20",
                         "--json"}),
              cli::EXIT_OK);
    const auto json = nlohmann::json::parse(m_cli.out.str());
    EXPECT_EQ(json["result"], "green");
    EXPECT_EQ(json["port"], m_pSim->GetPort());
    EXPECT_EQ(json["manufacturer"], "DEVNT");
    EXPECT_EQ(json["sicct_version"], "1.20");
    ASSERT_EQ(json["units"].size(), 2u);
    EXPECT_EQ(json["units"][0]["name"], "Slot 1");
    EXPECT_EQ(json["units"][1]["type"], "40");
    bool bAtr = false;
    for (const auto& row : json["units"][0]["values"])
        bAtr = bAtr || (row["name"] == "ATR" && row["value"] == "3B 80 01");
    EXPECT_TRUE(bAtr);
    EXPECT_EQ(json["log"].front(), "SSL wird geöffnet");
    EXPECT_EQ(json["export"], nullptr);
    // A terminal that refuses the unit list: red, exit 1.
    sim::FaultRule refuse;
    refuse.nIns = 0x13;
    refuse.nP2 = 0x81;
    refuse.nStatusWord = 0x6A80;
    m_pSim->AddFault(refuse);
    EXPECT_EQ(m_cli.Run({"diagnose", "127.0.0.1", "--port", Port(), "--protocol", "48", "--sicct-version", "1.20"}),
              cli::EXIT_FAILED);
}

TEST_F(TerminalCtlSim, FirmwareDownloadWithThePasswordFromStandardInput)
{
    Start(SmallTerminal());
    const Bytes vecFirmware = FileBytes(3000);
    const std::string strFile = WriteFile("fw.bin", vecFirmware);
    EXPECT_EQ(m_cli.Run({"--discovery-port", DiscoveryPort(), "firmware", "127.0.0.1", strFile, "--password-stdin"},
                        "12345678\n"),
              cli::EXIT_OK);
    EXPECT_EQ(m_cli.out.str(),
              "SSL wird geöffnet\n"
              "SSL geöffnet\n"
              "CT Sitzung wird geöffnet...\n"
              "CT_SESSION_INIT Sitzung wurde erfolgreich geöffnet.\n"
              "CT Firmware Version: 3.0.0.0\n"
              "Downloadsitzung wird geöffnet\n"
              "Download wurde initialisiert.\n"
              "Sende Daten...\n"
              "Downloadsitzung wird geschlossen\n"
              "Download wurde beendet.\n"
              "Signatur OK\n"
              "CT Sitzung wird geschlossen...\n"
              "CT_SESSION_CLOSE Sitzung wurde erfolgreich geschlossen.\n"
              "SSL wurde geschlossen\n");
    EXPECT_EQ(m_pSim->GetDownloadImage(), vecFirmware);
    EXPECT_EQ(m_pSim->GetDownloadPacketSizes(), (std::vector<int>{1024, 1024, 952}));
    EXPECT_EQ(m_cli.nPasswordPrompts, 0);
    EXPECT_EQ(m_cli.out.str().find("12345678"), std::string::npos);
    EXPECT_EQ(m_cli.err.str().find("12345678"), std::string::npos);

    // A wrong password: the session is refused, red.
    EXPECT_EQ(m_cli.Run({"firmware", "127.0.0.1", strFile, "--port", Port(), "--protocol", "0x30", "--sicct-version",
                         "1.20", "--password-stdin"},
                        "falsch\n"),
              cli::EXIT_FAILED);
    EXPECT_NE(m_cli.out.str().find("Invalid Password"), std::string::npos) << m_cli.out.str();
    // No password on standard input: nothing is sent.
    EXPECT_EQ(m_cli.Run({"firmware", "127.0.0.1", strFile, "--port", Port(), "--protocol", "0x30", "--sicct-version",
                         "1.20", "--password-stdin"}),
              cli::EXIT_USAGE);
    EXPECT_EQ(m_cli.err.str(), "terminalctl: no password on standard input\n");
    EXPECT_EQ(m_cli.out.str(), "");
    // Without --password-stdin the prompt (here a double) is asked once.
    EXPECT_EQ(m_cli.Run({"firmware", "127.0.0.1", strFile, "--port", Port(), "--protocol", "0x30", "--sicct-version",
                         "1.20", "--user", "admin"}),
              cli::EXIT_OK);
    EXPECT_EQ(m_cli.nPasswordPrompts, 1);
    // On a terminal the same run draws the bar: bytes and percent as the dialog shows them.
    m_cli.bProgressBar = true;
    EXPECT_EQ(m_cli.Run({"firmware", "127.0.0.1", strFile, "--port", Port(), "--protocol", "0x30", "--sicct-version",
                         "1.20", "--password-stdin"},
                        "12345678\n"),
              cli::EXIT_OK);
    const std::string strScreen = m_cli.out.str();
    EXPECT_NE(strScreen.find("] 34 %  Gesendete Bytes: 1024"), std::string::npos) << strScreen;
    EXPECT_NE(strScreen.find("] 68 %  Gesendete Bytes: 2048"), std::string::npos) << strScreen;
    EXPECT_TRUE(strScreen.ends_with("] 100 %  Gesendete Bytes: 3000\n")) << strScreen;
    EXPECT_NE(strScreen.find("\r\033[KSende Daten...\n"), std::string::npos) << strScreen;
}

TEST_F(TerminalCtlSim, CtrlCDuringTheFirmwareDownloadIsExitThree)
{
    sim::TerminalConfig config = SmallTerminal();
    sim::FaultRule slow;  // every data packet is answered late
    slow.nIns = 0x25;
    slow.nDelayMs = 100;  // shorter than the shortened cancel wait (200 ms)
    config.vecFaults = {slow};
    Start(config);
    const std::string strFile = WriteFile("fw.bin", FileBytes(20 * 1024));
    std::thread cancel([this] {
        // Ctrl-C once the second packet has gone out.
        for (int i = 0; i < 200 && m_pSim->GetDownloadPacketSizes().size() < 2; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        m_cli.bCancel = true;
    });
    const int nExit = m_cli.Run({"firmware", "127.0.0.1", strFile, "--port", Port(), "--protocol", "0x30",
                                 "--sicct-version", "1.20", "--password-stdin"},
                                "12345678\n");
    cancel.join();
    EXPECT_EQ(nExit, cli::EXIT_WARNING);
    EXPECT_NE(m_cli.out.str().find("[WARNUNG]: Ausführung durch den Benutzer abgebrochen.\n"), std::string::npos)
        << m_cli.out.str();
    EXPECT_LT(m_pSim->GetDownloadPacketSizes().size(), 20u);
}

TEST_F(TerminalCtlSim, CertificateListDownload)
{
    Start(SmallTerminal());
    const Bytes vecList = FileBytes(700);
    const std::string strFile = WriteFile("ca.bin", vecList);
    EXPECT_EQ(m_cli.Run({"--discovery-port", DiscoveryPort(), "certlist", "127.0.0.1", strFile, "--password-stdin"},
                        "12345678\n"),
              cli::EXIT_OK);
    EXPECT_EQ(m_pSim->GetCertificateList(), vecList);
    EXPECT_NE(m_cli.out.str().find("CT Firmware Version: 3.0.0.0\nZertifikate schreiben\n"), std::string::npos)
        << m_cli.out.str();
    // An empty list file: the dialog's text, no password asked, nothing sent.
    const std::string strEmpty = WriteFile("empty.bin", {});
    EXPECT_EQ(m_cli.Run({"certlist", "127.0.0.1", strEmpty, "--port", Port(), "--protocol", "0x30",
                         "--sicct-version", "1.20"}),
              cli::EXIT_USAGE);
    EXPECT_EQ(m_cli.out.str(), "Zertifikate können nicht aus Datei gelesen werden.\n");
    EXPECT_EQ(m_cli.nPasswordPrompts, 0);
}

TEST_F(TerminalCtlSim, DiagnosisTheCtApiWay)
{
    sim::TerminalConfig config = SmallTerminal();
    config.nProtocolCode = 0;  // the CT-API library in front of the simulator speaks plain TCP
    Start(config);
    ::setenv("TC_CTAPI_SIM", ("127.0.0.1:" + Port()).c_str(), 1);
    // No discovery: the CT-API way needs neither port nor protocol of the network.
    const int nExit = m_cli.Run({"diagnose", "127.0.0.1", "--ctapi", TC_CTAPI_SIM_LIBRARY, "--ctapi-port", "1",
                                 "--sicct-version", "1.20", "--json"});
    ::unsetenv("TC_CTAPI_SIM");
    ASSERT_EQ(nExit, cli::EXIT_OK) << m_cli.out.str() << m_cli.err.str();
    const auto json = nlohmann::json::parse(m_cli.out.str());
    EXPECT_EQ(json["manufacturer"], "DEVNT");
    ASSERT_EQ(json["units"].size(), 2u);
    EXPECT_EQ(json["units"][1]["name"], "Anzeige");
    // A library path that does not exist: the dialog's message, nothing started.
    EXPECT_EQ(m_cli.Run({"diagnose", "127.0.0.1", "--ctapi", m_dir.File("missing.so")}), cli::EXIT_USAGE);
    EXPECT_EQ(m_cli.err.str(), "Die CTAPI-DLL konnte unter dem angegebenen Pfad nicht gefunden werden!\n");
}
