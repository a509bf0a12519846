// terminalctl without a network: arguments, exit codes, the main window's columns and labels
// as text and JSON, the merged configured ports, and the password sources.
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <csignal>

#include "CancelSignal.h"
#include "CliCodes.h"
#include "CliTestSupport.h"
#include "PasswordSource.h"
#include "SecretText.h"

namespace
{
class TerminalCtlUnit : public ::testing::Test
{
protected:
    void SetUp() override
    {
        m_cli.pFinder = &m_finder;
        m_finder.vecLan = {LanDevice("ST-1500 Empfang", "10.1.2.3", "02:4E:7A:00:00:01", 4742, 48),
                           LanDevice("Proxy", "10.1.2.4", "00:11:22:33:44:55", 4742, 17, 0x0103)};
        CDeviceInfo usb;
        usb.SetConnectionType(5);
        usb.SetName("Tastatur");
        usb.SetMacAddress("AA:BB:CC:DD:EE:FF");
        usb.SetSicctVersion(0x0114);
        m_finder.vecUsb = {usb};
        // The configured port of the first terminal comes from the middleware configuration.
        CDeviceInfo configured = LanDevice("x", "10.1.2.3", "", 4742, 48);
        configured.SetPort(7);
        m_finder.vecConfigured = {configured};
        m_finder.mapQuery[0x0A010203] = m_finder.vecLan[0];
    }
    CFakeFinder m_finder;
    CCliHarness m_cli;
};
} // namespace

TEST_F(TerminalCtlUnit, SearchShowsTheMainWindowsColumnsAndLabels)
{
    EXPECT_EQ(m_cli.Run({"search"}), cli::EXIT_OK);
    EXPECT_EQ(m_cli.out.str(),
              "Port  Terminal Name    IP-Adresse  MAC-Adresse        Typ        SICCT-Version\n"
              "7     ST-1500 Empfang  10.1.2.3    02:4E:7A:00:00:01  LAN        1.20\n"
              "      Proxy            10.1.2.4    00:11:22:33:44:55  LAN-Proxy  1.3\n"
              "      Tastatur                     AA:BB:CC:DD:EE:FF  USB        1.20\n");
    EXPECT_EQ(m_cli.err.str(), "");
}

TEST_F(TerminalCtlUnit, SearchJsonHasTheDocumentedKeysInOrder)
{
    ASSERT_EQ(m_cli.Run({"search", "--json"}), cli::EXIT_OK);
    const auto json = nlohmann::ordered_json::parse(m_cli.out.str());
    ASSERT_TRUE(json.is_array());
    ASSERT_EQ(json.size(), 3u);
    std::vector<std::string> vecKeys;
    for (const auto& item : json[0].items())
        vecKeys.push_back(item.key());
    EXPECT_EQ(vecKeys, (std::vector<std::string>{"port", "name", "ip", "mac", "type", "connection_type",
                                                 "sicct_version", "network_port", "protocol", "logical_name"}));
    EXPECT_EQ(json[0]["port"], 7);
    EXPECT_EQ(json[0]["name"], "ST-1500 Empfang");
    EXPECT_EQ(json[0]["type"], "LAN");
    EXPECT_EQ(json[0]["protocol"], 48);
    EXPECT_EQ(json[0]["network_port"], 4742);
    EXPECT_EQ(json[0]["logical_name"], "10.1.2.3:4742:48");
    EXPECT_EQ(json[1]["type"], "LAN-Proxy");
    EXPECT_EQ(json[1]["sicct_version"], "1.3");
    EXPECT_EQ(json[2]["connection_type"], 5);
    EXPECT_EQ(json[2]["ip"], "");
}

TEST_F(TerminalCtlUnit, NothingFoundIsExitFourWithAnEmptyList)
{
    CFakeFinder empty;
    m_cli.pFinder = &empty;
    EXPECT_EQ(m_cli.Run({"search", "--json"}), cli::EXIT_NOT_FOUND);
    EXPECT_EQ(nlohmann::json::parse(m_cli.out.str()), nlohmann::json::array());
    EXPECT_EQ(m_cli.Run({"query", "10.9.9.9"}), cli::EXIT_NOT_FOUND);
    EXPECT_EQ(m_cli.out.str(), "");
    EXPECT_EQ(m_cli.err.str(), "terminalctl: no terminal answered at 10.9.9.9\n");
    // A maintenance command without its terminal does not start.
    EXPECT_EQ(m_cli.Run({"diagnose", "10.9.9.9"}), cli::EXIT_NOT_FOUND);
    EXPECT_EQ(m_cli.Run({"fleet"}), cli::EXIT_NOT_FOUND);
}

TEST_F(TerminalCtlUnit, QueryPrintsOneRow)
{
    EXPECT_EQ(m_cli.Run({"query", "10.1.2.3"}), cli::EXIT_OK);
    EXPECT_EQ(m_cli.out.str(),
              "Port  Terminal Name    IP-Adresse  MAC-Adresse        Typ  SICCT-Version\n"
              "      ST-1500 Empfang  10.1.2.3    02:4E:7A:00:00:01  LAN  1.20\n");
    EXPECT_EQ(m_finder.nQueries, 1);
}

TEST_F(TerminalCtlUnit, BadArgumentsAreExitTwoWithAClearMessage)
{
    struct SCase
    {
        std::vector<std::string> vecArgs;
        std::string strMessage;
    };
    const std::vector<SCase> vecCases = {
        {{}, "a subcommand is required"},
        {{"frobnicate"}, "not expected: frobnicate"},
        {{"query"}, "IPV4 is required"},
        {{"query", "300.1.1.1"}, "not an IPv4 address: 300.1.1.1"},
        {{"query", "0.0.0.0"}, "not an IPv4 address: 0.0.0.0"},
        {{"certvalid", "10.1.2.3", "--port", "70000"}, "--port"},
        {{"diagnose", "10.1.2.3", "--protocol", "zz"}, "--protocol needs a number"},
        {{"diagnose", "10.1.2.3", "--protocol", "0x130"}, "--protocol needs a number"},
        {{"diagnose", "10.1.2.3", "--sicct-version", "1"}, "--sicct-version needs MAJOR.MINOR"},
        {{"firmware", "10.1.2.3"}, "FILE is required"},
        {{"firmware", "10.1.2.3", "/nonexistent/fw.bin", "--password-stdin"},
         "Datei /nonexistent/fw.bin enthält keine gültige Firmware."},
        {{"fleet", "--jobs", "0"}, "--jobs"},
        {{"firmware", "10.1.2.3", "fw.bin", "--password", "secret"}, "--password"},
    };
    for (const SCase& c : vecCases)
    {
        SCOPED_TRACE(c.strMessage);
        EXPECT_EQ(m_cli.Run(c.vecArgs), cli::EXIT_USAGE);
        EXPECT_NE(m_cli.err.str().find(c.strMessage), std::string::npos) << m_cli.err.str();
    }
    // Nothing reached a terminal, and no password was asked for.
    EXPECT_EQ(m_cli.nPasswordPrompts, 0);
}

TEST_F(TerminalCtlUnit, HelpNamesTheExitCodes)
{
    EXPECT_EQ(m_cli.Run({"--help"}), cli::EXIT_OK);
    const std::string str = m_cli.out.str();
    for (const char* psz : {"0  success", "1  failed", "2  usage error", "3  cancelled", "4  nothing found"})
        EXPECT_NE(str.find(psz), std::string::npos) << psz;
}

TEST_F(TerminalCtlUnit, CancelBeforeTheRunStartsIsExitThree)
{
    m_cli.bCancel = true;
    EXPECT_EQ(m_cli.Run({"query", "10.1.2.3"}), cli::EXIT_WARNING);
    EXPECT_EQ(m_cli.Run({"search"}), cli::EXIT_WARNING);
}

TEST(PasswordSource, ReadsOneLineAndNothingMore)
{
    CSecretText secret;
    std::istringstream in("geheim\r\nrest\n");
    EXPECT_EQ(cli::ReadPasswordLine(in, secret), cli::PASSWORD_OK);
    EXPECT_EQ(secret.Text(), "geheim");
    std::istringstream noNewline("abc");
    EXPECT_EQ(cli::ReadPasswordLine(noNewline, secret), cli::PASSWORD_OK);
    EXPECT_EQ(secret.Text(), "abc");
    std::istringstream emptyLine("\n");
    EXPECT_EQ(cli::ReadPasswordLine(emptyLine, secret), cli::PASSWORD_OK);
    EXPECT_TRUE(secret.Empty());
    std::istringstream nothing("");
    EXPECT_EQ(cli::ReadPasswordLine(nothing, secret), cli::PASSWORD_NO_INPUT);
    std::istringstream tooLong(std::string(CSecretText::kMaxLength + 1, 'x') + "\n");
    EXPECT_EQ(cli::ReadPasswordLine(tooLong, secret), cli::PASSWORD_TOO_LONG);
    EXPECT_TRUE(secret.Empty());
}

TEST(PasswordSource, ClearingOverwritesTheBuffer)
{
    CSecretText secret;
    for (char c : std::string("12345678"))
        secret.Append(c);
    const char* pData = secret.Text().data();
    secret.Clear();
    // Same buffer (reserved once), now zeros.
    EXPECT_EQ(secret.Text().data(), pData);
    for (size_t i = 0; i < 8; ++i)
        EXPECT_EQ(pData[i], '\0');
}

TEST(CancelSignal, FirstInterruptSetsTheFlagSecondEndsWithThree)
{
    CCancelSignal::Flag() = false;
    CCancelSignal::OnInterrupt();
    EXPECT_TRUE(CCancelSignal::Flag());
    EXPECT_EXIT(CCancelSignal::OnInterrupt(), ::testing::ExitedWithCode(cli::EXIT_WARNING), "cancelled");
    // Through the real signal: the installed handler sets the flag and the process goes on.
    CCancelSignal::Flag() = false;
    ASSERT_TRUE(CCancelSignal::Install());
    std::raise(SIGINT);
    EXPECT_TRUE(CCancelSignal::Flag());
    EXPECT_EXIT(std::raise(SIGINT), ::testing::ExitedWithCode(cli::EXIT_WARNING), "");
    CCancelSignal::Flag() = false;
    std::signal(SIGINT, SIG_DFL);
}
