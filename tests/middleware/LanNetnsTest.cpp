// Service discovery over a real (virtual) network: a responder in one network namespace,
// the search in another, joined by a veth pair that the test creates and deletes. Never
// touches the machine's own interfaces. Needs root; skips otherwise.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <chrono>
#include <sstream>

#include "CommonAppData.h"
#include "DeviceInfo.h"
#include "DiscoveryResponder.h"
#include "LanDevice.h"
#include "NetnsPair.h"
#include "TempDir.h"
#include "TraceCapture.h"

namespace
{
using namespace std::chrono;

sim::TerminalConfig Terminal(const std::string& strAddress, const std::string& strMac, const std::string& strName)
{
    sim::TerminalConfig config;
    config.strAddress = strAddress;
    config.strMac = strMac;
    config.strName = strName;
    config.nProtocolCode = 0x11;
    return config;
}

/// Runs a discovery responder in namespace A until the parent stops it.
void StartResponder(CNetnsChild& child, const CNetnsPair& pair, const std::vector<sim::TerminalConfig>& vecTerminals,
                    const std::string& strBindAddress)
{
    ASSERT_TRUE(child.Start(pair.NameA(), [vecTerminals, strBindAddress](int nStopFd, int nOutFd) {
        sim::CDiscoveryResponder responder;
        responder.AllowNonLoopback(true);  // only inside this test's namespace
        for (const sim::TerminalConfig& terminal : vecTerminals)
            responder.AddTerminal(terminal, 4742);
        std::string strError;
        if (responder.Start(strBindAddress, 4742, &strError) != sim::SIM_OK)
        {
            CNetnsChild::WriteLine(nOutFd, "ERROR " + strError);
            return;
        }
        CNetnsChild::WriteLine(nOutFd, "READY");
        CNetnsChild::WaitForStop(nStopFd, 20000);
        responder.Stop();
        CNetnsChild::WriteLine(nOutFd, "ANSWERED " + std::to_string(responder.RequestsAnswered()));
    }));
    ASSERT_TRUE(child.WaitForLine("READY", 5000)) << child.Finish(100);
}

/// One line per device: "DEV mac ip logical name".
std::string DeviceLine(const CDeviceInfo& device)
{
    return "DEV " + device.GetMacAddress() + " " + device.GetIpAddress() + " " + device.GetLogicalName() + " " +
           device.GetName();
}

int CountLines(const std::string& strOutput, const std::string& strPrefix)
{
    std::istringstream in(strOutput);
    int nCount = 0;
    for (std::string strLine; std::getline(in, strLine);)
        nCount += strLine.rfind(strPrefix, 0) == 0 ? 1 : 0;
    return nCount;
}

class LanNetns : public ::testing::Test
{
protected:
    void SetUp() override
    {
        m_pPair = std::make_unique<CNetnsPair>();
        if (!m_pPair->IsReady())
            GTEST_SKIP() << "discovery tests skipped: " << m_pPair->Error();
    }
    std::unique_ptr<CNetnsPair> m_pPair;
};
} // namespace

TEST_F(LanNetns, BroadcastReachesTheTerminalAndItAnswersTheAnnouncedAddress)
{
    CNetnsChild responder;
    StartResponder(responder, *m_pPair, {Terminal(m_pPair->AddressA(), "02:00:00:00:0A:01", "NS-T1")}, "0.0.0.0");

    CNetnsChild search;
    ASSERT_TRUE(search.Start(m_pPair->NameB(), [](int, int nOutFd) {
        CTempDir dir;  // no mapping file: the broadcast is the only request
        CCommonAppData::SetFolderOverride(dir.Path());
        CLanDevice lan;
        lan.SetQuietWindowMs(1000);
        std::vector<CDeviceInfo*> vecDevices;
        const auto tpStart = steady_clock::now();
        lan.GetDevices(vecDevices);
        const auto nMs = duration_cast<milliseconds>(steady_clock::now() - tpStart).count();
        for (CDeviceInfo* pDevice : vecDevices)
        {
            CNetnsChild::WriteLine(nOutFd, DeviceLine(*pDevice));
            delete pDevice;
        }
        CNetnsChild::WriteLine(nOutFd, "PORT " + std::to_string(lan.GetDiscoveryPort()));
        CNetnsChild::WriteLine(nOutFd, "MS " + std::to_string(nMs));
    }));
    const std::string strOut = search.Finish(10000);
    const std::string strResponder = responder.Finish(3000);
    EXPECT_NE(strOut.find("DEV 02:00:00:00:0A:01 " + m_pPair->AddressA() + " " + m_pPair->AddressA() +
                          ":4742:17 NS-T1\n"),
              std::string::npos)
        << strOut;
    EXPECT_EQ(CountLines(strOut, "DEV "), 1) << strOut;
    EXPECT_NE(strOut.find("PORT 4742\n"), std::string::npos) << strOut;
    EXPECT_NE(strResponder.find("ANSWERED 1\n"), std::string::npos) << strResponder;
}

TEST_F(LanNetns, PortTakenMakesTheSearchAnnounce4743)
{
    CNetnsChild responder;
    StartResponder(responder, *m_pPair, {Terminal(m_pPair->AddressA(), "02:00:00:00:0A:02", "NS-T2")}, "0.0.0.0");

    CNetnsChild search;
    ASSERT_TRUE(search.Start(m_pPair->NameB(), [](int, int nOutFd) {
        CTempDir dir;
        CCommonAppData::SetFolderOverride(dir.Path());
        // Someone else holds 4742 (and would swallow answers sent there).
        const int nBlocker = ::socket(AF_INET, SOCK_DGRAM, 0);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_port = htons(4742);
        if (::bind(nBlocker, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0)
            CNetnsChild::WriteLine(nOutFd, "ERROR blocker");
        CLanDevice lan;
        lan.SetQuietWindowMs(1000);
        std::vector<CDeviceInfo*> vecDevices;
        lan.GetDevices(vecDevices);
        for (CDeviceInfo* pDevice : vecDevices)
        {
            CNetnsChild::WriteLine(nOutFd, DeviceLine(*pDevice));
            delete pDevice;
        }
        CNetnsChild::WriteLine(nOutFd, "PORT " + std::to_string(lan.GetDiscoveryPort()));
        ::close(nBlocker);
    }));
    const std::string strOut = search.Finish(10000);
    responder.Finish(3000);
    EXPECT_EQ(strOut.find("ERROR"), std::string::npos) << strOut;
    EXPECT_NE(strOut.find("PORT 4743\n"), std::string::npos) << strOut;
    // Found only because the request announced 4743 and the answer went there.
    EXPECT_NE(strOut.find("DEV 02:00:00:00:0A:02 "), std::string::npos) << strOut;
}

TEST_F(LanNetns, TwoAnswersWithTheSameMacGiveOneDevice)
{
    CNetnsChild responder;
    StartResponder(responder, *m_pPair,
                   {Terminal(m_pPair->AddressA(), "02:00:00:00:0B:01", "FIRST"),
                    Terminal(m_pPair->AddressA(), "02:00:00:00:0b:01", "SECOND"),
                    Terminal(m_pPair->AddressA(), "02:00:00:00:0B:02", "OTHER")},
                   "0.0.0.0");
    CNetnsChild search;
    ASSERT_TRUE(search.Start(m_pPair->NameB(), [](int, int nOutFd) {
        CTempDir dir;
        CCommonAppData::SetFolderOverride(dir.Path());
        CTraceCapture capture;
        CLanDevice lan;
        lan.SetQuietWindowMs(1000);
        std::vector<CDeviceInfo*> vecDevices;
        lan.GetDevices(vecDevices);
        for (CDeviceInfo* pDevice : vecDevices)
        {
            CNetnsChild::WriteLine(nOutFd, DeviceLine(*pDevice));
            delete pDevice;
        }
        CNetnsChild::WriteLine(nOutFd, "EVENTS " + std::to_string(capture.CountMessage("new LAN device answered ")));
    }));
    const std::string strOut = search.Finish(10000);
    responder.Finish(3000);
    EXPECT_EQ(CountLines(strOut, "DEV 02:00:00:00:0B:01 "), 1) << strOut;
    EXPECT_EQ(CountLines(strOut, "DEV 02:00:00:00:0B:02 "), 1) << strOut;
    EXPECT_EQ(CountLines(strOut, "DEV "), 2) << strOut;
    // One discovery event per new device (the answers may arrive before the first wait).
    EXPECT_TRUE(strOut.find("EVENTS 1\n") != std::string::npos || strOut.find("EVENTS 2\n") != std::string::npos)
        << strOut;
}

TEST_F(LanNetns, GetDeviceByUnicastAndEarlyEndOnTheWantedDevice)
{
    // Bound to the unicast address, the responder never sees a broadcast.
    CNetnsChild responder;
    StartResponder(responder, *m_pPair, {Terminal(m_pPair->AddressA(), "02:00:00:00:0C:01", "UNI")},
                   m_pPair->AddressA());
    CNetnsChild search;
    const std::string strTarget = m_pPair->AddressA();
    ASSERT_TRUE(search.Start(m_pPair->NameB(), [strTarget](int, int nOutFd) {
        CTempDir dir;
        CCommonAppData::SetFolderOverride(dir.Path());
        in_addr addr{};
        ::inet_pton(AF_INET, strTarget.c_str(), &addr);
        CLanDevice lan;
        const auto tpStart = steady_clock::now();
        std::unique_ptr<CDeviceInfo> pDevice = lan.GetDevice(ntohl(addr.s_addr));
        CNetnsChild::WriteLine(nOutFd, "UNIMS " + std::to_string(
                                                      duration_cast<milliseconds>(steady_clock::now() - tpStart).count()));
        if (pDevice)
            CNetnsChild::WriteLine(nOutFd, DeviceLine(*pDevice));
        // Nobody at .9: nothing after one quiet window.
        CLanDevice other;
        other.SetQuietWindowMs(500);
        in_addr none{};
        ::inet_pton(AF_INET, "10.213.0.9", &none);
        CNetnsChild::WriteLine(nOutFd, other.GetDevice(ntohl(none.s_addr)) ? "NONE-FOUND" : "NONE-EMPTY");
    }));
    const std::string strOut = search.Finish(15000);
    const std::string strResponder = responder.Finish(3000);
    EXPECT_NE(strOut.find("DEV 02:00:00:00:0C:01 " + m_pPair->AddressA()), std::string::npos) << strOut;
    EXPECT_NE(strOut.find("NONE-EMPTY\n"), std::string::npos) << strOut;
    EXPECT_NE(strResponder.find("ANSWERED 1\n"), std::string::npos) << strResponder;

    // A search for a wanted MAC ends as soon as it answered, long before the quiet window.
    CNetnsChild responder2;
    StartResponder(responder2, *m_pPair, {Terminal(m_pPair->AddressA(), "02:00:00:00:0C:02", "WANTED")}, "0.0.0.0");
    CNetnsChild search2;
    ASSERT_TRUE(search2.Start(m_pPair->NameB(), [](int, int nOutFd) {
        CTempDir dir;
        CCommonAppData::SetFolderOverride(dir.Path());
        CLanDevice lan;  // quiet window 3000 ms
        CDeviceInfo wanted;
        wanted.SetMacAddress("02:00:00:00:0C:02");
        std::vector<CDeviceInfo*> vecDevices{&wanted};
        const auto tpStart = steady_clock::now();
        lan.GetDevices(vecDevices);
        const auto nMs = duration_cast<milliseconds>(steady_clock::now() - tpStart).count();
        CNetnsChild::WriteLine(nOutFd, "COUNT " + std::to_string(vecDevices.size()));
        CNetnsChild::WriteLine(nOutFd, nMs < 1000 ? "EARLY" : "LATE " + std::to_string(nMs));
        for (CDeviceInfo* p : vecDevices)
            if (p != &wanted)
                delete p;
    }));
    const std::string strOut2 = search2.Finish(10000);
    responder2.Finish(3000);
    EXPECT_NE(strOut2.find("COUNT 1\n"), std::string::npos) << strOut2;
    EXPECT_NE(strOut2.find("EARLY\n"), std::string::npos) << strOut2;
}
