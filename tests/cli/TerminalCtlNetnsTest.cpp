// terminalctl's search and fleet over a real (virtual) network: simulated terminals and their
// discovery responder in one network namespace, terminalctl in another, joined by a veth
// pair the test creates and deletes. Never touches the machine's own interfaces. Needs
// root; skips otherwise.
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "CliCodes.h"
#include "CliTestSupport.h"
#include "CommonAppData.h"
#include "DiscoveryResponder.h"
#include "NetnsPair.h"
#include "TempDir.h"
#include "TerminalSim.h"

namespace
{
sim::TerminalConfig Terminal(const std::string& strAddress, int nPort, const std::string& strMac,
                             const std::string& strName)
{
    sim::TerminalConfig config;
    config.strAddress = strAddress;
    config.nPort = nPort;
    config.strMac = strMac;
    config.strName = strName;
    config.nProtocolCode = 0x30;
    return config;
}

class TerminalCtlNetns : public ::testing::Test
{
protected:
    void SetUp() override
    {
        m_pPair = std::make_unique<CNetnsPair>("tccli");
        if (!m_pPair->IsReady())
            GTEST_SKIP() << "terminalctl namespace tests skipped: " << m_pPair->Error();
        m_vecTerminals = {Terminal(m_pPair->AddressA(), 4742, "02:4E:7A:00:00:21", "NS-TERMINAL-1"),
                          Terminal(m_pPair->AddressA(), 4743, "02:00:5E:00:00:22", "NS-TERMINAL-2")};
        // Terminals and responder in namespace A, until the test ends.
        const auto vecTerminals = m_vecTerminals;
        const std::string strAddress = m_pPair->AddressA();
        ASSERT_TRUE(m_terminals.Start(m_pPair->NameA(), [vecTerminals, strAddress](int nStopFd, int nOutFd) {
            std::vector<std::unique_ptr<sim::CTerminalSim>> vecSims;
            sim::CDiscoveryResponder responder;
            responder.AllowNonLoopback(true);  // only inside this test's namespace
            std::string strError;
            for (const auto& config : vecTerminals)
            {
                vecSims.push_back(std::make_unique<sim::CTerminalSim>(config));
                vecSims.back()->AllowNonLoopback(true);
                if (vecSims.back()->Start(&strError) != sim::SIM_OK)
                {
                    CNetnsChild::WriteLine(nOutFd, "ERROR " + strError);
                    return;
                }
                responder.AddTerminal(config, static_cast<uint16_t>(config.nPort));
            }
            // 0.0.0.0: a socket bound to one address does not see broadcasts.
            if (responder.Start("0.0.0.0", 4742, &strError) != sim::SIM_OK)
            {
                CNetnsChild::WriteLine(nOutFd, "ERROR " + strError);
                return;
            }
            CNetnsChild::WriteLine(nOutFd, "READY");
            CNetnsChild::WaitForStop(nStopFd, 60000);
            responder.Stop();
            for (auto& p : vecSims)
                p->Stop();
        }));
        ASSERT_TRUE(m_terminals.WaitForLine("READY", 10000)) << m_terminals.Finish(100);
    }

    /// Runs terminalctl in namespace B; its exit code and standard output.
    std::pair<int, std::string> RunInB(const std::vector<std::string>& vecArgs)
    {
        CNetnsChild child;
        const std::string strFolder = m_dir.Path();
        EXPECT_TRUE(child.Start(m_pPair->NameB(), [vecArgs, strFolder](int, int nOutFd) {
            CCommonAppData::SetFolderOverride(strFolder);  // no mapping file of this machine
            CCliHarness cli;
            const int nExit = cli.Run(vecArgs);
            CNetnsChild::WriteLine(nOutFd, std::to_string(nExit));
            CNetnsChild::WriteLine(nOutFd, cli.out.str() + "END");
        }));
        EXPECT_TRUE(child.WaitForLine("END", 60000));
        const std::string strOutput = child.Finish(2000);
        const size_t nFirst = strOutput.find('\n');
        const size_t nEnd = strOutput.rfind("END\n");
        if (nFirst == std::string::npos || nEnd == std::string::npos || nEnd < nFirst)
            return {-1, strOutput};
        return {std::atoi(strOutput.substr(0, nFirst).c_str()), strOutput.substr(nFirst + 1, nEnd - nFirst - 1)};
    }

    CTempDir m_dir;
    std::unique_ptr<CNetnsPair> m_pPair;
    std::vector<sim::TerminalConfig> m_vecTerminals;
    CNetnsChild m_terminals;
};
} // namespace

TEST_F(TerminalCtlNetns, SearchListsTheTerminalsOfTheNetwork)
{
    const auto [nExit, strOut] = RunInB({"search"});
    ASSERT_EQ(nExit, cli::EXIT_OK) << strOut;
    // Answer order is not fixed: compare the rows as a set.
    const std::string strA = m_pPair->AddressA();
    const std::string strHeader = "Port  Terminal Name  IP-Adresse" + std::string(strA.size() - 10 + 2, ' ') +
                                  "MAC-Adresse        Typ        SICCT-Version\n";
    EXPECT_EQ(strOut.rfind(strHeader, 0), 0u) << strOut;
    EXPECT_NE(strOut.find("      NS-TERMINAL-1  " + strA + "  02:4E:7A:00:00:21  LAN        1.20\n"), std::string::npos)
        << strOut;
    EXPECT_NE(strOut.find("      NS-TERMINAL-2  " + strA + "  02:00:5E:00:00:22  LAN-Proxy  1.20\n"), std::string::npos)
        << strOut;

    const auto [nJsonExit, strJson] = RunInB({"search", "--json"});
    ASSERT_EQ(nJsonExit, cli::EXIT_OK);
    const auto json = nlohmann::json::parse(strJson);
    ASSERT_EQ(json.size(), 2u);
    for (const auto& item : json)
    {
        EXPECT_EQ(item["ip"], strA);
        EXPECT_EQ(item["protocol"], 48);
        EXPECT_EQ(item["connection_type"], 3);
        EXPECT_TRUE(item["network_port"] == 4742 || item["network_port"] == 4743);
    }
}

TEST_F(TerminalCtlNetns, FleetReadsFirmwareAndCertificateOfEveryTerminal)
{
    const auto [nExit, strJson] = RunInB({"fleet", "--json", "--jobs", "2", "--cert-port", "4742"});
    ASSERT_EQ(nExit, cli::EXIT_OK) << strJson;
    const auto json = nlohmann::json::parse(strJson);
    ASSERT_EQ(json.size(), 2u);
    for (const auto& item : json)
    {
        EXPECT_EQ(item["checked"], true);
        EXPECT_EQ(item["firmware_version"], "3.0.0.0");
        EXPECT_EQ(item["cert_status"], "valid");
        EXPECT_EQ(item["cert_not_after"], "2034-12-31T23:59:59Z");
    }
    // The certificate port without a TLS server: both certificates missing, red.
    const auto [nRedExit, strTable] = RunInB({"fleet", "--cert-port", "9"});
    EXPECT_EQ(nRedExit, cli::EXIT_FAILED);
    EXPECT_NE(strTable.find("Es wurde kein gültiges Zertifikat gefunden."), std::string::npos) << strTable;
    EXPECT_EQ(strTable.rfind("Terminal Name  IP-Adresse", 0), 0u) << strTable;
}
