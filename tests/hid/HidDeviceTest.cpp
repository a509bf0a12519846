// The USB HID transport against simulated keyboards: search, handshake, envelope framing,
// answer reassembly, removal.
#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <memory>
#include <thread>

#include "DeviceInfo.h"
#include "DeviceNotifier.h"
#include "FakeHidSystem.h"
#include "HidDevice.h"
#include "MiddlewareCodes.h"
#include "SicctDevice.h"
#include "TraceCapture.h"

namespace
{
using Clock = std::chrono::steady_clock;

constexpr const char* kPath = "/dev/hidraw0";

HidTimeouts ShortTimeouts()
{
    HidTimeouts timeouts;
    timeouts.nConnectAnswerMs = 200;
    timeouts.nDiscoveryMs = 200;
    return timeouts;
}

std::vector<uint8_t> Envelope(uint8_t nType, size_t nDataLength, uint8_t nFill = 0x5A)
{
    std::vector<uint8_t> vec(10 + nDataLength, nFill);
    vec[0] = nType;
    for (int i = 1; i < 10; ++i)
        vec[static_cast<size_t>(i)] = 0;
    vec[6] = static_cast<uint8_t>(nDataLength >> 24);
    vec[7] = static_cast<uint8_t>(nDataLength >> 16);
    vec[8] = static_cast<uint8_t>(nDataLength >> 8);
    vec[9] = static_cast<uint8_t>(nDataLength);
    return vec;
}

uint16_t Le16(const std::vector<uint8_t>& vec, size_t nPos)
{
    return static_cast<uint16_t>(vec[nPos] | (vec[nPos + 1] << 8));
}

long ElapsedMs(Clock::time_point tpStart)
{
    return static_cast<long>(std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - tpStart).count());
}

class HidDeviceTest : public ::testing::Test
{
protected:
    void TearDown() override
    {
        // Every transport of a test is gone by now, and with it its notifier reference.
        EXPECT_EQ(CDeviceNotifier::UserCount(), 0);
    }
    std::unique_ptr<CHidDevice> Connected(bool bUseHandshake = true, uint16_t nMode = CHidDevice::kHidModeDefault)
    {
        auto pDevice = std::make_unique<CHidDevice>(&m_system);
        pDevice->SetTimeouts(ShortTimeouts());
        pDevice->SetUseHandshake(bUseHandshake);
        pDevice->SetHidMode(nMode);
        EXPECT_EQ(pDevice->Connect(kPath), mw::MW_OK);
        return pDevice;
    }

    CTraceCapture m_trace;
    CFakeHidSystem m_system;
};
} // namespace

TEST_F(HidDeviceTest, EnvelopeGoesOutInPartsWithOffsetAndRemainingLength)
{
    for (bool bNumbered : {false, true})
    {
        SCOPED_TRACE(bNumbered ? "numbered reports" : "report ID byte");
        CFakeHidSystem system;
        SimKeyboardConfig config;
        config.bNumberedReports = bNumbered;
        config.bAnswerEnvelopes = false;
        auto pKeyboard = system.Add(kPath, config);
        CHidDevice device(&system);
        device.SetTimeouts(ShortTimeouts());
        ASSERT_EQ(device.Connect(kPath), mw::MW_OK);

        std::vector<uint8_t> vecEnvelope = Envelope(0x6B, 290);
        for (size_t i = 10; i < vecEnvelope.size(); ++i)
            vecEnvelope[i] = static_cast<uint8_t>(i);
        uint8_t aResponse[64];
        int nResponse = sizeof aResponse;
        EXPECT_EQ(device.Write(vecEnvelope.data(), 300, aResponse, nResponse, 0, 1), mw::MW_ERR_GENERAL);

        // With the ID byte 57 payload bytes fit a 64-byte report, without it 58.
        const int nPayload = bNumbered ? 58 : 57;
        const size_t nBase = bNumbered ? 0 : 1;
        std::vector<std::vector<uint8_t>> vecParts;
        for (const auto& vecReport : pKeyboard->OutputReports())
        {
            if (vecReport[nBase + 1] == CHidDevice::HID_MSG_ENVELOPE)
                vecParts.push_back(vecReport);
        }
        ASSERT_EQ(vecParts.size(), static_cast<size_t>((300 + nPayload - 1) / nPayload));
        for (size_t i = 0; i < vecParts.size(); ++i)
        {
            const auto& vecReport = vecParts[i];
            ASSERT_EQ(vecReport.size(), 64u);
            if (!bNumbered)
            {
                EXPECT_EQ(vecReport[0], 0x00);
            }
            EXPECT_EQ(vecReport[nBase], 1);  // unit
            EXPECT_EQ(Le16(vecReport, nBase + 2), i * nPayload);
            EXPECT_EQ(Le16(vecReport, nBase + 4), 300 - i * nPayload);
        }
        if (!bNumbered)
        {
            EXPECT_EQ(Le16(vecParts[1], 3), 57);
            EXPECT_EQ(Le16(vecParts[2], 3), 114);
            EXPECT_EQ(Le16(vecParts[1], 5), 243);
            EXPECT_EQ(Le16(vecParts[2], 5), 186);
        }
        ASSERT_EQ(pKeyboard->Envelopes().size(), 1u);
        EXPECT_EQ(pKeyboard->Envelopes()[0], vecEnvelope);
    }
}

TEST_F(HidDeviceTest, FramingLimits)
{
    // A message without payload is one report with offset and length 0.
    auto vecReports = CHidDevice::BuildReports(nullptr, 0, 2, CHidDevice::HID_MSG_CONNECT, 64, true);
    ASSERT_EQ(vecReports.size(), 1u);
    ASSERT_EQ(vecReports[0].size(), 64u);
    EXPECT_EQ(vecReports[0][0], 0x00);
    EXPECT_EQ(vecReports[0][1], 2);
    EXPECT_EQ(vecReports[0][2], 0x20);
    EXPECT_EQ(Le16(vecReports[0], 3), 0);
    EXPECT_EQ(Le16(vecReports[0], 5), 0);
    // Reports without room for payload could never carry a message: refused, no endless loop.
    const uint8_t aData[4] = {1, 2, 3, 4};
    EXPECT_TRUE(CHidDevice::BuildReports(aData, 4, 1, 0x22, 7, true).empty());
    EXPECT_EQ(CHidDevice::BuildReports(aData, 4, 1, 0x22, 7, false).size(), 4u);
    EXPECT_TRUE(CHidDevice::BuildReports(aData, 0x10000, 1, 0x22, 64, true).empty());

    CHidDevice::ReportHeader header;
    const uint8_t aReport[] = {0x00, 0x01, 0x22, 0x39, 0x00, 0xF3, 0x00};
    ASSERT_TRUE(CHidDevice::ParseHeader(aReport, sizeof aReport, true, header));
    EXPECT_EQ(header.nOffset, 57);
    EXPECT_EQ(header.nLength, 243);
    EXPECT_FALSE(CHidDevice::ParseHeader(aReport, 6, true, header));
}

TEST_F(HidDeviceTest, WriteArgumentsAndClosedDevice)
{
    CHidDevice closed(&m_system);
    uint8_t aBuf[16] = {};
    int nLength = sizeof aBuf;
    EXPECT_EQ(closed.Write(aBuf, 11, aBuf, nLength, 100, 1), mw::MW_ERR_COMM);

    m_system.Add(kPath);
    auto pDevice = Connected();
    EXPECT_EQ(pDevice->Write(nullptr, 11, aBuf, nLength, 100, 1), mw::MW_ERR_GENERAL);
    EXPECT_EQ(pDevice->Write(aBuf, 11, nullptr, nLength, 100, 1), mw::MW_ERR_GENERAL);
    EXPECT_EQ(pDevice->Write(aBuf, 0x10000, aBuf, nLength, 100, 1), mw::MW_ERR_GENERAL);
}

TEST_F(HidDeviceTest, SearchListsOnlyUsableDevicesThatAnswerDiscovery)
{
    SimKeyboardConfig good;
    m_system.Add("/dev/hidraw0", good);
    SimKeyboardConfig product90 = good;
    product90.nProductId = 0x0090;
    m_system.Add("/dev/hidraw1", product90, false);  // IDs only known after opening
    SimKeyboardConfig otherVendor = good;
    otherVendor.nVendorId = 0x046D;
    m_system.Add("/dev/hidraw2", otherVendor);
    SimKeyboardConfig secure = good;
    secure.nUsagePage = 0xFF11;  // the other HID mode
    m_system.Add("/dev/hidraw3", secure, false);
    SimKeyboardConfig wrappedOnly = good;
    wrappedOnly.discovery = SimKeyboardConfig::DISCOVERY_WRAPPED_ONLY;
    wrappedOnly.aMac[5] = 0x0D;
    auto pWrapped = m_system.Add("/dev/hidraw4", wrappedOnly);
    SimKeyboardConfig silent = good;
    silent.discovery = SimKeyboardConfig::DISCOVERY_NONE;
    auto pSilent = m_system.Add("/dev/hidraw5", silent);
    m_system.AddInaccessible("/dev/hidraw6");

    CSicctDevice owner;
    CHidDevice device(&m_system);
    device.SetTimeouts(ShortTimeouts());
    device.SetOwner(&owner);
    std::vector<CDeviceInfo*> vecDevices{nullptr};
    device.GetDevices(vecDevices);

    ASSERT_EQ(vecDevices.size(), 3u);
    EXPECT_EQ(vecDevices[0], nullptr);  // entries handed in stay
    EXPECT_EQ(vecDevices[1]->GetLogicalName(), "/dev/hidraw0");
    EXPECT_EQ(vecDevices[1]->GetMacAddress(), "00:0D:F8:0A:0B:0C");
    EXPECT_EQ(vecDevices[1]->GetName(), "Sim Keyboard");
    EXPECT_EQ(vecDevices[1]->GetConnectionType(), mw::CONN_HID_UNSECURE);
    EXPECT_EQ(vecDevices[1]->GetCtApiDllName(), "ctvnt.dll");
    EXPECT_EQ(vecDevices[1]->GetIpAddress(), "localhost");
    EXPECT_EQ(vecDevices[2]->GetLogicalName(), "/dev/hidraw4");
    EXPECT_EQ(vecDevices[2]->GetMacAddress(), "00:0D:F8:0A:0B:0D");
    for (CDeviceInfo* pInfo : vecDevices)
        delete pInfo;

    // The second request is the first one wrapped in A0 0E.
    const auto vecRequests = pWrapped->DiscoveryRequests();
    ASSERT_EQ(vecRequests.size(), 2u);
    EXPECT_EQ(vecRequests[0], (std::vector<uint8_t>{0x80, 0x02, 0x01, 0x14, 0x81, 0x04, 0x01, 0x00, 0x00, 0x7F,
                                                    0x82, 0x02, 0x12, 0x86}));
    ASSERT_EQ(vecRequests[1].size(), 16u);
    EXPECT_EQ(vecRequests[1][0], 0xA0);
    EXPECT_EQ(vecRequests[1][1], 0x0E);
    EXPECT_EQ(pSilent->DiscoveryRequests().size(), 2u);
    EXPECT_TRUE(m_trace.HasSubstring("ValidateDevice open device /dev/hidraw6 failed, Error =0xd"));
}

TEST_F(HidDeviceTest, SearchWithoutOwnerListsUsableDevicesWithoutAsking)
{
    SimKeyboardConfig silent;
    silent.discovery = SimKeyboardConfig::DISCOVERY_NONE;
    auto pKeyboard = m_system.Add(kPath, silent);
    CHidDevice device(&m_system);
    std::vector<CDeviceInfo*> vecDevices;
    device.GetDevices(vecDevices);
    ASSERT_EQ(vecDevices.size(), 1u);
    EXPECT_EQ(vecDevices[0]->GetLogicalName(), kPath);
    EXPECT_TRUE(pKeyboard->DiscoveryRequests().empty());
    delete vecDevices[0];

    CHidDevice noSystem(nullptr);  // no HID layer at all: nothing found, nothing called
    noSystem.GetDevices(vecDevices);
    EXPECT_EQ(vecDevices.size(), 1u);
}

TEST_F(HidDeviceTest, HandshakeSwitchDecidesTheDisableReportBeforeConnect)
{
    auto pKeyboard = m_system.Add(kPath);
    {
        auto pDevice = Connected(false);
        EXPECT_EQ(pKeyboard->OutputTypes(), (std::vector<uint8_t>{0x81, 0x20}));
    }
    auto pKeyboard2 = m_system.Add("/dev/hidraw1");
    CHidDevice device(&m_system);
    ASSERT_EQ(device.Connect("/dev/hidraw1"), mw::MW_OK);
    EXPECT_EQ(pKeyboard2->OutputTypes(), (std::vector<uint8_t>{0x20}));
    EXPECT_TRUE(m_trace.HasMessage("-> connect succeeded"));
}

TEST_F(HidDeviceTest, SecureModeUsesUnitTwoForControlReportsAndOneForEnvelopes)
{
    SimKeyboardConfig config;
    config.nUsagePage = 0xFF11;
    auto pKeyboard = m_system.Add(kPath, config);
    auto pDevice = Connected(false, CHidDevice::kHidModeSecure);
    const std::vector<uint8_t> vecCommand = Envelope(0x6B, 4);
    uint8_t aResponse[64];
    int nResponse = sizeof aResponse;
    ASSERT_EQ(pDevice->Write(vecCommand.data(), static_cast<int>(vecCommand.size()), aResponse, nResponse, 1000, 1),
              mw::MW_OK);
    const auto vecReports = pKeyboard->OutputReports();
    ASSERT_EQ(vecReports.size(), 3u);
    EXPECT_EQ(vecReports[0][1], 2);  // 0x81
    EXPECT_EQ(vecReports[1][1], 2);  // CONNECT
    EXPECT_EQ(vecReports[2][1], 1);  // envelope
}

TEST_F(HidDeviceTest, UnansweredConnectSendsConnectFailedAndClosesTheDevice)
{
    SimKeyboardConfig config;
    config.bAnswerConnect = false;
    auto pKeyboard = m_system.Add(kPath, config);
    CHidDevice device(&m_system);
    device.SetTimeouts(ShortTimeouts());
    const auto tpStart = Clock::now();
    EXPECT_EQ(device.Connect(kPath), mw::MW_ERR_GENERAL);
    EXPECT_GE(ElapsedMs(tpStart), 190);
    EXPECT_EQ(pKeyboard->OutputTypes(), (std::vector<uint8_t>{0x20, 0x21}));
    EXPECT_TRUE(m_trace.HasMessage("-> connect failed"));
    EXPECT_FALSE(device.IsOpen());
    EXPECT_FALSE(device.HasLiveListener());
    EXPECT_EQ(CDeviceNotifier::UserCount(), 0);  // no notification without a connection

    CHidDevice missing(&m_system);
    EXPECT_EQ(missing.Connect("/dev/hidraw9"), mw::MW_ERR_GENERAL);
    EXPECT_TRUE(m_trace.HasMessage("-> open HID-driver failed"));
}

TEST_F(HidDeviceTest, AnswersInOneOrManyReports)
{
    auto pKeyboard = m_system.Add(kPath);
    CSicctDevice owner;
    auto pDevice = Connected();
    pDevice->SetOwner(&owner);
    const std::vector<uint8_t> vecCommand = Envelope(0x6B, 4);

    // 20 bytes fit one report: complete at once.
    pKeyboard->SetEnvelopeHandler([](const std::vector<uint8_t>&) { return Envelope(0x83, 10, 0x11); });
    uint8_t aResponse[512];
    int nResponse = sizeof aResponse;
    ASSERT_EQ(pDevice->Write(vecCommand.data(), 14, aResponse, nResponse, 1000, 1), mw::MW_OK);
    EXPECT_EQ(nResponse, 20);
    EXPECT_EQ(std::vector<uint8_t>(aResponse, aResponse + 20), Envelope(0x83, 10, 0x11));
    EXPECT_FALSE(m_trace.HasMessage("=> wait for next part"));

    // 300 bytes come in six parts and are put together in order.
    std::vector<uint8_t> vecLong = Envelope(0x83, 290);
    for (size_t i = 10; i < vecLong.size(); ++i)
        vecLong[i] = static_cast<uint8_t>(i * 7);
    pKeyboard->SetEnvelopeHandler([vecLong](const std::vector<uint8_t>&) { return vecLong; });
    nResponse = sizeof aResponse;
    ASSERT_EQ(pDevice->Write(vecCommand.data(), 14, aResponse, nResponse, 1000, 1), mw::MW_OK);
    ASSERT_EQ(nResponse, 300);
    EXPECT_EQ(std::vector<uint8_t>(aResponse, aResponse + 300), vecLong);
    EXPECT_EQ(m_trace.CountMessage("=> wait for next part"), 5);

    // Too small a buffer: -11, and the answer does not linger for the next command.
    nResponse = 100;
    EXPECT_EQ(pDevice->Write(vecCommand.data(), 14, aResponse, nResponse, 1000, 1), mw::MW_ERR_BUFFER);
    pKeyboard->SetEnvelopeHandler([](const std::vector<uint8_t>&) { return std::vector<uint8_t>{}; });
    nResponse = sizeof aResponse;
    EXPECT_EQ(pDevice->Write(vecCommand.data(), 14, aResponse, nResponse, 100, 1), mw::MW_ERR_COMM);
    EXPECT_TRUE(m_trace.HasMessage("->timeout on wait for response"));
}

TEST_F(HidDeviceTest, EventsAreFilteredAndForeignPartsDropped)
{
    auto pKeyboard = m_system.Add(kPath);
    CSicctDevice owner;
    auto pDevice = Connected();
    pDevice->SetOwner(&owner);
    const std::vector<uint8_t> vecCommand = Envelope(0x6B, 4);
    uint8_t aResponse[512];

    // A keepalive is consumed by the listener; the command's answer behind it is delivered.
    std::vector<uint8_t> vecKeepalive = Envelope(0x50, 3, 0);
    vecKeepalive[10] = 0x80;
    pKeyboard->SetEnvelopeHandler([&](const std::vector<uint8_t>& vecIn) {
        std::vector<uint8_t> vecAnswer = CSimKeyboard::DefaultTerminal(vecIn);
        return vecAnswer;
    });
    pKeyboard->SendEnvelope(vecKeepalive);
    int nResponse = sizeof aResponse;
    ASSERT_EQ(pDevice->Write(vecCommand.data(), 14, aResponse, nResponse, 1000, 1), mw::MW_OK);
    EXPECT_EQ(aResponse[0], 0x83);
    EXPECT_EQ(owner.GetKeepaliveCount(), 0);  // the response reset the count after the keepalive

    // A protocol error event with detail 0x11 is handed to the waiting writer.
    std::vector<uint8_t> vecError = Envelope(0x50, 3, 0);
    vecError[10] = 0x86;
    vecError[12] = 0x11;
    pKeyboard->SetEnvelopeHandler([vecError](const std::vector<uint8_t>&) { return vecError; });
    nResponse = sizeof aResponse;
    ASSERT_EQ(pDevice->Write(vecCommand.data(), 14, aResponse, nResponse, 1000, 1), mw::MW_OK);
    EXPECT_EQ(aResponse[0], 0x50);
    EXPECT_EQ(aResponse[12], 0x11);

    // A part that does not continue the open message (wrong offset) ends it: the writer
    // times out instead of receiving a message with a hole.
    pKeyboard->SetEnvelopeHandler([](const std::vector<uint8_t>&) { return std::vector<uint8_t>{}; });
    std::vector<uint8_t> vecFirst = {1, 0x22, 0, 0, 100, 0, 0x83};
    pKeyboard->SendRawReport(vecFirst);
    pKeyboard->SendRawReport({1, 0x22, 60, 0, 40, 0});       // offset 60 + 40 = 100, but part 2 starts at 57
    pKeyboard->SendRawReport({1, 0x22, 57, 0, 40, 0});       // 57 + 40 != 100
    nResponse = sizeof aResponse;
    EXPECT_EQ(pDevice->Write(vecCommand.data(), 14, aResponse, nResponse, 200, 1), mw::MW_ERR_COMM);
    EXPECT_TRUE(m_trace.HasMessage("=> part does not fit the open message"));
    EXPECT_TRUE(m_trace.HasMessage("=> no buffer allocated"));

    // 0x81 from the device turns the handshake switch off.
    EXPECT_TRUE(pDevice->GetUseHandshake());
    pKeyboard->SendRawReport({1, 0x81, 0, 0, 0, 0});
    for (int i = 0; i < 100 && pDevice->GetUseHandshake(); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    EXPECT_FALSE(pDevice->GetUseHandshake());
}

TEST_F(HidDeviceTest, UnpluggedKeyboardWakesAWaitingWrite)
{
    SimKeyboardConfig config;
    config.bAnswerEnvelopes = false;
    m_system.Add(kPath, config);
    auto pDevice = Connected();
    ASSERT_EQ(CDeviceNotifier::RegistrationCount(), 1u);
    const std::vector<uint8_t> vecCommand = Envelope(0x6B, 4);
    uint8_t aResponse[64];
    int nResponse = sizeof aResponse;

    auto futUnplug = std::async(std::launch::async, [this] {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        m_system.Unplug(kPath);
    });
    const auto tpStart = Clock::now();
    EXPECT_EQ(pDevice->Write(vecCommand.data(), 14, aResponse, nResponse, 5000, 1), mw::MW_ERR_COMM);
    EXPECT_LT(ElapsedMs(tpStart), 2000);
    futUnplug.get();
    EXPECT_TRUE(m_trace.HasMessage("->connection closed"));

    // The notification thread logs the removal and drops the registration.
    for (int i = 0; i < 200 && !pDevice->IsRemoved(); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    EXPECT_TRUE(pDevice->IsRemoved());
    EXPECT_TRUE(m_trace.HasSubstring("Device /dev/hidraw0 remove complete"));
    EXPECT_TRUE(m_trace.HasSubstring("Device with handle =0x"));
    EXPECT_EQ(CDeviceNotifier::RegistrationCount(), 0u);
    // Later writes fail at once.
    nResponse = sizeof aResponse;
    EXPECT_EQ(pDevice->Write(vecCommand.data(), 14, aResponse, nResponse, 5000, 1), mw::MW_ERR_COMM);

    // Plugged in again at the same node: a new Connect opens it afresh and registers anew.
    m_system.Add(kPath);
    ASSERT_EQ(pDevice->Connect(kPath), mw::MW_OK);
    EXPECT_FALSE(pDevice->IsRemoved());
    EXPECT_EQ(CDeviceNotifier::RegistrationCount(), 1u);
    nResponse = sizeof aResponse;
    EXPECT_EQ(pDevice->Write(vecCommand.data(), 14, aResponse, nResponse, 1000, 1), mw::MW_OK);
    EXPECT_EQ(pDevice->DisConnect(), mw::MW_OK);
    EXPECT_FALSE(pDevice->IsOpen());
    EXPECT_EQ(CDeviceNotifier::RegistrationCount(), 0u);
}

TEST_F(HidDeviceTest, RemovalNoticeAloneEndsTheWaitAndTheListener)
{
    // The node still reads (no error from the device), but the system reports its removal.
    SimKeyboardConfig config;
    config.bAnswerEnvelopes = false;
    m_system.Add(kPath, config);
    auto pDevice = Connected();
    const std::vector<uint8_t> vecCommand = Envelope(0x6B, 4);
    uint8_t aResponse[64];
    int nResponse = sizeof aResponse;
    auto futRemove = std::async(std::launch::async, [this] {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        m_system.PostEvent(os::DeviceEvent{"remove", kPath, "hidraw0"});
    });
    const auto tpStart = Clock::now();
    EXPECT_EQ(pDevice->Write(vecCommand.data(), 14, aResponse, nResponse, 5000, 1), mw::MW_ERR_COMM);
    EXPECT_LT(ElapsedMs(tpStart), 2000);
    futRemove.get();
    EXPECT_TRUE(pDevice->IsRemoved());
    for (int i = 0; i < 200 && pDevice->HasLiveListener(); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    EXPECT_FALSE(pDevice->HasLiveListener());
}

TEST_F(HidDeviceTest, SicctOpenOverHidRunsTheStartSequence)
{
    SimKeyboardConfig config;
    config.nSicctVersion = 0x0100;
    auto pKeyboard = m_system.Add(kPath, config);
    CHidDevice::InstallTransportFactory(&m_system, ShortTimeouts());
    // The factory is process-wide and points at this test's fake system: removed on every exit.
    struct FactoryGuard
    {
        ~FactoryGuard() { CSicctDevice::SetHidTransportFactory(nullptr); }
    } guard;

    CDeviceInfo wanted;
    wanted.SetConnectionType(mw::CONN_HID_UNSECURE);
    wanted.SetMacAddress("00:0D:F8:0A:0B:0C");
    wanted.SetUseHIDHandshake(0);
    {
        CSicctDevice sicct;
        ASSERT_EQ(sicct.Open(&wanted), mw::MW_OK);
        EXPECT_EQ(sicct.GetSessionData(), (std::vector<uint8_t>{0x01, 0x02, 0x03}));
        auto* pHid = dynamic_cast<CHidDevice*>(sicct.GetTransport());
        ASSERT_NE(pHid, nullptr);
        EXPECT_EQ(pHid->GetDevicePath(), kPath);
        sicct.Close();
    }

    const auto vecEnvelopes = pKeyboard->Envelopes();
    ASSERT_EQ(vecEnvelopes.size(), 6u);
    auto Command = [&](size_t i) {
        return std::vector<uint8_t>(vecEnvelopes[i].begin() + 10, vecEnvelopes[i].end());
    };
    EXPECT_EQ(Command(0), (std::vector<uint8_t>{0x80, 0x28, 0x00, 0x00, 0x08, 0x73, 0x06, 0x13, 0x00, 0x13, 0x00,
                                                0x13, 0x00, 0x00}));
    EXPECT_EQ(Command(1), (std::vector<uint8_t>{0x80, 0x20, 0x00, 0x00}));
    EXPECT_EQ(Command(2), (std::vector<uint8_t>{0x80, 0x11, 0x00, 0x00}));
    EXPECT_EQ(Command(3), (std::vector<uint8_t>{0x80, 0x20, 0x00, 0x01}));
    EXPECT_EQ(Command(4), (std::vector<uint8_t>{0x20, 0x11, 0x00, 0x00}));
    EXPECT_EQ(Command(5), (std::vector<uint8_t>{0x80, 0x29, 0x00, 0x00, 0x03, 0x01, 0x02, 0x03}));
    // Sequence numbers 1, 2, 3 in the envelopes of the start sequence.
    EXPECT_EQ(vecEnvelopes[0][4], 1);
    EXPECT_EQ(vecEnvelopes[2][4], 3);
    // The handshake switch came from the wanted device.
    const auto vecTypes = pKeyboard->OutputTypes();
    ASSERT_GE(vecTypes.size(), 2u);
    EXPECT_EQ(vecTypes[0], 0x24);
    EXPECT_NE(std::find(vecTypes.begin(), vecTypes.end(), 0x81), vecTypes.end());
}
