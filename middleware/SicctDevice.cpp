#include "SicctDevice.h"

#include <algorithm>
#include <chrono>
#include <cstring>

#include "BCSCommand.h"
#include "BCSResponse.h"
#include "Configuration.h"
#include "DeviceInfo.h"
#include "LanDevice.h"
#include "MiddlewareCodes.h"
#include "MwTrace.h"

namespace
{
constexpr int kOpenTimeoutMs = 256000;
constexpr int kCloseStepTimeoutMs = 5000;
constexpr int kCloseSessionTimeoutMs = 10000;
constexpr uint16_t kOpenResponseSize = 256;
constexpr uint16_t kSicctVersion10 = 0x0100;
constexpr const char* kMappingWildcard = "ClientTerminalMapping.xml";

std::mutex g_mtxHidFactory;
CSicctDevice::TransportFactory g_fnHidFactory;

uint16_t Be16(const uint8_t* p)
{
    return static_cast<uint16_t>(p[0] << 8 | p[1]);
}

uint32_t Be32(const uint8_t* p)
{
    return static_cast<uint32_t>(p[0]) << 24 | static_cast<uint32_t>(p[1]) << 16 | static_cast<uint32_t>(p[2]) << 8 |
           p[3];
}

bool DeviceMatches(const CDeviceInfo& found, const CDeviceInfo* pWanted)
{
    if (pWanted == nullptr)
        return true;  // nothing configured: the first device found is used
    if (found.GetMacAddress() == pWanted->GetMacAddress())
        return true;
    return !found.GetMacAddress().empty() && pWanted->GetMacAddress().empty() &&
           pWanted->GetName() == kMappingWildcard;
}
} // namespace

CSicctDevice::CSicctDevice() = default;

CSicctDevice::~CSicctDevice()
{
    if (m_bOpen)
        Close();
    if (m_pTransport)
    {
        m_pTransport->KillListener();
        m_pTransport.reset();
    }
}

void CSicctDevice::SetHidTransportFactory(TransportFactory fnFactory)
{
    std::lock_guard<std::mutex> lock(g_mtxHidFactory);
    g_fnHidFactory = std::move(fnFactory);
}

void CSicctDevice::SetTransport(std::unique_ptr<CBaseDevice> pTransport)
{
    if (m_pTransport)
        m_pTransport->KillListener();
    m_pTransport = std::move(pTransport);
    if (m_pTransport)
        m_pTransport->SetOwner(this);
}

void CSicctDevice::SetSequenceNumber(uint16_t nLast)
{
    std::lock_guard<std::mutex> lock(m_mtxSequence);
    m_nSequence = nLast;
}

uint16_t CSicctDevice::NextSequenceNumber()
{
    uint16_t nNumber = 0;
    {
        std::lock_guard<std::mutex> lock(m_mtxSequence);
        nNumber = m_nSequence >= mw::kMaxSequenceNumber ? 0 : static_cast<uint16_t>(m_nSequence + 1);
        m_nSequence = nNumber;
    }
    TC_TRACE(mw::kTraceCtApi, trace::LEVEL_INFO, "SequenzNum", nNumber);
    return nNumber;
}

std::vector<uint8_t> CSicctDevice::BuildEnvelope(uint8_t nDestination, uint16_t nSequence, const uint8_t* pCommand,
                                                 uint16_t nLength)
{
    std::vector<uint8_t> vecEnvelope(mw::kEnvelopeHeaderSize + nLength, 0);
    vecEnvelope[0] = mw::MSG_COMMAND;
    // CT-API addresses to SICCT addresses: the terminal is 0, the first card 1.
    uint16_t nAddress = nDestination;
    if (nDestination == 0)
        nAddress = 1;
    else if (nDestination == 1)
        nAddress = 0;
    vecEnvelope[1] = static_cast<uint8_t>(nAddress >> 8);
    vecEnvelope[2] = static_cast<uint8_t>(nAddress);
    vecEnvelope[3] = static_cast<uint8_t>(nSequence >> 8);
    vecEnvelope[4] = static_cast<uint8_t>(nSequence);
    vecEnvelope[5] = 0;
    vecEnvelope[6] = 0;
    vecEnvelope[7] = 0;
    vecEnvelope[8] = static_cast<uint8_t>(nLength >> 8);
    vecEnvelope[9] = static_cast<uint8_t>(nLength);
    if (nLength > 0 && pCommand != nullptr)
        std::memcpy(vecEnvelope.data() + mw::kEnvelopeHeaderSize, pCommand, nLength);
    return vecEnvelope;
}

int CSicctDevice::CheckResponse(const uint8_t* pBuffer, int nLength, bool* pDeliver)
{
    if (pDeliver != nullptr)
        *pDeliver = false;
    if (pBuffer == nullptr || nLength <= mw::kEnvelopeHeaderSize)
        return 0;
    switch (pBuffer[0])
    {
    case mw::MSG_COMMAND:
        TC_TRACE(mw::kTraceCtApi, trace::LEVEL_INFO, "CheckResponse Response = C_COMMAND (invalid)", 0);
        return 0;
    case mw::MSG_RESPONSE:
        MW_TRACEF(mw::kTraceCtApi, trace::LEVEL_INFO, 0, "CheckResponse Response = R_COMMAND %d Bytes, SEQ_NR = 0x%d",
                  static_cast<int>(Be32(pBuffer + 6)), static_cast<int>(Be16(pBuffer + 3)));
        m_nKeepaliveCount.store(0);
        return mw::MSG_RESPONSE;
    case mw::MSG_EVENT:
        break;
    default:
        return 0;
    }
    if (Be32(pBuffer + 6) == 0)
        return 0;

    const uint8_t nCode = pBuffer[10];
    // The detail byte only counts when the terminal really sent it.
    const int nDetail = nLength > 12 ? pBuffer[12] : -1;
    std::string strText;
    switch (nCode)
    {
    case mw::EVT_KEEPALIVE:
    {
        strText = "CheckResponse Response = Keepalive Event";
        const int nCount = m_nKeepaliveCount.fetch_add(1) + 1;
        if (nCount > 10)
        {
            strText += " => 10 Keepalive Event";
            m_nKeepaliveCount.store(0);
        }
        break;
    }
    case mw::EVT_SIGN_OFF:
        strText = "CheckResponse Response = TerminalSignOFF Event";
        m_nKeepaliveCount.store(0);
        break;
    case mw::EVT_CARD_INSERTED:
        strText = "CheckResponse Response = Card Inserted Event";
        m_nKeepaliveCount.store(0);
        break;
    case mw::EVT_CARD_REMOVED:
        strText = "CheckResponse Response = Card Removed Event";
        m_nKeepaliveCount.store(0);
        break;
    case mw::EVT_PROTOCOL_ERROR:
        strText = "CheckResponse Response = EVENT Protocol error";
        if (nDetail == 0x11 && pDeliver != nullptr)
            *pDeliver = true;
        m_nKeepaliveCount.store(0);
        break;
    default:
        m_nKeepaliveCount.store(0);
        break;
    }
    TC_TRACE(mw::kTraceCtApi, trace::LEVEL_INFO, strText.c_str(), 0);
    return mw::MSG_EVENT;
}

uint8_t CSicctDevice::ExecuteCmd(CBCSCommand* pCommand, CBCSResponse* pResponse, int nTimeoutMs)
{
    TC_TRACE(mw::kTraceCtApi, trace::LEVEL_INFO, "ExecuteCmd", 0);
    if (pCommand == nullptr || pResponse == nullptr || !m_pTransport)
        return mw::EXEC_FAILED;
    const auto tpStart = std::chrono::steady_clock::now();
    const uint16_t nCommandLength = pCommand->GetDataLen();
    if (nCommandLength > 0 && pCommand->GetData() == nullptr)
        return mw::EXEC_FAILED;
    const int nResponseSize = pResponse->GetDataLen();
    std::vector<uint8_t> vecReceive(static_cast<size_t>(std::max(nResponseSize + mw::kEnvelopeHeaderSize, 14)), 0);

    const uint16_t nSequence = NextSequenceNumber();
    const std::vector<uint8_t> vecEnvelope =
        BuildEnvelope(pCommand->GetDestination(), nSequence, pCommand->GetData(), nCommandLength);
    TC_TRACE("", trace::LEVEL_BANNER,
             ("Sending Data to Terminal:" + mw::HexBytes(pCommand->GetData(), nCommandLength, "%02X ")).c_str(), 0);

    int nReceived = static_cast<int>(vecReceive.size());
    const int nResult = m_pTransport->Write(vecEnvelope.data(), static_cast<int>(vecEnvelope.size()),
                                            vecReceive.data(), nReceived, nTimeoutMs, 1);
    if (nResult != mw::MW_OK)
        return static_cast<uint8_t>(nResult);
    if (nReceived < mw::kEnvelopeHeaderSize)
    {
        TC_TRACE(mw::kTraceCtApi, trace::LEVEL_INFO, "Output Data Size smaller than Envelope Size", -10);
        return mw::EXEC_SHORT;
    }
    TC_TRACE(mw::kTraceCtApi, trace::LEVEL_INFO, "ExecuteCmd ->valid outputdata received", 0);

    uint8_t nExec = mw::EXEC_FAILED;
    switch (CheckResponse(vecReceive.data(), nReceived, nullptr))
    {
    case mw::MSG_EVENT:
        // A protocol error about the command ends it: the answer comes from the terminal.
        if (vecReceive[10] == mw::EVT_PROTOCOL_ERROR && nReceived > 12 && vecReceive[12] == 0x11)
        {
            pResponse->SetDestination(2);
            pResponse->SetSource(1);
        }
        nExec = mw::EXEC_FAILED;
        break;
    case mw::MSG_RESPONSE:
    {
        const int nDataLength = Be16(vecReceive.data() + 8);
        if (nDataLength > nResponseSize)
        {
            TC_TRACE(mw::kTraceCtApi, trace::LEVEL_ERROR, "Buffer too small to receive outputdata", nDataLength);
            pResponse->SetSource(1);
            pResponse->SetDestination(pCommand->GetSource());
            nExec = mw::EXEC_TOO_LARGE;
        }
        else if (nDataLength > nReceived - mw::kEnvelopeHeaderSize)
        {
            // The length field claims more than arrived: never hand out bytes not received.
            TC_TRACE(mw::kTraceCtApi, trace::LEVEL_ERROR, "Output Data Size smaller than Envelope Size", nDataLength);
            nExec = mw::EXEC_SHORT;
        }
        else
        {
            if (nDataLength > 0 && pResponse->GetData() != nullptr)
                std::memcpy(pResponse->GetData(), vecReceive.data() + mw::kEnvelopeHeaderSize,
                            static_cast<size_t>(nDataLength));
            pResponse->SetDataLen(static_cast<uint16_t>(nDataLength));
            pResponse->SetDestination(pCommand->GetSource());
            const uint16_t nAddress = Be16(vecReceive.data() + 1);
            pResponse->SetSource(nAddress == 0 ? 1 : nAddress == 1 ? 0 : vecReceive[2]);
            nExec = mw::EXEC_OK;
        }
        break;
    }
    default:
        nExec = mw::EXEC_FAILED;
        break;
    }
    const auto nElapsedMs =
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - tpStart).count();
    TC_TRACE(mw::kTraceCtApi, trace::LEVEL_INFO, "ExecuteCmd ->timeElapsed", nElapsedMs);
    return nExec;
}

std::unique_ptr<CBaseDevice> CSicctDevice::MakeTransport(const CDeviceInfo* pWanted)
{
    if (m_fnTransportFactory)
        return m_fnTransportFactory(pWanted);
    if (pWanted != nullptr && pWanted->GetConnectionType() == mw::CONN_LAN)
    {
        TC_TRACE("", trace::LEVEL_BANNER, "LAN interface selected", 0);
        return std::make_unique<CLanDevice>();
    }
    TC_TRACE("", trace::LEVEL_BANNER, "HID interface selected", 0);
    std::lock_guard<std::mutex> lock(g_mtxHidFactory);
    return g_fnHidFactory ? g_fnHidFactory(pWanted) : nullptr;
}

uint8_t CSicctDevice::SendFixed(const std::vector<uint8_t>& vecCommand, int nTimeoutMs, uint16_t& nStatus,
                                std::vector<uint8_t>* pData)
{
    std::vector<uint8_t> vecCommandBytes(vecCommand);
    std::vector<uint8_t> vecResponse(kOpenResponseSize, 0);
    CBCSCommand command;
    const uint8_t nDestination = 1;  // the terminal
    const uint8_t nSource = 2;       // the host
    uint16_t nLength = static_cast<uint16_t>(vecCommandBytes.size());
    if (command.SetData(&nDestination, &nSource, vecCommandBytes.data(), &nLength) != 0)
        return mw::EXEC_FAILED;
    CBCSResponse response;
    const uint8_t nNone = 0;
    uint16_t nCapacity = kOpenResponseSize;
    if (response.SetData(&nNone, &nNone, vecResponse.data(), &nCapacity) != 0)
    {
        TC_TRACE(mw::kTraceCtApi, trace::LEVEL_ERROR, "Response Buffer failed to Initialize", 0);
        return mw::EXEC_FAILED;
    }
    const uint8_t nResult = ExecuteCmd(&command, &response, nTimeoutMs);
    if (nResult != mw::EXEC_OK)
        return nResult;
    nStatus = response.GetStatusWord();
    if (pData != nullptr)
    {
        pData->clear();
        if (response.GetDataLen() > 2)
            pData->assign(vecResponse.begin(), vecResponse.begin() + (response.GetDataLen() - 2));
    }
    return nResult;
}

int CSicctDevice::Open(CDeviceInfo* pWanted)
{
    // The LAN switches ("HandleLANKeepalive") are read fresh for every connection.
    CConfiguration().ReadSwitch(CConfiguration::SWITCH_DEBUG_OUTPUT);
    if (!m_pTransport)
    {
        m_pTransport = MakeTransport(pWanted);
        if (!m_pTransport)
        {
            TC_TRACE(mw::kTraceCtApi, trace::LEVEL_INFO, "Open -> no device found", 0);
            return mw::MW_ERR_COMM;
        }
    }
    m_pTransport->SetOwner(this);

    std::vector<CDeviceInfo*> vecDevices{pWanted};
    m_pTransport->GetDevices(vecDevices);
    // Every record in the list now belongs to this call, except the caller's wanted one.
    auto freeList = [&] {
        for (CDeviceInfo* pInfo : vecDevices)
        {
            if (pInfo != pWanted)
                delete pInfo;
        }
        vecDevices.clear();
    };

    CDeviceInfo* pChosen = nullptr;
    for (CDeviceInfo* pFound : vecDevices)
    {
        if (pFound != nullptr && pFound != pWanted && DeviceMatches(*pFound, pWanted))
        {
            pChosen = pFound;
            MW_TRACEF(mw::kTraceCtApi, trace::LEVEL_INFO, 0, "device found on IP %s", pChosen->GetIpAddress().c_str());
            break;
        }
    }
    if (pChosen == nullptr)
    {
        TC_TRACE(mw::kTraceCtApi, trace::LEVEL_INFO, "Open -> no device found", 0);
        m_pTransport->KillListener();
        m_pTransport.reset();
        freeList();
        return mw::MW_ERR_COMM;
    }

    MW_TRACEF(mw::kTraceCtApi, trace::LEVEL_INFO, 0, "open device %s, MAC: %s", pChosen->GetLogicalName().c_str(),
              pChosen->GetMacAddress().c_str());
    m_bOpen = true;
    int nResult = m_pTransport->Connect(pChosen->GetLogicalName());
    if (nResult == mw::MW_OK)
    {
        TC_TRACE("CTApi", trace::LEVEL_INFO, "device connected", 0);
        nResult = mw::MW_ERR_GENERAL;

        TC_TRACE(mw::kTraceCtApi, trace::LEVEL_INFO, "->call Init Session", 0);
        std::vector<uint8_t> vecSession{0x80, 0x28, 0x00, 0x00, 0x08, 0x73, 0x06,
                                        0x13, 0x00, 0x13, 0x00, 0x13, 0x00, 0x00};
        if (pChosen->GetSicctVersion() != kSicctVersion10)
            vecSession[5] = 0x69;
        uint16_t nStatus = 0;
        std::vector<uint8_t> vecData;
        bool bSessionOpen = false;
        if (SendFixed(vecSession, kOpenTimeoutMs, nStatus, &vecData) != mw::EXEC_OK)
        {
            TC_TRACE(mw::kTraceCtApi, trace::LEVEL_INFO, "->Init Session failed", 0);
        }
        else
        {
            TC_TRACE(mw::kTraceCtApi, trace::LEVEL_INFO, "->Init Session returned", nStatus);
            if (nStatus != 0x9000)
                nResult = mw::MW_ERR_COMM;
            else if (!vecData.empty())
            {
                m_vecSessionData = vecData;
                bSessionOpen = true;
            }
        }

        if (bSessionOpen)
        {
            const uint8_t nExec = SendFixed({0x80, 0x20, 0x00, 0x00}, kOpenTimeoutMs, nStatus, nullptr);
            if (nExec == mw::EXEC_OK)
            {
                TC_TRACE(mw::kTraceCtApi, trace::LEVEL_INFO, "->Init SelectMode returned", nStatus);
                if (nStatus == 0x6200)
                    nResult = mw::MW_OK;
                else if (nStatus != 0x9000)
                    nResult = mw::MW_ERR_COMM;
                else if (SendFixed({0x80, 0x11, 0x00, 0x00}, kOpenTimeoutMs, nStatus, nullptr) == mw::EXEC_OK)
                {
                    TC_TRACE(mw::kTraceCtApi, trace::LEVEL_INFO, "->Init Reset CT returned", nStatus);
                    if (nStatus == 0x9000)
                        nResult = mw::MW_OK;
                }
            }
        }
    }
    if (nResult != mw::MW_OK)
    {
        TC_TRACE(mw::kTraceCtApi, trace::LEVEL_ERROR, "--> Device couldn't be opened", nResult);
        Close();
    }
    freeList();
    return nResult;
}

void CSicctDevice::Close()
{
    m_bOpen = false;
    TC_TRACE(mw::kTraceCtApi, trace::LEVEL_INFO, "Close connection", 0);
    if (!m_pTransport)
    {
        SetSequenceNumber(0);
        return;
    }
    uint16_t nStatus = 0;
    if (SendFixed({0x80, 0x20, 0x00, 0x01}, kCloseStepTimeoutMs, nStatus, nullptr) == mw::EXEC_OK)
    {
        TC_TRACE(mw::kTraceCtApi, trace::LEVEL_INFO, "select SicctMode returned", nStatus);
        if (SendFixed({0x20, 0x11, 0x00, 0x00}, kCloseStepTimeoutMs, nStatus, nullptr) == mw::EXEC_OK)
            TC_TRACE(mw::kTraceCtApi, trace::LEVEL_INFO, "Reset CT returned", nStatus);
        // The length travels in one byte: longer session data cannot be named.
        std::vector<uint8_t> vecClose{0x80, 0x29, 0x00, 0x00};
        if (m_vecSessionData.size() <= 0xFF)
        {
            vecClose.push_back(static_cast<uint8_t>(m_vecSessionData.size()));
            vecClose.insert(vecClose.end(), m_vecSessionData.begin(), m_vecSessionData.end());
        }
        else
        {
            vecClose.push_back(0);
        }
        if (SendFixed(vecClose, kCloseSessionTimeoutMs, nStatus, nullptr) == mw::EXEC_OK)
            TC_TRACE(mw::kTraceCtApi, trace::LEVEL_INFO, "Close CT-Session returned", nStatus);
    }
    m_pTransport->DisConnect();
    m_vecSessionData.clear();
    SetSequenceNumber(0);
}

bool CSicctDevice::InterpreteServiceDiscovery(CDeviceInfo& device, const uint8_t* pAnswer, int nLength)
{
    if (pAnswer == nullptr || nLength < 2)
    {
        TC_TRACE(mw::kTraceCtApi, trace::LEVEL_INFO, "Response too small for ServiceDiscovery Packet -> discarded", 0);
        return false;
    }
    uint16_t nVersion = 0;
    uint16_t nPort = 0;
    uint8_t aIp[4] = {0, 0, 0, 0};
    uint8_t aMac[6] = {0, 0, 0, 0, 0, 0};
    std::string strName;
    bool bAccepted = false;
    bool bSeen10 = false, bSeen11 = false, bSeen20 = false, bSeen30 = false;

    int nPos = pAnswer[0] == 0xA1 ? 2 : 0;
    while (nPos + 2 <= nLength)
    {
        const uint8_t nTag = pAnswer[nPos];
        const int nItemLength = pAnswer[nPos + 1];
        const uint8_t* pValue = pAnswer + nPos + 2;
        // An item whose value runs past the datagram ends the walk: nothing behind it is trusted.
        if (nPos + 2 + nItemLength > nLength)
            break;
        switch (nTag)
        {
        case 0x80:
            if (nItemLength == 2)
                nVersion = Be16(pValue);
            break;
        case 0x81:
            if (nItemLength == 4)
                std::memcpy(aIp, pValue, 4);
            break;
        case 0x82:
            if (nItemLength == 2)
                nPort = Be16(pValue);
            break;
        case 0x83:
            if (nItemLength <= 6)
            {
                std::memset(aMac, 0, sizeof aMac);
                std::memcpy(aMac, pValue, static_cast<size_t>(nItemLength));
                bAccepted = true;
            }
            break;
        case 0x84:
            if (nItemLength <= 32)
            {
                strName.assign(reinterpret_cast<const char*>(pValue), static_cast<size_t>(nItemLength));
                const size_t nNul = strName.find('\0');
                if (nNul != std::string::npos)
                    strName.resize(nNul);
                bAccepted = true;
            }
            break;
        case 0x85:
        case 0xA3:
            if (nItemLength <= 15)
            {
                const int nScan = std::min(nItemLength, 16);
                for (int i = 0; i < nScan; ++i)
                {
                    if (pValue[i] != 0x8A || i + 2 >= nItemLength)
                        continue;
                    switch (pValue[i + 2])
                    {
                    case 0x10: bSeen10 = true; break;
                    case 0x11: bSeen11 = true; break;
                    case 0x20: bSeen20 = true; break;
                    case 0x30: bSeen30 = true; break;
                    default: break;
                    }
                }
                bAccepted = true;
            }
            break;
        default:
            break;
        }
        nPos += nItemLength + 2;
    }
    if (!bAccepted)
    {
        TC_TRACE(mw::kTraceCtApi, trace::LEVEL_INFO, "Response too small for ServiceDiscovery Packet -> discarded", 0);
        return false;
    }
    const int nProtocol = bSeen30 ? 48 : bSeen20 ? 32 : bSeen11 ? 17 : bSeen10 ? 16 : 0;
    std::string strAddress = "localhost";
    if (device.GetConnectionType() == mw::CONN_LAN)
    {
        strAddress = mw::StrFormat("%d.%d.%d.%d", aIp[0], aIp[1], aIp[2], aIp[3]);
        device.SetLogicalName(mw::StrFormat("%s:%d:%d", strAddress.c_str(), nPort, nProtocol));
    }
    const std::string strMac =
        mw::StrFormat("%02X:%02X:%02X:%02X:%02X:%02X", aMac[0], aMac[1], aMac[2], aMac[3], aMac[4], aMac[5]);
    device.SetAdditionalInfo(
        mw::StrFormat("%s%s;%s%s;", "IP-Address=", strAddress.c_str(), "MAC-Address=", strMac.c_str()));
    device.SetName(strName);
    device.SetSicctVersion(nVersion);
    device.SetNetworkPort(nPort);
    TC_TRACE(mw::kTraceCtApi, trace::LEVEL_INFO, "->device found (ServiceDiscovery)", 0);
    return true;
}
