// Scenario files, the discovery responder on loopback and the simulator executable.

#include "DiscoveryResponder.h"
#include "ScenarioFile.h"
#include "TerminalSim.h"
#include "TestClient.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <csignal>
#include <fstream>
#include <netinet/in.h>
#include <poll.h>
#include <set>
#include <sys/socket.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

using simtest::Bytes;
using simtest::CTestClient;

namespace
{
int Parse(const std::string& strJson, sim::Scenario& s, std::string& strError)
{
    return sim::ParseScenario(strJson, "test.json", s, strError);
}

TEST(SimScenarioTest, DemoScenarioLoadsWithItsUnitsAndDecodableManufacturerData)
{
    sim::Scenario s;
    std::string strError;
    ASSERT_EQ(sim::LoadScenarioFile(TC_SIM_SCENARIO_DIR "/demo.json", s, strError), sim::SIM_OK) << strError;
    ASSERT_EQ(s.vecTerminals.size(), 2u);
    EXPECT_EQ(s.nDiscoveryPort, 4742);
    const sim::TerminalConfig& t = s.vecTerminals[0];
    EXPECT_EQ(t.nProtocolCode, 0x30);
    EXPECT_EQ(t.nSicctVersion, 0x0114);
    ASSERT_EQ(t.vecUnits.size(), 4u);
    EXPECT_TRUE(t.vecUnits[0].bCardPresent);
    EXPECT_FALSE(t.vecUnits[1].bCardPresent);
    EXPECT_EQ(t.vecUnits[2].nType, 0x40);
    EXPECT_EQ(t.vecUnits[2].vecCharsets, (std::vector<uint8_t>{0, 15, 32}));
    EXPECT_EQ(t.vecUnits[3].nType, 0x50);
    // discretionary object D7: version digits at bytes 30..38 counted from the tag
    const Bytes& d = t.manufacturer.vecDiscretionary;
    ASSERT_GE(d.size(), 39u);
    EXPECT_EQ(d[0], 0xD7);
    EXPECT_EQ(std::string(d.begin() + 30, d.begin() + 39), "003000005");
    EXPECT_EQ(std::string(d.begin() + 22, d.begin() + 30), "ST1500  ");
    EXPECT_EQ(s.vecTerminals[1].nProtocolCode, 0x11);
    EXPECT_TRUE(s.vecTerminals[1].bDiscoveryA1Form);
    EXPECT_EQ(s.vecTerminals[1].ePacketSizeLayout, sim::EPacketSizeLayout::A);
}

TEST(SimScenarioTest, FaultsAndNumbersInBothNotations)
{
    sim::Scenario s;
    std::string strError;
    ASSERT_EQ(Parse(R"({"terminals":[{"name":"T","protocol":48,"sicctVersion":"0x0103",
        "faults":[{"ins":"25","occurrence":3,"action":"drop"},
                  {"ins":"0x13","p2":"46","action":"malformed","malformed":"hugeLength"},
                  {"commandIndex":0,"status":"6400","eventsBefore":["80 00"],"splitParts":4}]}]})",
                    s, strError),
              sim::SIM_OK)
        << strError;
    const auto& t = s.vecTerminals[0];
    EXPECT_EQ(t.nProtocolCode, 0x30);
    EXPECT_EQ(t.nSicctVersion, 0x0103);
    ASSERT_EQ(t.vecFaults.size(), 3u);
    EXPECT_EQ(t.vecFaults[0].nIns, 0x25);
    EXPECT_EQ(t.vecFaults[0].nOccurrence, 3);
    EXPECT_EQ(t.vecFaults[0].eKind, sim::EFaultKind::Drop);
    EXPECT_EQ(t.vecFaults[1].eMalformed, sim::EMalformed::HugeLength);
    EXPECT_EQ(t.vecFaults[1].nP2, 0x46);
    EXPECT_EQ(t.vecFaults[2].nStatusWord, 0x6400);
    EXPECT_EQ(t.vecFaults[2].vecEventsBefore, (std::vector<Bytes>{{0x80, 0x00}}));
    EXPECT_EQ(t.vecFaults[2].nSplitParts, 4);
}

TEST(SimScenarioTest, BrokenFilesGiveAClearErrorNamingTheField)
{
    struct Case
    {
        const char* pszJson;
        const char* pszExpected;
    };
    const Case cases[] = {
        {R"({"terminals":[{"name":"T",)", "not valid JSON"},
        {R"([1,2])", "must be an object"},
        {R"({"terminals":[]})", "terminals: a non-empty list"},
        {R"({"terminals":[{"protocol":"0x40"}]})", "terminals[0].protocol"},
        {R"({"terminals":[{"prot":16}]})", "terminals[0].prot: unknown field"},
        {R"({"terminals":[{"mac":"02:00"}]})", "terminals[0].mac"},
        {R"({"terminals":[{"sicctVersion":"one"}]})", "sicctVersion"},
        {R"({"terminals":[{"units":[{"type":"zz"}]}]})", "terminals[0].units[0].type"},
        {R"({"terminals":[{"units":[{"charsets":[300]}]}]})", "units[0].charsets"},
        {R"({"terminals":[{"faults":[{"action":"explode"}]}]})", "faults[0].action"},
        {R"({"terminals":[{"faults":[{"body":"9"}]}]})", "faults[0].body"},
        {R"({"terminals":[{"download":{"layout":"C"}}]})", "download.layout"},
        {R"({"terminals":[{"download":{"maxPacketSize":70000}}]})", "download.maxPacketSize"},
        {R"({"terminals":[{"certificate":{"key":"dsa"}}]})", "certificate.key"},
        {R"({"terminals":[{"port":"zz"}]})", "terminals[0].port"},
        {R"({"terminals":[{"name":17}]})", "terminals[0].name: must be a text"},
    };
    for (const auto& c : cases)
    {
        sim::Scenario s;
        std::string strError;
        EXPECT_EQ(Parse(c.pszJson, s, strError), sim::SIM_ERR_CONFIG) << c.pszJson;
        EXPECT_NE(strError.find(c.pszExpected), std::string::npos) << c.pszJson << " -> " << strError;
        EXPECT_TRUE(s.vecTerminals.empty());
    }
    sim::Scenario s;
    std::string strError;
    EXPECT_EQ(sim::LoadScenarioFile("/nonexistent/scenario.json", s, strError), sim::SIM_ERR_CONFIG);
    EXPECT_NE(strError.find("cannot be read"), std::string::npos);
}

// ---------------------------------------------------------------- discovery on loopback

class CUdpHost
{
public:
    CUdpHost()
    {
        m_nFd = ::socket(AF_INET, SOCK_DGRAM, 0);
        sockaddr_in sa{};
        sa.sin_family = AF_INET;
        sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::bind(m_nFd, reinterpret_cast<sockaddr*>(&sa), sizeof sa);
        socklen_t n = sizeof sa;
        ::getsockname(m_nFd, reinterpret_cast<sockaddr*>(&sa), &n);
        m_nPort = ntohs(sa.sin_port);
        int nBuf = 4 << 20;
        ::setsockopt(m_nFd, SOL_SOCKET, SO_RCVBUF, &nBuf, sizeof nBuf);
    }
    ~CUdpHost() { ::close(m_nFd); }

    /// Sends the 16-byte request to 127.0.0.1:nTo announcing nAnnouncedIp:nAnnouncedPort.
    void Request(uint16_t nTo, uint32_t nAnnouncedIpHostOrder, uint16_t nAnnouncedPort)
    {
        const uint32_t ip = nAnnouncedIpHostOrder;
        const Bytes v = {0xA0, 0x0E, 0x80, 0x02, 0x01, 0x14, 0x81, 0x04, uint8_t(ip >> 24), uint8_t(ip >> 16),
                         uint8_t(ip >> 8), uint8_t(ip), 0x82, 0x02, uint8_t(nAnnouncedPort >> 8), uint8_t(nAnnouncedPort)};
        sockaddr_in to{};
        to.sin_family = AF_INET;
        to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        to.sin_port = htons(nTo);
        ::sendto(m_nFd, v.data(), v.size(), 0, reinterpret_cast<sockaddr*>(&to), sizeof to);
    }

    /// Collects datagrams until nIdleMs pass without one (at most nMax).
    std::vector<Bytes> Collect(int nIdleMs, size_t nMax = 100000)
    {
        std::vector<Bytes> vec;
        while (vec.size() < nMax)
        {
            pollfd pfd{m_nFd, POLLIN, 0};
            if (::poll(&pfd, 1, nIdleMs) <= 0)
                break;
            uint8_t buf[2048];
            const ssize_t n = ::recv(m_nFd, buf, sizeof buf, 0);
            if (n > 0)
                vec.emplace_back(buf, buf + n);
        }
        return vec;
    }

    uint16_t m_nPort = 0;

private:
    int m_nFd = -1;
};

TEST(SimDiscoveryTest, AnswersGoToTheAnnouncedPortInPlainAndA1Form)
{
    sim::TerminalConfig a;
    a.strName = "SIM-A";
    a.strMac = "02:00:5E:10:00:0A";
    a.nProtocolCode = 0x30;
    sim::TerminalConfig b = a;
    b.strName = "SIM-B";
    b.strMac = "02:00:5E:10:00:0B";
    b.nProtocolCode = 0x11;
    b.nSicctVersion = 0x0103;
    b.bDiscoveryA1Form = true;
    sim::CDiscoveryResponder responder;
    responder.AddTerminal(a, 4000);
    responder.AddTerminal(b, 4001);
    std::string strError;
    ASSERT_EQ(responder.Start("127.0.0.1", 0, &strError), sim::SIM_OK) << strError;

    CUdpHost sender;   // sends the request
    CUdpHost listener; // is announced in it
    sender.Request(responder.GetPort(), 0x7F000001, listener.m_nPort);
    const auto vec = listener.Collect(500);
    ASSERT_EQ(vec.size(), 2u);
    EXPECT_TRUE(sender.Collect(100).empty()); // nothing to the sender's own port
    const Bytes vecA = {0x80, 0x02, 0x01, 0x14, 0x81, 0x04, 127, 0, 0, 1, 0x82, 0x02, 0x0F, 0xA0, 0x83, 0x06,
                        0x02, 0x00, 0x5E, 0x10, 0x00, 0x0A, 0x84, 0x05, 'S', 'I', 'M', '-', 'A', 0x85, 0x03, 0x8A,
                        0x01, 0x30};
    EXPECT_EQ(vec[0], vecA);
    ASSERT_GE(vec[1].size(), 2u);
    EXPECT_EQ(vec[1][0], 0xA1);
    EXPECT_EQ(vec[1][1], vec[1].size() - 2);
    EXPECT_EQ(vec[1][2], 0x80);
    EXPECT_EQ(vec[1].back(), 0x11);

    // a request announcing an address outside loopback is not answered
    sender.Request(responder.GetPort(), 0x0A000001, listener.m_nPort);
    // nor is a datagram that is no request
    sender.Request(responder.GetPort(), 0x7F000001, 0);
    EXPECT_TRUE(listener.Collect(300).empty());
    EXPECT_EQ(responder.RequestsAnswered(), 1);
    EXPECT_EQ(responder.RequestsIgnored(), 2);
    responder.Stop();
}

TEST(SimDiscoveryTest, ThousandsOfSyntheticTerminalsAnswerWithDistinctMacs)
{
    sim::CDiscoveryResponder responder;
    responder.AddSynthetic(3000);
    ASSERT_EQ(responder.Start("127.0.0.1", 0), sim::SIM_OK);
    CUdpHost listener;
    listener.Request(responder.GetPort(), 0x7F000001, listener.m_nPort);
    const auto vec = listener.Collect(1000);
    std::set<Bytes> setMacs;
    for (const auto& v : vec)
        if (v.size() > 22 && v[14] == 0x83)
            setMacs.insert(Bytes(v.begin() + 16, v.begin() + 22));
    EXPECT_EQ(responder.DatagramsSent(), 3000);
    EXPECT_EQ(vec.size(), 3000u);
    EXPECT_EQ(setMacs.size(), vec.size());
}

TEST(SimDiscoveryTest, RefusesNonLoopbackBind)
{
    sim::CDiscoveryResponder responder;
    EXPECT_EQ(responder.Start("192.0.2.1", 0), sim::SIM_ERR_NOT_LOOPBACK);
    EXPECT_EQ(responder.Start("not-an-address", 0), sim::SIM_ERR_CONFIG);
}

// ---------------------------------------------------------------- the executable

class CChild
{
public:
    bool Spawn(const std::vector<std::string>& vecArgs, const std::string& strOut)
    {
        m_nPid = ::fork();
        if (m_nPid == 0)
        {
            std::vector<char*> argv;
            for (const auto& s : vecArgs)
                argv.push_back(const_cast<char*>(s.c_str()));
            argv.push_back(nullptr);
            if (!freopen(strOut.c_str(), "w", stdout) || !freopen(strOut.c_str(), "a", stderr))
                _exit(126);
            ::execv(argv[0], argv.data());
            _exit(127);
        }
        return m_nPid > 0;
    }
    /// Waits at most nMs for the child's exit; -1 when it still runs.
    int Wait(int nMs)
    {
        for (int i = 0; i < nMs / 10 && m_nPid > 0; ++i)
        {
            int nStatus = 0;
            if (::waitpid(m_nPid, &nStatus, WNOHANG) == m_nPid)
            {
                m_nPid = -1;
                return WIFEXITED(nStatus) ? WEXITSTATUS(nStatus) : 128;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return -1;
    }
    void Signal(int nSig)
    {
        if (m_nPid > 0)
            ::kill(m_nPid, nSig);
    }
    ~CChild()
    {
        if (m_nPid > 0)
        {
            ::kill(m_nPid, SIGKILL); // only our own child, by its pid
            ::waitpid(m_nPid, nullptr, 0);
        }
    }

private:
    pid_t m_nPid = -1;
};

std::string TempName(const std::string& strTag)
{
    return "/tmp/simtest-" + std::to_string(::getpid()) + "-" + strTag;
}

TEST(SimExecutableTest, RunsTheScenarioWritesThePortFileAndStopsOnSigterm)
{
    const std::string strPorts = TempName("ports"), strOut = TempName("out");
    ::unlink(strPorts.c_str());
    CChild child;
    ASSERT_TRUE(child.Spawn({TC_SIM_EXECUTABLE, "--scenario", TC_SIM_SCENARIO_DIR "/demo.json", "--port-file", strPorts,
                             "--discovery-port", "0"},
                            strOut));
    std::ifstream in;
    for (int i = 0; i < 300 && !in.is_open(); ++i)
    {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        in.open(strPorts);
    }
    ASSERT_TRUE(in.is_open());
    std::string strName, strAddress;
    int nPort = 0, nProtocol = 0;
    ASSERT_TRUE(in >> strName >> strAddress >> nPort >> nProtocol);
    EXPECT_EQ(strName, "SIM-ST1500");
    EXPECT_EQ(strAddress, "127.0.0.1");
    EXPECT_EQ(nProtocol, 0x30);
    CTestClient client;
    ASSERT_TRUE(client.Connect(static_cast<uint16_t>(nPort), TLS1_2_VERSION));
    EXPECT_EQ(CTestClient::Body(client.Exchange({0x80, 0x13, 0x00, 0x81, 0x00})),
              (Bytes{0x81, 0x08, 0x01, 0x01, 0x01, 0x02, 0x40, 0x01, 0x50, 0x01, 0x90, 0x00}));
    client.Close();
    child.Signal(SIGTERM);
    EXPECT_EQ(child.Wait(5000), 0);
    std::ifstream out(strOut);
    const std::string strText((std::istreambuf_iterator<char>(out)), std::istreambuf_iterator<char>());
    EXPECT_NE(strText.find("listening on 127.0.0.1:" + std::to_string(nPort)), std::string::npos) << strText;
    EXPECT_NE(strText.find("discovery on 127.0.0.1:"), std::string::npos);
    ::unlink(strPorts.c_str());
    ::unlink(strOut.c_str());
}

TEST(SimExecutableTest, RefusesNonLoopbackAndBrokenScenarios)
{
    const std::string strOut = TempName("out2"), strBad = TempName("bad.json");
    {
        CChild child;
        ASSERT_TRUE(child.Spawn({TC_SIM_EXECUTABLE, "--scenario", TC_SIM_SCENARIO_DIR "/demo.json", "--bind",
                                 "192.0.2.1", "--no-discovery"},
                                strOut));
        EXPECT_EQ(child.Wait(5000), 1);
    }
    std::ofstream(strBad) << "{\"terminals\": [";
    {
        CChild child;
        ASSERT_TRUE(child.Spawn({TC_SIM_EXECUTABLE, "--scenario", strBad}, strOut));
        EXPECT_EQ(child.Wait(5000), 1);
    }
    std::ifstream out(strOut);
    const std::string strText((std::istreambuf_iterator<char>(out)), std::istreambuf_iterator<char>());
    EXPECT_NE(strText.find("not valid JSON"), std::string::npos) << strText;
    ::unlink(strBad.c_str());
    ::unlink(strOut.c_str());
}

} // namespace
