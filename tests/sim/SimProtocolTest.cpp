// The simulator as a host sees it over a plain socket: every byte below is written by hand
// from the wire format, not produced by any encoder of the project.

#include "TerminalSim.h"
#include "TestClient.h"

#include <gtest/gtest.h>

#include <string>

using simtest::Bytes;
using simtest::CTestClient;

namespace
{
Bytes Str(const std::string& s) { return Bytes(s.begin(), s.end()); }
Bytes Cat(Bytes a, const Bytes& b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}
std::string Hex(const Bytes& v)
{
    std::string s;
    char buf[4];
    for (auto b : v)
    {
        std::snprintf(buf, sizeof buf, "%02X ", b);
        s += buf;
    }
    return s;
}

const Bytes kId = Str("SIM-SESSION1");

/// Session open for admin / 12345678 with tag 0x69, as a host of SICCT 1.20 sends it.
const Bytes kOpenAdmin = Cat(Cat(Bytes{0x80, 0x28, 0x00, 0x00, 0x15, 0x69, 0x13, 0x13, 0x05}, Str("admin")),
                             Cat(Cat(Bytes{0x13, 0x08}, Str("12345678")), Bytes{0x13, 0x00, 0x00}));
/// Session close with the 12-byte identifier: Lc 0x15, the fixed inner length 0x12, a trailing 00 inside Lc.
const Bytes kCloseWithId =
    Cat(Cat(Bytes{0x80, 0x29, 0x00, 0x00, 0x15, 0x69, 0x12, 0x13, 0x00, 0x13, 0x00, 0x13, 0x0C}, kId),
        Bytes{0x00, 0x00});

class SimProtocolTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        m_pSim = std::make_unique<sim::CTerminalSim>(sim::MakeDemoTerminal());
        std::string strError;
        ASSERT_EQ(m_pSim->Start(&strError), sim::SIM_OK) << strError;
        ASSERT_NE(m_pSim->GetPort(), 0);
        ASSERT_TRUE(m_client.Connect(m_pSim->GetPort()));
    }
    void TearDown() override
    {
        m_client.Close();
        m_pSim->Stop();
    }
    Bytes Answer(const Bytes& vecApdu, uint16_t nSeq = 7) { return CTestClient::Body(m_client.Exchange(vecApdu, nSeq)); }

    std::unique_ptr<sim::CTerminalSim> m_pSim;
    CTestClient m_client;
};

TEST_F(SimProtocolTest, SessionOpenAndCloseExchangeExactBytes)
{
    ASSERT_EQ(kOpenAdmin.size(), 27u); // U + P + 14
    const Bytes vecAnswer = m_client.Exchange(kOpenAdmin, 0x0102);
    // response envelope echoes address and sequence; body T 12 13 00 13 00 13 0C id 90 00
    const Bytes vecExpected = Cat(Cat(Bytes{0x83, 0x00, 0x00, 0x01, 0x02, 0x00, 0x00, 0x00, 0x00, 0x16, 0x69, 0x12,
                                            0x13, 0x00, 0x13, 0x00, 0x13, 0x0C},
                                      kId),
                                  Bytes{0x90, 0x00});
    EXPECT_EQ(Hex(vecAnswer), Hex(vecExpected));

    ASSERT_EQ(kCloseWithId.size(), 27u);
    EXPECT_EQ(Hex(m_client.Exchange(kCloseWithId, 0x0103)),
              Hex({0x83, 0x00, 0x00, 0x01, 0x03, 0x00, 0x00, 0x00, 0x00, 0x02, 0x90, 0x00}));

    const auto vecReceived = m_pSim->GetReceived();
    ASSERT_EQ(vecReceived.size(), 2u);
    EXPECT_EQ(vecReceived[0].vecBytes, CTestClient::Envelope(0x6B, 0x0102, kOpenAdmin));
    EXPECT_EQ(vecReceived[1].vecBytes, CTestClient::Envelope(0x6B, 0x0103, kCloseWithId));
    ASSERT_EQ(m_pSim->GetClosedSessionIds().size(), 1u);
    EXPECT_EQ(m_pSim->GetClosedSessionIds()[0], kId);
    EXPECT_EQ(m_pSim->GetLoginAttempts(), std::vector<std::string>{"admin:12345678"});
    EXPECT_EQ(m_pSim->GetStats().nSessionsOpened, 1);
    EXPECT_EQ(m_pSim->GetStats().nSessionsClosed, 1);
}

TEST_F(SimProtocolTest, SessionRefusalsCarryTheirStatusWords)
{
    // wrong password
    Bytes vecBad = kOpenAdmin;
    vecBad[21] = '9';
    EXPECT_EQ(Hex(Answer(vecBad)), "64 02 ");
    // unknown user "admix"
    Bytes vecUser = kOpenAdmin;
    vecUser[13] = 'x';
    EXPECT_EQ(Hex(Answer(vecUser)), "64 01 ");
    // tag 0x73 (SICCT 1.3 hosts) is accepted and echoed
    Bytes vec13 = kOpenAdmin;
    vec13[5] = 0x73;
    EXPECT_EQ(Answer(vec13)[0], 0x73);
    // a second open on the same connection
    EXPECT_EQ(Hex(Answer(kOpenAdmin)), "62 00 ");
    // a close with another identifier
    Bytes vecWrongId = kCloseWithId;
    vecWrongId[13] ^= 0x01;
    EXPECT_EQ(Hex(Answer(vecWrongId)), "64 03 ");
    // the five-byte close without identifier closes the open session
    EXPECT_EQ(Hex(Answer({0x80, 0x29, 0x00, 0x00, 0x00})), "90 00 ");
    // the middleware opens with empty credentials; allowed by default
    EXPECT_EQ(Hex(Answer({0x80, 0x28, 0x00, 0x00, 0x08, 0x73, 0x06, 0x13, 0x00, 0x13, 0x00, 0x13, 0x00, 0x00}))
                  .substr(0, 6),
              "73 12 ");
}

TEST_F(SimProtocolTest, DownloadNeedsSessionThenRecordsTheImageInAllPacketForms)
{
    EXPECT_EQ(Hex(Answer({0x80, 0x24, 0x00, 0x00, 0x00})), "69 00 ");
    ASSERT_EQ(Answer(kOpenAdmin).back(), 0x00);
    EXPECT_EQ(Hex(Answer({0x80, 0x25, 0x00, 0x00, 0x03, 0x73, 0x01, 0xAA, 0x00})), "69 00 "); // before init
    // layout B, 1024 big-endian
    EXPECT_EQ(Hex(Answer({0x80, 0x24, 0x00, 0x00, 0x00})), "73 07 04 01 00 04 02 04 00 90 00 ");

    Bytes vecImage;
    auto Packet = [&](size_t n, uint8_t nIns) {
        Bytes vecData(n);
        for (size_t i = 0; i < n; ++i)
            vecData[i] = static_cast<uint8_t>(vecImage.size() + i);
        vecImage.insert(vecImage.end(), vecData.begin(), vecData.end());
        Bytes a = {0x80, nIns, 0x00, 0x00};
        if (n <= 127)
            a = Cat(Cat(a, {static_cast<uint8_t>(n + 2), 0x73, static_cast<uint8_t>(n)}), Cat(vecData, {0x00}));
        else if (n <= 252)
            a = Cat(Cat(a, {static_cast<uint8_t>(n + 3), 0x73, 0x81, static_cast<uint8_t>(n)}), Cat(vecData, {0x00}));
        else
            a = Cat(Cat(a, {0x00, static_cast<uint8_t>((n + 4) >> 8), static_cast<uint8_t>(n + 4), 0x73, 0x82,
                            static_cast<uint8_t>(n >> 8), static_cast<uint8_t>(n)}),
                    Cat(vecData, {0x01, 0x00}));
        return a;
    };
    const Bytes p127 = Packet(127, 0x25);
    EXPECT_EQ(p127.size(), 127u + 8);
    EXPECT_EQ(Hex(Answer(p127)), "90 00 ");
    const Bytes p252 = Packet(252, 0x25);
    EXPECT_EQ(p252.size(), 252u + 9);
    EXPECT_EQ(p252[4], 0xFF);
    EXPECT_EQ(Hex(Answer(p252)), "90 00 ");
    const Bytes p1024 = Packet(1024, 0x25);
    EXPECT_EQ(p1024.size(), 1024u + 13);
    EXPECT_EQ(Hex(Answer(p1024)), "90 00 ");
    // a packet above the announced size is refused and not recorded
    Bytes vecTooBig = Packet(1025, 0x25);
    vecImage.resize(vecImage.size() - 1025);
    EXPECT_EQ(Hex(Answer(vecTooBig)), "67 00 ");
    // the data object must span exactly the command data
    EXPECT_EQ(Hex(Answer({0x80, 0x25, 0x00, 0x00, 0x04, 0x73, 0x01, 0xAA, 0xBB, 0x00})), "6A 80 ");
    EXPECT_EQ(Hex(Answer({0x80, 0x26, 0x00, 0x00, 0x00})), "90 00 ");
    EXPECT_EQ(m_pSim->GetDownloadImage(), vecImage);
    EXPECT_EQ(m_pSim->GetDownloadPacketSizes(), (std::vector<int>{127, 252, 1024}));
    EXPECT_EQ(m_pSim->GetStats().nDownloadFinishes, 1);
    // finishing twice: no download open any more
    EXPECT_EQ(Hex(Answer({0x80, 0x26, 0x00, 0x00, 0x00})), "69 00 ");
}

TEST_F(SimProtocolTest, SignatureFailureAndLastPacketWithIns26)
{
    ASSERT_EQ(Answer(kOpenAdmin).back(), 0x00);
    m_pSim->SetSignatureOk(false);
    m_pSim->SetMaxPacketSize(0x0500, sim::EPacketSizeLayout::A);
    EXPECT_EQ(Hex(Answer({0x80, 0x24, 0x00, 0x00, 0x00})), "73 09 80 01 00 02 02 00 05 90 00 ");
    EXPECT_EQ(Hex(Answer({0x80, 0x26, 0x00, 0x00, 0x03, 0x73, 0x01, 0x42, 0x00})), "64 00 ");
    EXPECT_EQ(m_pSim->GetDownloadImage(), Bytes{0x42});
    EXPECT_EQ(m_pSim->GetStats().nDownloadFinishes, 1);
    EXPECT_EQ(Hex(Answer({0x80, 0x24, 0x00, 0x00, 0x00})).substr(0, 3), "73 ");
    EXPECT_EQ(Hex(Answer({0x80, 0x26, 0x00, 0x00, 0x00})), "64 00 ");
}

TEST_F(SimProtocolTest, CertificateListInShortAndExtendedForm)
{
    EXPECT_EQ(Hex(Answer({0x80, 0x23, 0xC0, 0x05, 0x01, 0x30})), "69 00 "); // no session
    ASSERT_EQ(Answer(kOpenAdmin).back(), 0x00);
    EXPECT_EQ(Hex(Answer({0x80, 0x23, 0xC0, 0x05, 0x03, 0x30, 0x01, 0x02})), "90 00 ");
    EXPECT_EQ(m_pSim->GetCertificateList(), (Bytes{0x30, 0x01, 0x02}));
    Bytes vecList(300, 0x5A);
    EXPECT_EQ(Hex(Answer(Cat({0x80, 0x23, 0xC0, 0x05, 0x00, 0x01, 0x2C}, vecList))), "90 00 ");
    EXPECT_EQ(m_pSim->GetCertificateList(), vecList);
    EXPECT_EQ(Hex(Answer({0x80, 0x23, 0xC0, 0x06, 0x01, 0x30})), "6A 00 ");
}

TEST_F(SimProtocolTest, StatusOfTerminalAndUnits)
{
    // manufacturer, long form: 46 0F DEVNT ST150 "3000 "
    EXPECT_EQ(Hex(Answer({0x80, 0x13, 0x00, 0x46, 0x00})),
              Hex(Cat(Cat({0x46, 0x0F}, Str("DEVNTST1503000 ")), {0x90, 0x00})));
    // unit list: slot 1, slot 2, display, keypad
    EXPECT_EQ(Hex(Answer({0x80, 0x13, 0x00, 0x81, 0x00})), "81 08 01 01 01 02 40 01 50 01 90 00 ");
    // the middleware's keepalive probe uses CLA 0x20
    EXPECT_EQ(Hex(Answer({0x20, 0x13, 0x00, 0x81, 0x00})), "81 08 01 01 01 02 40 01 50 01 90 00 ");
    // name of slot 1
    EXPECT_EQ(Hex(Answer({0x80, 0x13, 0x01, 0xA1, 0x00})),
              Hex(Cat(Cat({0xA1, 0x12, 0x13, 0x0C}, Str("Kartenslot 1")), {0x84, 0x02, 0x01, 0x01, 0x90, 0x00})));
    EXPECT_EQ(Hex(Answer({0x80, 0x13, 0x01, 0x80, 0x00})), "80 01 03 90 00 "); // card in, not powered
    EXPECT_EQ(Hex(Answer({0x80, 0x13, 0x02, 0x80, 0x00})), "80 01 00 90 00 "); // empty
    EXPECT_EQ(Hex(Answer({0x80, 0x13, 0x01, 0x66, 0x00})),
              "66 19 80 01 02 81 01 08 82 01 BE 83 01 01 84 01 03 85 01 00 86 01 00 87 02 04 00 90 00 ");
    // display unit 0x41, character sets 0, 15, 32
    EXPECT_EQ(Hex(Answer({0x80, 0x13, 0x41, 0x67, 0x00})),
              "67 18 80 01 10 81 01 02 82 01 10 83 01 02 84 01 01 85 01 00 85 01 0F 85 01 20 90 00 ");
    EXPECT_EQ(Hex(Answer({0x80, 0x13, 0x51, 0x6A, 0x00})),
              "6A 15 80 01 0A 81 01 00 82 01 01 83 01 01 84 01 00 85 01 01 86 01 00 90 00 ");
    EXPECT_EQ(Hex(Answer({0x80, 0x13, 0x41, 0x80, 0x00})), "6A 88 "); // a display has no ICC status
    EXPECT_EQ(Hex(Answer({0x80, 0x13, 0x09, 0x80, 0x00})), "6A 00 "); // no such unit
    // reset with ATR of slot 1; slot 2 has no card
    EXPECT_EQ(Hex(Answer({0x80, 0x11, 0x01, 0x01, 0x00})),
              "5F 51 0E 3B D3 96 FF 81 B1 FE 45 1F 07 80 81 05 2D 90 00 ");
    EXPECT_EQ(Hex(Answer({0x80, 0x11, 0x02, 0x01, 0x00})), "64 A1 ");
    EXPECT_EQ(Hex(Answer({0x80, 0x13, 0x01, 0x80, 0x00})), "80 01 15 90 00 "); // powered after the reset
    // display output: the value of object 0x50 is recorded
    EXPECT_EQ(Hex(Answer(Cat({0x80, 0x17, 0x40, 0x00, 0x10, 0x50, 0x0E}, Str("Diagnose l{uft")))), "90 00 ");
    ASSERT_EQ(m_pSim->GetDisplayOutputs().size(), 1u);
    EXPECT_EQ(m_pSim->GetDisplayOutputs()[0], Str("Diagnose l{uft"));
    // unknown instruction and class
    EXPECT_EQ(Hex(Answer({0x80, 0x99, 0x00, 0x00})), "6D 00 ");
    EXPECT_EQ(Hex(Answer({0x00, 0xA4, 0x00, 0x00})), "6E 00 ");
    // Lc that does not fit the body
    EXPECT_EQ(Hex(Answer({0x80, 0x23, 0xC0, 0x05, 0x09, 0x30})), "67 00 ");
}

TEST_F(SimProtocolTest, CtApiSessionChainIsAccepted)
{
    // select SICCT mode, BCS reset, the fixed close, init CT session
    EXPECT_EQ(Hex(Answer({0x80, 0x20, 0x00, 0x01})), "90 00 ");
    EXPECT_EQ(Hex(Answer({0x20, 0x11, 0x00, 0x00})), "90 00 ");
    EXPECT_EQ(Hex(Answer(Cat({0x80, 0x29, 0x00, 0x00, 0x14, 0x69, 0x12, 0x13, 0x00, 0x13, 0x00, 0x13, 0x0C},
                             Str("VANTOR__1001")))),
              "90 00 ");
    EXPECT_EQ(Hex(Answer({0x80, 0x58, 0x00, 0x00, 0x00})).substr(0, 6), "69 12 ");
    EXPECT_EQ(m_pSim->GetStats().nSessionsOpened, 1);
}

} // namespace
