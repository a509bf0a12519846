// SICCT device: sequence numbers, envelopes, CheckResponse, ExecuteCmd against a scripted
// transport, and the service discovery answer parser.
#include <gtest/gtest.h>

#include <cstring>

#include "BCSCommand.h"
#include "BCSResponse.h"
#include "DeviceAccess.h"
#include "VersionRecord.h"
#include "DeviceInfo.h"
#include "LanDevice.h"
#include "MiddlewareCodes.h"
#include "SicctDevice.h"
#include "TraceCapture.h"

namespace
{
using Bytes = std::vector<uint8_t>;

/// A transport that records each request and answers from a script.
class CScriptedTransport : public CBaseDevice
{
public:
    struct CStep
    {
        int nResult = 0;
        Bytes vecAnswer;
    };
    ~CScriptedTransport() override { KillListener(); }
    int DisConnect() override { return 0; }
    int Write(const uint8_t* pRequest, int nLength, uint8_t* pResponse, int& nResponseLength, int, int) override
    {
        m_vecRequests.emplace_back(pRequest, pRequest + nLength);
        m_vecBufferSizes.push_back(nResponseLength);
        if (m_vecSteps.empty())
            return mw::MW_ERR_COMM;
        CStep step = m_vecSteps.front();
        m_vecSteps.erase(m_vecSteps.begin());
        if (step.nResult != 0)
            return step.nResult;
        if (static_cast<int>(step.vecAnswer.size()) > nResponseLength)
            return mw::MW_ERR_BUFFER;
        std::memcpy(pResponse, step.vecAnswer.data(), step.vecAnswer.size());
        nResponseLength = static_cast<int>(step.vecAnswer.size());
        return 0;
    }
    void GetDevices(std::vector<CDeviceInfo*>&) override {}
    int ListenerThread() override { return 0; }

    std::vector<CStep> m_vecSteps;
    std::vector<Bytes> m_vecRequests;
    std::vector<int> m_vecBufferSizes;
};

Bytes Envelope(uint8_t nType, uint16_t nAddress, uint16_t nSequence, const Bytes& vecBody, int nLengthField = -1)
{
    const uint32_t nLength = nLengthField < 0 ? static_cast<uint32_t>(vecBody.size()) : static_cast<uint32_t>(nLengthField);
    Bytes vec{nType,
              static_cast<uint8_t>(nAddress >> 8),
              static_cast<uint8_t>(nAddress),
              static_cast<uint8_t>(nSequence >> 8),
              static_cast<uint8_t>(nSequence),
              0,
              static_cast<uint8_t>(nLength >> 24),
              static_cast<uint8_t>(nLength >> 16),
              static_cast<uint8_t>(nLength >> 8),
              static_cast<uint8_t>(nLength)};
    vec.insert(vec.end(), vecBody.begin(), vecBody.end());
    return vec;
}

} // namespace

/// A CSicctDevice holding a scripted transport.
class SicctDeviceExec : public ::testing::Test
{
protected:
    void SetUp() override
    {
        auto pTransport = std::make_unique<CScriptedTransport>();
        m_pScript = pTransport.get();
        m_device.SetTransport(std::move(pTransport));
    }
    /// Prepares a response object over m_vecResponse with the given capacity.
    void PrepareResponse(uint16_t nCapacity)
    {
        m_vecResponse.assign(nCapacity, 0);
        const uint8_t nZero = 0;
        ASSERT_EQ(m_response.SetData(&nZero, &nZero, m_vecResponse.data(), &nCapacity), 0);
    }
    uint8_t Exec(Bytes vecCommand, uint8_t nDestination = 1, uint8_t nSource = 2)
    {
        m_vecCommand = std::move(vecCommand);
        uint16_t nLength = static_cast<uint16_t>(m_vecCommand.size());
        CBCSCommand command;
        EXPECT_EQ(command.SetData(&nDestination, &nSource, m_vecCommand.data(), &nLength), 0);
        return m_device.ExecuteCmd(&command, &m_response, 1000);
    }
    CSicctDevice m_device;
    CScriptedTransport* m_pScript = nullptr;
    Bytes m_vecCommand;
    Bytes m_vecResponse;
    CBCSResponse m_response;
};

TEST(SicctDevice, SequenceNumbersWrapAfter64767ToZero)
{
    CSicctDevice device;
    EXPECT_EQ(device.NextSequenceNumber(), 1);
    EXPECT_EQ(device.NextSequenceNumber(), 2);
    device.SetSequenceNumber(0);
    uint16_t nLast = 0;
    for (int i = 0; i < 64767; ++i)
        nLast = device.NextSequenceNumber();
    EXPECT_EQ(nLast, 64767);
    EXPECT_EQ(device.NextSequenceNumber(), 0);  // the 64768th
    EXPECT_EQ(device.NextSequenceNumber(), 1);
}

TEST(SicctDevice, EnvelopeAddressing)
{
    const uint8_t aCommand[] = {0x20, 0x13, 0x00, 0x46, 0x00};
    Bytes vec = CSicctDevice::BuildEnvelope(0, 0x1234, aCommand, 5);
    EXPECT_EQ(vec, (Bytes{0x6B, 0x00, 0x01, 0x12, 0x34, 0x00, 0x00, 0x00, 0x00, 0x05, 0x20, 0x13, 0x00, 0x46, 0x00}));
    vec = CSicctDevice::BuildEnvelope(1, 1, aCommand, 5);
    EXPECT_EQ(vec[1], 0x00);
    EXPECT_EQ(vec[2], 0x00);
    vec = CSicctDevice::BuildEnvelope(0x12, 1, aCommand, 5);
    EXPECT_EQ(vec[1], 0x00);
    EXPECT_EQ(vec[2], 0x12);
}

TEST(SicctDevice, CheckResponseClassifiesAndLogs)
{
    CTraceCapture capture;
    CSicctDevice device;
    bool bDeliver = true;
    EXPECT_EQ(device.CheckResponse(nullptr, 20, &bDeliver), 0);
    EXPECT_FALSE(bDeliver);
    const Bytes vecTen = Envelope(0x83, 0, 1, {});
    EXPECT_EQ(device.CheckResponse(vecTen.data(), 10, &bDeliver), 0);  // 10 bytes or fewer

    const Bytes vecCommand = Envelope(0x6B, 0, 1, {0x90, 0x00});
    EXPECT_EQ(device.CheckResponse(vecCommand.data(), 12, &bDeliver), 0);
    EXPECT_TRUE(capture.HasMessage("CheckResponse Response = C_COMMAND (invalid)"));

    const Bytes vecResponse = Envelope(0x83, 0, 0x0102, {0x90, 0x00});
    EXPECT_EQ(device.CheckResponse(vecResponse.data(), 12, &bDeliver), 0x83);
    EXPECT_FALSE(bDeliver);
    EXPECT_TRUE(capture.HasMessage("CheckResponse Response = R_COMMAND 2 Bytes, SEQ_NR = 0x258"));

    const Bytes vecEmptyEvent = Envelope(0x50, 0, 1, {0x80, 0x00}, 0);
    EXPECT_EQ(device.CheckResponse(vecEmptyEvent.data(), 12, &bDeliver), 0);
    const Bytes vecOther = Envelope(0x99, 0, 1, {0x90, 0x00});
    EXPECT_EQ(device.CheckResponse(vecOther.data(), 12, &bDeliver), 0);

    const Bytes vecInserted = Envelope(0x50, 0, 1, {0x84, 0x01, 0x01});
    EXPECT_EQ(device.CheckResponse(vecInserted.data(), 13, &bDeliver), 0x50);
    EXPECT_FALSE(bDeliver);
    EXPECT_TRUE(capture.HasMessage("CheckResponse Response = Card Inserted Event"));
    const Bytes vecRemoved = Envelope(0x50, 0, 1, {0x85, 0x01, 0x01});
    device.CheckResponse(vecRemoved.data(), 13, &bDeliver);
    EXPECT_TRUE(capture.HasMessage("CheckResponse Response = Card Removed Event"));
    const Bytes vecSignOff = Envelope(0x50, 0, 1, {0x81, 0x00});
    device.CheckResponse(vecSignOff.data(), 12, &bDeliver);
    EXPECT_TRUE(capture.HasMessage("CheckResponse Response = TerminalSignOFF Event"));

    // Only the protocol error with detail 0x11 goes to a waiting writer.
    const Bytes vecProtocol = Envelope(0x50, 0, 1, {0x86, 0x01, 0x11});
    EXPECT_EQ(device.CheckResponse(vecProtocol.data(), 13, &bDeliver), 0x50);
    EXPECT_TRUE(bDeliver);
    EXPECT_TRUE(capture.HasMessage("CheckResponse Response = EVENT Protocol error"));
    const Bytes vecProtocol12 = Envelope(0x50, 0, 1, {0x86, 0x01, 0x12});
    device.CheckResponse(vecProtocol12.data(), 13, &bDeliver);
    EXPECT_FALSE(bDeliver);
    // A detail byte that did not arrive is no detail 0x11.
    const Bytes vecCut = Envelope(0x50, 0, 1, {0x86, 0x01, 0x11});
    device.CheckResponse(vecCut.data(), 12, &bDeliver);
    EXPECT_FALSE(bDeliver);
}

TEST(SicctDevice, KeepaliveCountingRestartsOnOtherEvents)
{
    CTraceCapture capture;
    CSicctDevice device;
    const Bytes vecKeepalive = Envelope(0x50, 0, 1, {0x80, 0x00});
    const std::string strTen = "CheckResponse Response = Keepalive Event => 10 Keepalive Event";
    for (int i = 0; i < 10; ++i)
        device.CheckResponse(vecKeepalive.data(), 12, nullptr);
    EXPECT_EQ(capture.CountMessage(strTen), 0);
    EXPECT_EQ(device.GetKeepaliveCount(), 10);
    device.CheckResponse(vecKeepalive.data(), 12, nullptr);  // the eleventh
    EXPECT_EQ(capture.CountMessage(strTen), 1);
    EXPECT_EQ(device.GetKeepaliveCount(), 0);

    for (int i = 0; i < 6; ++i)
        device.CheckResponse(vecKeepalive.data(), 12, nullptr);
    const Bytes vecInserted = Envelope(0x50, 0, 1, {0x84, 0x01, 0x01});
    device.CheckResponse(vecInserted.data(), 13, nullptr);
    for (int i = 0; i < 6; ++i)
        device.CheckResponse(vecKeepalive.data(), 12, nullptr);
    EXPECT_EQ(capture.CountMessage(strTen), 1);
    EXPECT_EQ(device.GetKeepaliveCount(), 6);
    const Bytes vecResponse = Envelope(0x83, 0, 7, {0x90, 0x00});
    device.CheckResponse(vecResponse.data(), 12, nullptr);
    EXPECT_EQ(device.GetKeepaliveCount(), 0);
}

TEST_F(SicctDeviceExec, ResponseIsCopiedAndAddressed)
{
    PrepareResponse(16);
    m_pScript->m_vecSteps.push_back({0, Envelope(0x83, 0x0000, 1, {0x01, 0x02, 0x90, 0x00})});
    EXPECT_EQ(Exec({0x20, 0x13, 0x00, 0x46, 0x00}, 1, 2), mw::EXEC_OK);
    ASSERT_EQ(m_pScript->m_vecRequests.size(), 1u);
    EXPECT_EQ(m_pScript->m_vecRequests[0],
              (Bytes{0x6B, 0x00, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00, 0x00, 0x05, 0x20, 0x13, 0x00, 0x46, 0x00}));
    EXPECT_EQ(m_pScript->m_vecBufferSizes[0], 26);  // response size + 10
    EXPECT_EQ(m_response.GetDataLen(), 4);
    EXPECT_EQ(m_response.GetStatusWord(), 0x9000);
    EXPECT_EQ(m_vecResponse[0], 0x01);
    EXPECT_EQ(m_response.GetSource(), 1);       // address 00 00: the terminal
    EXPECT_EQ(m_response.GetDestination(), 2);  // back to the command's source

    m_pScript->m_vecSteps.push_back({0, Envelope(0x83, 0x0001, 2, {0x90, 0x00})});
    PrepareResponse(16);
    EXPECT_EQ(Exec({0x20, 0x13, 0x00, 0x46, 0x00}, 0, 2), mw::EXEC_OK);
    EXPECT_EQ(m_pScript->m_vecRequests[1][2], 0x01);  // destination 0 is address 00 01
    EXPECT_EQ(m_response.GetSource(), 0);
    m_pScript->m_vecSteps.push_back({0, Envelope(0x83, 0x0005, 3, {0x90, 0x00})});
    PrepareResponse(16);
    EXPECT_EQ(Exec({0x20, 0x13, 0x00, 0x46, 0x00}, 5, 2), mw::EXEC_OK);
    EXPECT_EQ(m_response.GetSource(), 5);

    // The smallest receive buffer is 14 bytes.
    PrepareResponse(2);
    m_pScript->m_vecSteps.push_back({0, Envelope(0x83, 0, 4, {0x90, 0x00})});
    EXPECT_EQ(Exec({0x80, 0x20, 0x00, 0x00}), mw::EXEC_OK);
    EXPECT_EQ(m_pScript->m_vecBufferSizes.back(), 14);
}

TEST_F(SicctDeviceExec, ResultBytes)
{
    CTraceCapture capture;
    // Data larger than the response object: 0xF5 and the addresses set.
    PrepareResponse(2);
    m_pScript->m_vecSteps.push_back({0, Envelope(0x83, 0, 1, {0x01, 0x90, 0x00})});
    EXPECT_EQ(Exec({0x20, 0x13, 0x00, 0x46, 0x00}, 1, 2), mw::EXEC_TOO_LARGE);
    EXPECT_TRUE(capture.HasMessage("Buffer too small to receive outputdata"));
    EXPECT_EQ(m_response.GetSource(), 1);
    EXPECT_EQ(m_response.GetDestination(), 2);

    // Transport codes come back as bytes.
    PrepareResponse(16);
    m_pScript->m_vecSteps.push_back({mw::MW_ERR_COMM, {}});
    EXPECT_EQ(Exec({0x20, 0x13, 0x00, 0x46, 0x00}), 0xF6);
    m_pScript->m_vecSteps.push_back({mw::MW_ERR_BUFFER, {}});
    EXPECT_EQ(Exec({0x20, 0x13, 0x00, 0x46, 0x00}), 0xF5);
    m_pScript->m_vecSteps.push_back({mw::MW_ERR_GENERAL, {}});
    EXPECT_EQ(Exec({0x20, 0x13, 0x00, 0x46, 0x00}), 0xFF);

    // Shorter than an envelope.
    m_pScript->m_vecSteps.push_back({0, Bytes{0x83, 0, 0, 0, 1}});
    EXPECT_EQ(Exec({0x20, 0x13, 0x00, 0x46, 0x00}), mw::EXEC_SHORT);
    EXPECT_TRUE(capture.HasMessage("Output Data Size smaller than Envelope Size"));

    // A length field claiming more than arrived is never copied out.
    m_pScript->m_vecSteps.push_back({0, Envelope(0x83, 0, 1, {0x90, 0x00}, 8)});
    EXPECT_EQ(Exec({0x20, 0x13, 0x00, 0x46, 0x00}), mw::EXEC_SHORT);

    // A protocol-error event with detail 0x11 ends the command: 0xFF, addresses 2 and 1.
    m_response.SetDestination(9);
    m_response.SetSource(9);
    m_pScript->m_vecSteps.push_back({0, Envelope(0x50, 0, 1, {0x86, 0x01, 0x11})});
    EXPECT_EQ(Exec({0x20, 0x13, 0x00, 0x46, 0x00}), mw::EXEC_FAILED);
    EXPECT_EQ(m_response.GetDestination(), 2);
    EXPECT_EQ(m_response.GetSource(), 1);

    // Any other message type fails.
    m_pScript->m_vecSteps.push_back({0, Envelope(0x6B, 0, 1, {0x90, 0x00})});
    EXPECT_EQ(Exec({0x20, 0x13, 0x00, 0x46, 0x00}), mw::EXEC_FAILED);

    // No transport, no command.
    CSicctDevice bare;
    EXPECT_EQ(bare.ExecuteCmd(nullptr, &m_response, 10), mw::EXEC_FAILED);
}

namespace
{
Bytes Answer(bool bA1, const Bytes& vecItems)
{
    if (!bA1)
        return vecItems;
    Bytes vec{0xA1, static_cast<uint8_t>(vecItems.size())};
    vec.insert(vec.end(), vecItems.begin(), vecItems.end());
    return vec;
}

const Bytes kFullItems{0x80, 0x02, 0x01, 0x14,                          // version 1.20
                       0x81, 0x04, 10, 77, 0, 1,                        // address
                       0x82, 0x02, 0x12, 0x86,                          // port 4742
                       0x83, 0x06, 0x00, 0x0d, 0xf8, 0x0a, 0x0b, 0x0c,  // MAC
                       0x84, 0x05, 'T', 'e', 'r', 'm', '1',             // name
                       0x85, 0x06, 0x8A, 0x01, 0x10, 0x8A, 0x01, 0x11};  // protocols 10 and 11
} // namespace

TEST(ServiceDiscovery, FullAnswerPlainAndWrapped)
{
    for (bool bA1 : {false, true})
    {
        const Bytes vec = Answer(bA1, kFullItems);
        CDeviceInfo device;
        device.SetConnectionType(3);
        ASSERT_TRUE(CSicctDevice::InterpreteServiceDiscovery(device, vec.data(), static_cast<int>(vec.size())));
        EXPECT_EQ(device.GetIpAddress(), "10.77.0.1");
        EXPECT_EQ(device.GetMacAddress(), "00:0D:F8:0A:0B:0C");
        EXPECT_EQ(device.GetName(), "Term1");
        EXPECT_EQ(device.GetSicctVersion(), 0x0114);
        EXPECT_EQ(device.GetNetworkPort(), 4742);
        EXPECT_EQ(device.GetLogicalName(), "10.77.0.1:4742:17");
        EXPECT_EQ(device.GetAdditionalInfo(), "IP-Address=10.77.0.1;MAC-Address=00:0D:F8:0A:0B:0C;");
    }
}

TEST(ServiceDiscovery, ItemRules)
{
    // Protocol choice: 0x30 beats 0x20 beats 0x11 beats 0x10; none gives 0.
    struct CCase
    {
        Bytes vecProtocols;
        int nCode;
    };
    for (const CCase& c : {CCase{{0x8A, 0x01, 0x10, 0x8A, 0x01, 0x30, 0x8A, 0x01, 0x20}, 48},
                           CCase{{0x8A, 0x01, 0x20, 0x8A, 0x01, 0x10}, 32}, CCase{{0x8A, 0x01, 0x10}, 16},
                           CCase{{0x01, 0x02, 0x03}, 0}})
    {
        Bytes vec{0x81, 0x04, 1, 2, 3, 4, 0x82, 0x02, 0x01, 0x00, 0xA3, static_cast<uint8_t>(c.vecProtocols.size())};
        vec.insert(vec.end(), c.vecProtocols.begin(), c.vecProtocols.end());
        CDeviceInfo device;
        device.SetConnectionType(3);
        ASSERT_TRUE(CSicctDevice::InterpreteServiceDiscovery(device, vec.data(), static_cast<int>(vec.size())));
        EXPECT_EQ(device.GetLogicalName(), "1.2.3.4:256:" + std::to_string(c.nCode));
        EXPECT_EQ(device.GetMacAddress(), "00:00:00:00:00:00");
    }

    // Wrong lengths are skipped: a 3-byte version, a 5-byte address, a 7-byte MAC, a
    // 33-byte name; a short MAC reads missing bytes as 0.
    Bytes vec{0x80, 0x03, 1, 2, 3, 0x81, 0x05, 9, 9, 9, 9, 9, 0x83, 0x07, 1, 2, 3, 4, 5, 6, 7, 0x83, 0x02, 0xAB, 0xCD};
    vec.push_back(0x84);
    vec.push_back(33);
    vec.insert(vec.end(), 33, 'x');
    CDeviceInfo device;
    device.SetConnectionType(3);
    ASSERT_TRUE(CSicctDevice::InterpreteServiceDiscovery(device, vec.data(), static_cast<int>(vec.size())));
    EXPECT_EQ(device.GetSicctVersion(), 0);
    EXPECT_EQ(device.GetIpAddress(), "0.0.0.0");
    EXPECT_EQ(device.GetMacAddress(), "AB:CD:00:00:00:00");
    EXPECT_EQ(device.GetName(), "");

    // Not a LAN record: "localhost" and no LogicalName.
    CDeviceInfo hid;
    hid.SetConnectionType(1);
    ASSERT_TRUE(CSicctDevice::InterpreteServiceDiscovery(hid, kFullItems.data(), static_cast<int>(kFullItems.size())));
    EXPECT_EQ(hid.GetIpAddress(), "localhost");
    EXPECT_EQ(hid.GetLogicalName(), "");
    EXPECT_EQ(hid.GetName(), "Term1");
}

TEST(ServiceDiscovery, MalformedAnswersAreDroppedWithinBounds)
{
    CTraceCapture capture;
    // Only version and port: nothing accepted.
    const Bytes vecNoId{0x80, 0x02, 0x01, 0x14, 0x82, 0x02, 0x12, 0x86};
    CDeviceInfo device;
    device.SetConnectionType(3);
    device.SetName("keep");
    EXPECT_FALSE(CSicctDevice::InterpreteServiceDiscovery(device, vecNoId.data(), static_cast<int>(vecNoId.size())));
    EXPECT_EQ(device.GetName(), "keep");
    EXPECT_TRUE(capture.HasMessage("Response too small for ServiceDiscovery Packet -> discarded"));
    EXPECT_FALSE(CSicctDevice::InterpreteServiceDiscovery(device, vecNoId.data(), 1));

    // A MAC item whose length runs past the datagram: the bytes behind the end are never
    // read (the buffer after the datagram is poisoned), the item is not accepted.
    Bytes vecCut{0x80, 0x02, 0x01, 0x14, 0x83, 0x06, 0x00, 0x0d};
    const size_t nReal = vecCut.size();
    vecCut.insert(vecCut.end(), {0xEE, 0xEE, 0xEE, 0xEE});
    EXPECT_FALSE(CSicctDevice::InterpreteServiceDiscovery(device, vecCut.data(), static_cast<int>(nReal)));

    // A name item claiming 200 bytes in an answer of 30.
    Bytes vecLong{0x83, 0x06, 1, 2, 3, 4, 5, 6, 0x84, 200};
    vecLong.resize(30, 'n');
    CDeviceInfo other;
    other.SetConnectionType(3);
    ASSERT_TRUE(CSicctDevice::InterpreteServiceDiscovery(other, vecLong.data(), static_cast<int>(vecLong.size())));
    EXPECT_EQ(other.GetMacAddress(), "01:02:03:04:05:06");
    EXPECT_EQ(other.GetName(), "");

    // A protocol list whose 0x8A opener sits at the end: no value byte read beyond it.
    const Bytes vecProto{0x85, 0x02, 0x00, 0x8A};
    CDeviceInfo proto;
    proto.SetConnectionType(3);
    ASSERT_TRUE(CSicctDevice::InterpreteServiceDiscovery(proto, vecProto.data(), static_cast<int>(vecProto.size())));
    EXPECT_EQ(proto.GetLogicalName(), "0.0.0.0:0:0");

    // Every truncation of a full answer is handled.
    for (size_t n = 0; n <= kFullItems.size(); ++n)
    {
        Bytes vecPart(kFullItems.begin(), kFullItems.begin() + static_cast<long>(n));
        CDeviceInfo part;
        part.SetConnectionType(3);
        CSicctDevice::InterpreteServiceDiscovery(part, vecPart.data(), static_cast<int>(vecPart.size()));
    }
}

TEST(ServiceDiscovery, RequestLayoutAndAnswerRecognition)
{
    const auto aRequest = CLanDevice::BuildDiscoveryRequest(0x0A4D0002, 4743);
    EXPECT_EQ(Bytes(aRequest.begin(), aRequest.end()),
              (Bytes{0xA0, 0x0E, 0x80, 0x02, 0x01, 0x14, 0x81, 0x04, 10, 77, 0, 2, 0x82, 0x02, 0x12, 0x87}));
    const uint8_t aAnswer1[] = {0x80, 0x02};
    const uint8_t aAnswer2[] = {0xA1, 0x10};
    const uint8_t aNot1[] = {0x80, 0x03};
    const uint8_t aNot2[] = {0xA0, 0x0E};
    EXPECT_TRUE(CLanDevice::IsDiscoveryAnswer(aAnswer1, 2));
    EXPECT_TRUE(CLanDevice::IsDiscoveryAnswer(aAnswer2, 2));
    EXPECT_FALSE(CLanDevice::IsDiscoveryAnswer(aNot1, 2));
    EXPECT_FALSE(CLanDevice::IsDiscoveryAnswer(aNot2, 2));  // our own request
    EXPECT_FALSE(CLanDevice::IsDiscoveryAnswer(aAnswer1, 1));
}

TEST(LanDevice, ConnectionStringParts)
{
    std::string strHost;
    int nPort = -1;
    int nProtocol = -1;
    EXPECT_TRUE(CLanDevice::ParseConnectionString("10.0.0.5:4742:17", strHost, nPort, nProtocol));
    EXPECT_EQ(strHost, "10.0.0.5");
    EXPECT_EQ(nPort, 4742);
    EXPECT_EQ(nProtocol, 17);
    CLanDevice::ParseConnectionString("10.0.0.5:abc:", strHost, nPort, nProtocol);
    EXPECT_EQ(nPort, 0);
    EXPECT_EQ(nProtocol, 0);
    EXPECT_FALSE(CLanDevice::ParseConnectionString("10.0.0.5", strHost, nPort, nProtocol));
}

namespace
{
/// Answers with one record: version and CompanyName of the first translation.
class CFakeVersionReader : public os::CVersionReader
{
public:
    int ReadFromFile(const std::string& strPath, os::SVersionRecord& record) override
    {
        if (strPath != "libctapi.so")
            return -2;
        record.fixed.nFileVersionMS = 2u << 16 | 0x0103;  // b = 0x103: only its low byte shows
        record.fixed.nFileVersionLS = 4u << 16 | 5;
        record.vecTranslations.push_back({0x0407, 0x04B0});
        os::SVersionStrings strings;
        strings.translation = {0x0407, 0x04B0};
        strings.vecValues.emplace_back("CompanyName", m_strCompany);
        record.vecStrings.push_back(strings);
        return 0;
    }
    std::string ModuleFileName(void*) override { return {}; }
    std::string m_strCompany;
};
} // namespace

TEST(DeviceAccess, LibraryCheckReadsVersionAndCompany)
{
    CTraceCapture capture;
    CFakeVersionReader reader;
    std::string strVersion;
    bool bAccepted = true;
    EXPECT_FALSE(CDeviceAccess::CheckLibrary(reader, "missing.so", strVersion, bAccepted));
    EXPECT_FALSE(bAccepted);

    reader.m_strCompany = "Vantor Systems";
    ASSERT_TRUE(CDeviceAccess::CheckLibrary(reader, "libctapi.so", strVersion, bAccepted));
    EXPECT_EQ(strVersion, "2.3.4.5");
    EXPECT_TRUE(bAccepted);
    reader.m_strCompany = "VANTOR";
    CDeviceAccess::CheckLibrary(reader, "libctapi.so", strVersion, bAccepted);
    EXPECT_TRUE(bAccepted);
    reader.m_strCompany = "vantor";  // case-sensitive
    CDeviceAccess::CheckLibrary(reader, "libctapi.so", strVersion, bAccepted);
    EXPECT_FALSE(bAccepted);
    EXPECT_TRUE(capture.HasSubstring("CTVNT no vantor lib name = vantor"));
}

TEST(ServiceDiscovery, RandomDatagramsStayInsideTheirBytes)
{
    // Exactly sized heap copies: an address sanitizer build reports any read past the end.
    uint32_t nState = 12345;
    auto Next = [&nState] {
        nState = nState * 1103515245u + 12345u;
        return static_cast<uint8_t>(nState >> 16);
    };
    const uint8_t aTags[] = {0x80, 0x81, 0x82, 0x83, 0x84, 0x85, 0xA3, 0xA1, 0x8A, 0x10, 0x30};
    int nAccepted = 0;
    for (int nRound = 0; nRound < 5000; ++nRound)
    {
        const size_t nLength = Next() % 80;
        auto pData = std::make_unique<uint8_t[]>(nLength == 0 ? 1 : nLength);
        for (size_t i = 0; i < nLength; ++i)
            pData[i] = (Next() & 1) ? aTags[Next() % sizeof aTags] : static_cast<uint8_t>(Next() % 40);
        CDeviceInfo device;
        device.SetConnectionType(Next() & 1 ? 3 : 1);
        nAccepted += CSicctDevice::InterpreteServiceDiscovery(device, pData.get(), static_cast<int>(nLength)) ? 1 : 0;
        if (device.GetConnectionType() == 3 && !device.GetLogicalName().empty())
        {
            EXPECT_EQ(device.GetLogicalName().find(device.GetIpAddress() + ":"), 0u);
        }
    }
    EXPECT_GT(nAccepted, 0);  // the generator does reach the accepting paths
}
