#include "TerminalLogic.h"

#include <algorithm>
#include <cstdio>

namespace sim
{
namespace
{
constexpr int SW_OK = 0x9000;
constexpr int SW_SESSION_EXISTS = 0x6200;
constexpr int SW_UNKNOWN_USER = 0x6401;
constexpr int SW_WRONG_PASSWORD = 0x6402;
constexpr int SW_WRONG_SESSION_ID = 0x6403;
constexpr int SW_NO_CARD = 0x64A1;
constexpr int SW_WRONG_LENGTH = 0x6700;
constexpr int SW_NOT_ALLOWED = 0x6900;
constexpr int SW_BAD_P1P2 = 0x6A00;
constexpr int SW_BAD_OBJECT = 0x6A80;
constexpr int SW_OBJECT_MISSING = 0x6A88;
constexpr int SW_BAD_INS = 0x6D00;
constexpr int SW_BAD_CLA = 0x6E00;

constexpr uint8_t kTagSessionSicct13 = 0x73; // session objects of SICCT 1.3
constexpr uint8_t kTagSession = 0x69;

bool IsCardSlot(const UnitConfig& u) { return u.nType < 0x10; }

uint8_t UnitP1(const UnitConfig& u)
{
    return static_cast<uint8_t>((u.nType & 0xF0) | (u.nNumber & 0x0F));
}

/// Values of the 0x13 objects directly inside a constructed object (or inside the raw
/// bytes when they do not start with a usable constructed object).
std::vector<Bytes> SessionObjects(const Bytes& vecData, uint8_t& nOuterTag)
{
    std::vector<Bytes> vecOut;
    nOuterTag = 0;
    Bytes vecInner = vecData;
    uint8_t nTag = 0;
    size_t nPos = 0, nLen = 0;
    if (wire::ReadTlv(vecData, 0, nTag, nPos, nLen) && (nTag == kTagSession || nTag == kTagSessionSicct13))
    {
        nOuterTag = nTag;
        vecInner.assign(vecData.begin() + static_cast<std::ptrdiff_t>(nPos),
                        vecData.begin() + static_cast<std::ptrdiff_t>(nPos + nLen));
    }
    size_t i = 0;
    while (i < vecInner.size())
    {
        if (!wire::ReadTlv(vecInner, i, nTag, nPos, nLen))
            break;
        if (nTag == 0x13)
            vecOut.emplace_back(vecInner.begin() + static_cast<std::ptrdiff_t>(nPos),
                                vecInner.begin() + static_cast<std::ptrdiff_t>(nPos + nLen));
        i = nPos + nLen;
    }
    return vecOut;
}
} // namespace

Bytes StatusOnly(int nStatusWord)
{
    Bytes v;
    AppendStatus(v, nStatusWord);
    return v;
}

void AppendStatus(Bytes& v, int nStatusWord)
{
    v.push_back(static_cast<uint8_t>((nStatusWord >> 8) & 0xFF));
    v.push_back(static_cast<uint8_t>(nStatusWord & 0xFF));
}

CTerminalLogic::CTerminalLogic(TerminalConfig& config, SimRecording& recording)
    : m_config(config), m_rec(recording)
{
}

UnitConfig* CTerminalLogic::FindUnit(uint8_t nP1)
{
    for (auto& u : m_config.vecUnits)
        if (UnitP1(u) == nP1)
            return &u;
    return nullptr;
}

Bytes CTerminalLogic::Handle(const wire::Apdu& a, uint16_t nAddress, ConnectionState& conn)
{
    if (nAddress != 0)
    {
        // A command for the card in slot nAddress: this terminal has no card emulation, it
        // only tells whether a card is there to talk to.
        for (const auto& u : m_config.vecUnits)
            if (IsCardSlot(u) && u.nNumber == nAddress)
                return StatusOnly(u.bCardPresent ? SW_OK : SW_NO_CARD);
        return StatusOnly(SW_BAD_P1P2);
    }
    const bool bSicctCla = a.nCla == 0x80;
    const bool bBcsCla = a.nCla == 0x20;
    if (!bSicctCla && !bBcsCla)
        return StatusOnly(SW_BAD_CLA);
    switch (a.nIns)
    {
    case 0x13:
        return GetStatus(a);
    case 0x11:
        return Reset(a);
    default:
        break;
    }
    if (!bSicctCla)
        return StatusOnly(SW_BAD_INS);
    switch (a.nIns)
    {
    case 0x28:
        return OpenSession(a, conn, false);
    case 0x58:
        return OpenSession(a, conn, true);
    case 0x29:
        return CloseSession(a, conn);
    case 0x20:
        return StatusOnly(m_config.nSelectModeStatus);
    case 0x17:
        return Output(a);
    case 0x24:
        return DownloadInit(conn);
    case 0x25:
        return DownloadData(a, conn);
    case 0x26:
        return a.vecData.empty() ? DownloadFinish(conn) : DownloadData(a, conn);
    case 0x23:
        return WriteCertificates(a, conn);
    default:
        return StatusOnly(SW_BAD_INS);
    }
}

Bytes CTerminalLogic::SessionAnswer(uint8_t nTag) const
{
    Bytes vecInner = {0x13, 0x00, 0x13, 0x00};
    wire::AppendTlv(vecInner, 0x13, m_config.vecSessionId);
    Bytes v;
    wire::AppendTlv(v, nTag, vecInner);
    AppendStatus(v, SW_OK);
    return v;
}

Bytes CTerminalLogic::OpenSession(const wire::Apdu& a, ConnectionState& conn, bool bCtApiForm)
{
    uint8_t nTag = kTagSession;
    std::string strUser, strPassword;
    if (!bCtApiForm)
    {
        const auto vecObjects = SessionObjects(a.vecData, nTag);
        if (nTag == 0)
            return StatusOnly(SW_BAD_OBJECT);
        if (vecObjects.size() < 2)
            return StatusOnly(SW_OBJECT_MISSING);
        strUser.assign(vecObjects[0].begin(), vecObjects[0].end());
        strPassword.assign(vecObjects[1].begin(), vecObjects[1].end());
        m_rec.vecLoginAttempts.push_back(strUser + ":" + strPassword);
    }
    if (conn.bSessionOpen)
        return StatusOnly(SW_SESSION_EXISTS);
    if (!bCtApiForm)
    {
        const bool bAnonymous = strUser.empty() && strPassword.empty();
        if (!(bAnonymous && m_config.bAllowAnonymous))
        {
            if (strUser != m_config.strUser)
                return StatusOnly(SW_UNKNOWN_USER);
            if (strPassword != m_config.strPassword)
                return StatusOnly(SW_WRONG_PASSWORD);
        }
    }
    conn.bSessionOpen = true;
    ++m_rec.stats.nSessionsOpened;
    return SessionAnswer(nTag);
}

Bytes CTerminalLogic::CloseSession(const wire::Apdu& a, ConnectionState& conn)
{
    Bytes vecId;
    bool bIdGiven = false;
    if (!a.vecData.empty())
    {
        uint8_t nTag = 0;
        const auto vecObjects = SessionObjects(a.vecData, nTag);
        if (vecObjects.size() >= 3)
        {
            vecId = vecObjects[2];
            bIdGiven = true;
        }
        else
            return StatusOnly(SW_BAD_OBJECT);
    }
    m_rec.vecClosedSessionIds.push_back(vecId);
    if (!conn.bSessionOpen)
        return StatusOnly(m_config.nCloseWithoutSessionStatus);
    if (bIdGiven && vecId != m_config.vecSessionId)
        return StatusOnly(SW_WRONG_SESSION_ID);
    conn.bSessionOpen = false;
    conn.bDownloadOpen = false;
    ++m_rec.stats.nSessionsClosed;
    return StatusOnly(SW_OK);
}

Bytes CTerminalLogic::Reset(const wire::Apdu& a)
{
    if (a.nP1 == 0x00)
        return StatusOnly(SW_OK); // the terminal itself
    UnitConfig* pUnit = FindUnit(a.nP1);
    if (!pUnit || !IsCardSlot(*pUnit))
        return StatusOnly(SW_BAD_P1P2);
    if (!pUnit->bCardPresent)
        return StatusOnly(SW_NO_CARD);
    pUnit->bPowered = true;
    Bytes v;
    if (a.nP2 & 0x01)
    {
        // complete ATR requested: data object 5F 51
        v.push_back(0x5F);
        v.push_back(0x51);
        v.push_back(static_cast<uint8_t>(pUnit->vecAtr.size()));
        v.insert(v.end(), pUnit->vecAtr.begin(), pUnit->vecAtr.end());
    }
    AppendStatus(v, SW_OK);
    return v;
}

Bytes CTerminalLogic::ManufacturerObject() const
{
    const auto& m = m_config.manufacturer;
    if (m.optRaw)
        return *m.optRaw;
    auto Fixed = [](const std::string& s) {
        std::string t = s.substr(0, 5);
        t.resize(5, ' ');
        return Bytes(t.begin(), t.end());
    };
    Bytes vecValue = Fixed(m.strId);
    if (!m.bShortForm)
    {
        const Bytes t = Fixed(m.strType);
        vecValue.insert(vecValue.end(), t.begin(), t.end());
    }
    const Bytes ver = Fixed(m.strVersion);
    vecValue.insert(vecValue.end(), ver.begin(), ver.end());
    if (!m.bShortForm)
        vecValue.insert(vecValue.end(), m.vecDiscretionary.begin(), m.vecDiscretionary.end());
    Bytes v;
    wire::AppendTlv(v, 0x46, vecValue);
    return v;
}

Bytes CTerminalLogic::UnitList() const
{
    if (m_config.optRawUnitList)
        return *m_config.optRawUnitList;
    Bytes vecValue;
    for (const auto& u : m_config.vecUnits)
    {
        vecValue.push_back(u.nType);
        vecValue.push_back(u.nNumber);
    }
    Bytes v;
    wire::AppendTlv(v, 0x81, vecValue);
    return v;
}

Bytes CTerminalLogic::GetStatus(const wire::Apdu& a)
{
    Bytes v;
    if (a.nP1 == 0x00)
    {
        if (a.nP2 == 0x46)
            v = ManufacturerObject();
        else if (a.nP2 == 0x81)
            v = UnitList();
        else
            return StatusOnly(SW_OBJECT_MISSING);
        AppendStatus(v, SW_OK);
        return v;
    }
    UnitConfig* pUnit = FindUnit(a.nP1);
    if (!pUnit)
        return StatusOnly(SW_BAD_P1P2);
    return UnitStatus(*pUnit, a.nP2);
}

Bytes CTerminalLogic::UnitStatus(UnitConfig& u, uint8_t nP2)
{
    Bytes v;
    for (const auto& [nRawP2, vecRaw] : u.vecRawAnswers)
        if (nRawP2 == nP2)
        {
            v = vecRaw;
            AppendStatus(v, SW_OK);
            return v;
        }
    const uint8_t nKind = u.nType & 0xF0;
    switch (nP2)
    {
    case 0xA1:
    {
        std::string strName = u.strName;
        if (strName.empty())
        {
            char buf[8];
            std::snprintf(buf, sizeof buf, "FU %02X", UnitP1(u));
            strName = buf;
        }
        Bytes vecInner;
        wire::AppendTlv(vecInner, 0x13, Bytes(strName.begin(), strName.end()));
        wire::AppendTlv(vecInner, 0x84, Bytes{u.nType, u.nNumber});
        wire::AppendTlv(v, 0xA1, vecInner);
        break;
    }
    case 0x80:
    {
        if (!IsCardSlot(u))
            return StatusOnly(SW_OBJECT_MISSING);
        uint8_t nStatus = 0x00;
        if (u.nIccStatus >= 0)
            nStatus = static_cast<uint8_t>(u.nIccStatus);
        else if (u.bCardPresent && u.bPowered)
            nStatus = 0x01 | 0x04 | 0x10; // inserted, powered, specific mode after the reset
        else if (u.bCardPresent)
            nStatus = 0x01 | 0x02; // inserted, not yet connected
        wire::AppendTlv(v, 0x80, Bytes{nStatus});
        break;
    }
    case 0x66:
    {
        if (!IsCardSlot(u))
            return StatusOnly(SW_OBJECT_MISSING);
        Bytes vecInner;
        for (size_t i = 0; i < 7; ++i)
            wire::AppendTlv(vecInner, static_cast<uint8_t>(0x80 + i),
                            Bytes{i < u.vecIccInterface.size() ? u.vecIccInterface[i] : uint8_t{0}});
        wire::AppendTlv(vecInner, 0x87,
                        Bytes{static_cast<uint8_t>(u.nExtendedLength >> 8),
                              static_cast<uint8_t>(u.nExtendedLength & 0xFF)});
        wire::AppendTlv(v, 0x66, vecInner);
        break;
    }
    case 0x67:
    {
        if (nKind != 0x40)
            return StatusOnly(SW_OBJECT_MISSING);
        Bytes vecInner;
        wire::AppendTlv(vecInner, 0x80, Bytes{u.nVisibleChars});
        wire::AppendTlv(vecInner, 0x81, Bytes{u.nVisibleLines});
        wire::AppendTlv(vecInner, 0x82, Bytes{u.nVirtualChars});
        wire::AppendTlv(vecInner, 0x83, Bytes{u.nVirtualLines});
        wire::AppendTlv(vecInner, 0x84, Bytes{u.nDisplayAttributes});
        for (uint8_t nSet : u.vecCharsets)
            wire::AppendTlv(vecInner, 0x85, Bytes{nSet});
        wire::AppendTlv(v, 0x67, vecInner);
        break;
    }
    case 0x6A:
    {
        if (nKind != 0x50)
            return StatusOnly(SW_OBJECT_MISSING);
        Bytes vecInner;
        for (size_t i = 0; i < 7; ++i)
            wire::AppendTlv(vecInner, static_cast<uint8_t>(0x80 + i),
                            Bytes{i < u.vecKeys.size() ? u.vecKeys[i] : uint8_t{0}});
        wire::AppendTlv(v, 0x6A, vecInner);
        break;
    }
    default:
        return StatusOnly(SW_OBJECT_MISSING);
    }
    AppendStatus(v, SW_OK);
    return v;
}

Bytes CTerminalLogic::Output(const wire::Apdu& a)
{
    uint8_t nTag = 0;
    size_t nPos = 0, nLen = 0;
    if (!wire::ReadTlv(a.vecData, 0, nTag, nPos, nLen) || nTag != 0x50)
        return StatusOnly(SW_OBJECT_MISSING);
    m_rec.vecDisplayOutputs.emplace_back(a.vecData.begin() + static_cast<std::ptrdiff_t>(nPos),
                                         a.vecData.begin() + static_cast<std::ptrdiff_t>(nPos + nLen));
    return StatusOnly(SW_OK);
}

Bytes CTerminalLogic::DownloadInitData() const
{
    const int n = std::clamp(m_config.nMaxPacketSize, 0, 0xFFFF);
    const auto hi = static_cast<uint8_t>(n >> 8);
    const auto lo = static_cast<uint8_t>(n & 0xFF);
    switch (m_config.ePacketSizeLayout)
    {
    case EPacketSizeLayout::A:
        // The length byte of these terminals counts two bytes more than follow.
        return {0x73, 0x09, 0x80, 0x01, 0x00, 0x02, 0x02, lo, hi};
    case EPacketSizeLayout::B:
        if (n < 0x100)
            return {0x73, 0x06, 0x04, 0x01, 0x00, 0x04, 0x01, lo};
        return {0x73, 0x07, 0x04, 0x01, 0x00, 0x04, 0x02, hi, lo};
    case EPacketSizeLayout::None:
        break;
    }
    return {0x73, 0x00};
}

Bytes CTerminalLogic::DownloadInit(ConnectionState& conn)
{
    ++m_rec.stats.nDownloadInits;
    if (m_config.bRequireSession && !conn.bSessionOpen)
        return StatusOnly(SW_NOT_ALLOWED);
    if (m_config.nDownloadInitStatus != SW_OK)
        return StatusOnly(m_config.nDownloadInitStatus);
    conn.bDownloadOpen = true;
    m_rec.vecDownloadImage.clear();
    m_rec.vecPacketSizes.clear();
    Bytes v = DownloadInitData();
    AppendStatus(v, SW_OK);
    return v;
}

Bytes CTerminalLogic::DownloadData(const wire::Apdu& a, ConnectionState& conn)
{
    if (!conn.bDownloadOpen)
        return StatusOnly(SW_NOT_ALLOWED);
    uint8_t nTag = 0;
    size_t nPos = 0, nLen = 0;
    if (!wire::ReadTlv(a.vecData, 0, nTag, nPos, nLen) || nTag != 0x73 || nPos + nLen != a.vecData.size() ||
        nLen == 0)
        return StatusOnly(SW_BAD_OBJECT);
    if (m_config.nMaxPacketSize > 0 && nLen > static_cast<size_t>(m_config.nMaxPacketSize))
        return StatusOnly(SW_WRONG_LENGTH);
    m_rec.vecDownloadImage.insert(m_rec.vecDownloadImage.end(),
                                  a.vecData.begin() + static_cast<std::ptrdiff_t>(nPos), a.vecData.end());
    m_rec.vecPacketSizes.push_back(static_cast<int>(nLen));
    ++m_rec.stats.nDownloadPackets;
    if (a.nIns == 0x26)
    {
        // the packet that also ends the download: the signature is checked now
        conn.bDownloadOpen = false;
        ++m_rec.stats.nDownloadFinishes;
        if (m_config.nDownloadDataStatus == SW_OK && !m_config.bSignatureOk)
            return StatusOnly(m_config.nSignatureFailStatus);
    }
    return StatusOnly(m_config.nDownloadDataStatus);
}

Bytes CTerminalLogic::DownloadFinish(ConnectionState& conn)
{
    if (!conn.bDownloadOpen)
        return StatusOnly(SW_NOT_ALLOWED);
    conn.bDownloadOpen = false;
    ++m_rec.stats.nDownloadFinishes;
    if (!m_config.bSignatureOk)
        return StatusOnly(m_config.nSignatureFailStatus);
    Bytes v = m_config.vecFinishData;
    AppendStatus(v, SW_OK);
    return v;
}

Bytes CTerminalLogic::WriteCertificates(const wire::Apdu& a, ConnectionState& conn)
{
    if (a.nP1 != 0xC0 || a.nP2 != 0x05)
        return StatusOnly(SW_BAD_P1P2);
    if (m_config.bRequireSession && !conn.bSessionOpen)
        return StatusOnly(SW_NOT_ALLOWED);
    if (a.vecData.empty())
        return StatusOnly(SW_WRONG_LENGTH);
    ++m_rec.stats.nCertWrites;
    if (m_config.nCertWriteStatus == SW_OK)
        m_rec.vecCertificateList = a.vecData;
    return StatusOnly(m_config.nCertWriteStatus);
}

} // namespace sim
