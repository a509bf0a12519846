// Outside input the simulator must survive: random APDUs straight into the terminal logic,
// random byte streams over the socket, random discovery datagrams. Seeded, bounded in count.

#include "DiscoveryResponder.h"
#include "TerminalLogic.h"
#include "TerminalSim.h"
#include "TestClient.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <random>

using simtest::Bytes;
using simtest::CTestClient;

namespace
{
Bytes RandomBytes(std::mt19937& rng, size_t nMax)
{
    std::uniform_int_distribution<size_t> len(0, nMax);
    std::uniform_int_distribution<int> byte(0, 255);
    Bytes v(len(rng));
    for (auto& b : v)
        b = static_cast<uint8_t>(byte(rng));
    return v;
}

TEST(SimRobustnessTest, RandomApdusAlwaysGetAStatusWord)
{
    sim::TerminalConfig cfg = sim::MakeDemoTerminal();
    sim::SimRecording rec;
    sim::CTerminalLogic logic(cfg, rec);
    sim::ConnectionState conn;
    std::mt19937 rng(4742);
    // Commands the terminal knows, so that the random tails reach the deeper parsers.
    const std::vector<Bytes> vecHeads = {{0x80, 0x28, 0x00, 0x00}, {0x80, 0x29, 0x00, 0x00}, {0x80, 0x13, 0x00, 0x46},
                                         {0x80, 0x13, 0x01, 0x66}, {0x80, 0x11, 0x01, 0x01}, {0x80, 0x17, 0x40, 0x00},
                                         {0x80, 0x24, 0x00, 0x00}, {0x80, 0x25, 0x00, 0x00}, {0x80, 0x26, 0x00, 0x00},
                                         {0x80, 0x23, 0xC0, 0x05}, {0x80, 0x58, 0x00, 0x00}};
    int nParsed = 0;
    for (int i = 0; i < 20000; ++i)
    {
        Bytes vecBody;
        if (i % 2)
        {
            // a well-formed APDU of a known command with random data, often opening with a
            // data object whose length may or may not fit
            vecBody = vecHeads[static_cast<size_t>(i / 2) % vecHeads.size()];
            Bytes vecData = RandomBytes(rng, i % 7 == 0 ? 700 : 60);
            if (vecData.size() >= 2 && i % 3)
            {
                static const uint8_t kTags[] = {0x69, 0x73, 0x50, 0x13};
                vecData[0] = kTags[static_cast<size_t>(i) % 4];
                vecData[1] = static_cast<uint8_t>(rng() % (vecData.size() + 2));
            }
            if (vecData.size() > 255)
                vecBody.insert(vecBody.end(), {0x00, static_cast<uint8_t>(vecData.size() >> 8),
                                               static_cast<uint8_t>(vecData.size())});
            else if (!vecData.empty())
                vecBody.push_back(static_cast<uint8_t>(vecData.size()));
            vecBody.insert(vecBody.end(), vecData.begin(), vecData.end());
            if (i % 4 == 1)
                vecBody.push_back(0x00);
        }
        else
            vecBody = RandomBytes(rng, 40);
        if (i % 5 == 0)
            conn.bSessionOpen = conn.bDownloadOpen = true; // reach the paths behind the session checks
        sim::wire::Apdu apdu;
        if (!sim::wire::ParseApdu(vecBody, apdu))
            continue;
        ++nParsed;
        const Bytes vecAnswer = logic.Handle(apdu, static_cast<uint16_t>(i % 3 == 0 ? i % 4 : 0), conn);
        ASSERT_GE(vecAnswer.size(), 2u) << sim::wire::ToHex(vecBody);
    }
    EXPECT_GT(nParsed, 1000);
}

TEST(SimRobustnessTest, RandomStreamsDoNotStopTheTerminal)
{
    sim::CTerminalSim terminal(sim::MakeDemoTerminal());
    ASSERT_EQ(terminal.Start(), sim::SIM_OK);
    std::mt19937 rng(17);
    for (int i = 0; i < 40; ++i)
    {
        CTestClient client;
        ASSERT_TRUE(client.Connect(terminal.GetPort()));
        Bytes vecStream = RandomBytes(rng, 300);
        if (i % 2 == 0 && vecStream.size() >= 10)
        {
            // a command envelope with a plausible length but random contents
            vecStream[0] = 0x6B;
            vecStream[6] = vecStream[7] = vecStream[8] = 0;
            vecStream[9] = static_cast<uint8_t>(vecStream.size() - 10);
        }
        client.Send(vecStream);
        Bytes vecDrain;
        client.ReadChunk(vecDrain, 20);
    }
    CTestClient probe;
    ASSERT_TRUE(probe.Connect(terminal.GetPort()));
    EXPECT_EQ(CTestClient::Body(probe.Exchange({0x80, 0x13, 0x00, 0x46, 0x00}))[0], 0x46);
    probe.Close();
    EXPECT_TRUE(terminal.WaitForIdle(3000));
}

TEST(SimRobustnessTest, RandomDiscoveryRequestsAreIgnoredOrParsedWithinBounds)
{
    std::mt19937 rng(99);
    for (int i = 0; i < 20000; ++i)
    {
        Bytes v = RandomBytes(rng, 40);
        if (i % 2 && v.size() >= 2)
        {
            v[0] = 0xA0;
            v[1] = static_cast<uint8_t>(v.size() - 2);
        }
        uint32_t nAddress = 0;
        uint16_t nPort = 0;
        if (sim::CDiscoveryResponder::ParseRequest(v, nAddress, nPort))
        {
            EXPECT_NE(nPort, 0);
        }
    }
    const Bytes vecGood = {0xA0, 0x0E, 0x80, 0x02, 0x01, 0x14, 0x81, 0x04, 127, 0, 0, 1, 0x82, 0x02, 0x12, 0x87};
    uint32_t nAddress = 0;
    uint16_t nPort = 0;
    ASSERT_TRUE(sim::CDiscoveryResponder::ParseRequest(vecGood, nAddress, nPort));
    EXPECT_EQ(nPort, 0x1287);
    EXPECT_EQ(ntohl(nAddress), 0x7F000001u);
}

} // namespace
