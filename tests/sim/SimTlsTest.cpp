// TLS of the simulator: exactly the configured version, certificate dates from the
// configuration, RSA and brainpool keys.

#include "TerminalSim.h"
#include "TestClient.h"

#include <gtest/gtest.h>

using simtest::Bytes;
using simtest::CTestClient;

namespace
{
struct TlsCase
{
    int nProtocolCode;
    int nVersion;
    const char* pszName;
};

class SimTlsTest : public ::testing::TestWithParam<TlsCase>
{
};

TEST_P(SimTlsTest, HandshakeOnlyWithTheConfiguredVersionThenCommands)
{
    const TlsCase c = GetParam();
    sim::TerminalConfig cfg = sim::MakeDemoTerminal();
    cfg.nProtocolCode = c.nProtocolCode;
    cfg.strNotBefore = "20150101000000Z";
    cfg.strNotAfter = "20191231235959Z";
    sim::CTerminalSim terminal(cfg);
    std::string strError;
    ASSERT_EQ(terminal.Start(&strError), sim::SIM_OK) << strError;
    EXPECT_NE(terminal.GetCertificatePem().find("BEGIN CERTIFICATE"), std::string::npos);

    CTestClient client;
    ASSERT_TRUE(client.Connect(terminal.GetPort(), c.nVersion));
    EXPECT_EQ(client.TlsVersion(), c.pszName);
    std::string strBefore, strAfter;
    ASSERT_TRUE(client.PeerDates(strBefore, strAfter));
    EXPECT_EQ(strBefore, "20150101000000Z");
    EXPECT_EQ(strAfter, "20191231235959Z");
    EXPECT_EQ(CTestClient::Body(client.Exchange({0x80, 0x13, 0x00, 0x81, 0x00})),
              (Bytes{0x81, 0x08, 0x01, 0x01, 0x01, 0x02, 0x40, 0x01, 0x50, 0x01, 0x90, 0x00}));
    client.Close();

    // a host that offers only another version is refused
    const int nOther = c.nVersion == TLS1_2_VERSION ? TLS1_VERSION : TLS1_2_VERSION;
    CTestClient wrong;
    EXPECT_FALSE(wrong.Connect(terminal.GetPort(), nOther));
    wrong.Close();
    // and so is a plain host: it gets no answer
    CTestClient plain;
    ASSERT_TRUE(plain.Connect(terminal.GetPort()));
    plain.Send(CTestClient::Envelope(0x6B, 0, {0x80, 0x13, 0x00, 0x81, 0x00}));
    const Bytes v = plain.ReadEnvelope(1500);
    EXPECT_TRUE(v.empty() || v[0] != 0x83);
    plain.Close();
    terminal.Stop();
    EXPECT_GE(terminal.GetStats().nHandshakeFailures, 1);
}

INSTANTIATE_TEST_SUITE_P(Versions, SimTlsTest,
                         ::testing::Values(TlsCase{0x10, TLS1_VERSION, "TLSv1"}, TlsCase{0x11, TLS1_VERSION, "TLSv1"},
                                           TlsCase{0x20, TLS1_1_VERSION, "TLSv1.1"},
                                           TlsCase{0x30, TLS1_2_VERSION, "TLSv1.2"}),
                         [](const auto& info) { return "code" + std::to_string(info.param.nProtocolCode); });

TEST(SimTlsKeyTest, BrainpoolKeyWithTls10And12)
{
    for (const int nCode : {0x10, 0x30})
    {
        sim::TerminalConfig cfg;
        cfg.nProtocolCode = nCode;
        cfg.eKeyType = sim::EKeyType::EcBrainpoolP256r1;
        sim::CTerminalSim terminal(cfg);
        std::string strError;
        ASSERT_EQ(terminal.Start(&strError), sim::SIM_OK) << strError;
        CTestClient client;
        ASSERT_TRUE(client.Connect(terminal.GetPort(), nCode == 0x10 ? TLS1_VERSION : TLS1_2_VERSION,
                                   "X25519:P-256:P-384:P-521:brainpoolP256r1:brainpoolP384r1:brainpoolP512r1"))
            << "protocol code " << nCode;
        EXPECT_EQ(CTestClient::Body(client.Exchange({0x80, 0x13, 0x00, 0x46, 0x00}))[0], 0x46);
    }
}

} // namespace
