#include "ScenarioFile.h"

#include "SimWire.h"

#include <nlohmann/json.hpp>

#include <fstream>
#include <set>
#include <sstream>

namespace sim
{
namespace
{
using json = nlohmann::json;

/// Reads one object's fields and remembers the first problem with its path.
class CFieldReader
{
public:
    CFieldReader(const json& j, std::string strPath, std::string& strError)
        : m_j(j), m_strPath(std::move(strPath)), m_strError(strError)
    {
        if (!m_j.is_object())
            Fail("", "must be an object");
    }

    bool Ok() const { return m_strError.empty(); }
    const std::string& Path() const { return m_strPath; }

    void Fail(const std::string& strKey, const std::string& strWhy)
    {
        if (m_strError.empty())
            m_strError = m_strPath + (strKey.empty() ? "" : "." + strKey) + ": " + strWhy;
    }

    /// Every key of the object must be one of these (typos are errors, not silently ignored).
    void Allow(const std::set<std::string>& setKeys)
    {
        if (!m_j.is_object())
            return;
        for (const auto& [strKey, value] : m_j.items())
            if (!setKeys.count(strKey))
                Fail(strKey, "unknown field");
    }

    const json* Find(const std::string& strKey) const
    {
        if (!m_j.is_object())
            return nullptr;
        const auto it = m_j.find(strKey);
        return it == m_j.end() ? nullptr : &*it;
    }

    void Text(const std::string& strKey, std::string& strOut, size_t nMax = 256)
    {
        const json* p = Find(strKey);
        if (!p)
            return;
        if (!p->is_string())
            return Fail(strKey, "must be a text");
        const std::string s = p->get<std::string>();
        if (s.size() > nMax)
            return Fail(strKey, "longer than " + std::to_string(nMax) + " characters");
        strOut = s;
    }

    void Bool(const std::string& strKey, bool& bOut)
    {
        const json* p = Find(strKey);
        if (!p)
            return;
        if (!p->is_boolean())
            return Fail(strKey, "must be true or false");
        bOut = p->get<bool>();
    }

    /// A JSON number (decimal) or a text read as hexadecimal ("6400", "0x30").
    template <class T> void Int(const std::string& strKey, T& nOut, long long nMin, long long nMax)
    {
        const json* p = Find(strKey);
        if (!p)
            return;
        long long n = 0;
        if (p->is_number_integer())
            n = p->get<long long>();
        else if (p->is_string())
        {
            std::string s = p->get<std::string>();
            if (s.rfind("0x", 0) == 0 || s.rfind("0X", 0) == 0)
                s = s.substr(2);
            size_t nUsed = 0;
            try
            {
                n = std::stoll(s, &nUsed, 16);
            }
            catch (const std::exception&)
            {
                nUsed = 0;
            }
            if (s.empty() || nUsed != s.size())
                return Fail(strKey, "'" + p->get<std::string>() + "' is not a hexadecimal number");
        }
        else
            return Fail(strKey, "must be a number or a hexadecimal text");
        if (n < nMin || n > nMax)
            return Fail(strKey, std::to_string(n) + " is outside " + std::to_string(nMin) + ".." + std::to_string(nMax));
        nOut = static_cast<T>(n);
    }

    void Hex(const std::string& strKey, Bytes& vecOut)
    {
        const json* p = Find(strKey);
        if (!p)
            return;
        if (!p->is_string())
            return Fail(strKey, "must be hexadecimal text");
        if (!wire::FromHex(p->get<std::string>(), vecOut))
            Fail(strKey, "'" + p->get<std::string>() + "' is not hexadecimal byte text");
    }

    void ByteList(const std::string& strKey, std::vector<uint8_t>& vecOut)
    {
        const json* p = Find(strKey);
        if (!p)
            return;
        if (!p->is_array())
            return Fail(strKey, "must be a list of numbers");
        vecOut.clear();
        for (const auto& v : *p)
        {
            if (!v.is_number_integer() || v.get<long long>() < 0 || v.get<long long>() > 255)
                return Fail(strKey, "every entry must be a number 0..255");
            vecOut.push_back(static_cast<uint8_t>(v.get<int>()));
        }
    }

private:
    const json& m_j;
    std::string m_strPath;
    std::string& m_strError;
};

void ReadVersion(CFieldReader& r, uint16_t& nOut)
{
    const json* p = r.Find("sicctVersion");
    if (!p)
        return;
    if (p->is_string() && p->get<std::string>().find('.') != std::string::npos)
    {
        // "1.20": major, then the minor number in decimal
        const std::string s = p->get<std::string>();
        const auto nDot = s.find('.');
        try
        {
            if (nDot != std::string::npos)
            {
                const int nMajor = std::stoi(s.substr(0, nDot));
                const int nMinor = std::stoi(s.substr(nDot + 1));
                if (nMajor >= 0 && nMajor < 256 && nMinor >= 0 && nMinor < 256)
                {
                    nOut = static_cast<uint16_t>((nMajor << 8) | nMinor);
                    return;
                }
            }
        }
        catch (const std::exception&)
        {
        }
        return r.Fail("sicctVersion", "'" + s + "' is not a version like \"1.20\"");
    }
    r.Int("sicctVersion", nOut, 0, 0xFFFF);
}

void ReadFault(const json& j, const std::string& strPath, FaultRule& f, std::string& strError)
{
    CFieldReader r(j, strPath, strError);
    r.Allow({"cla", "ins", "p1", "p2", "commandIndex", "occurrence", "fromOccurrence", "action", "malformed",
             "delayMs", "splitParts", "splitGapMs", "status", "body", "oversize", "sequenceDelta", "eventsBefore"});
    r.Int("cla", f.nCla, -1, 255);
    r.Int("ins", f.nIns, -1, 255);
    r.Int("p1", f.nP1, -1, 255);
    r.Int("p2", f.nP2, -1, 255);
    r.Int("commandIndex", f.nCommandIndex, -1, 1000000);
    r.Int("occurrence", f.nOccurrence, 0, 1000000);
    r.Int("fromOccurrence", f.nFromOccurrence, 0, 1000000);
    std::string strAction = "answer";
    r.Text("action", strAction);
    static const std::pair<const char*, EFaultKind> kActions[] = {
        {"answer", EFaultKind::Answer}, {"signoff", EFaultKind::SignOff},     {"silence", EFaultKind::Silence},
        {"drop", EFaultKind::Drop},     {"dropAfter", EFaultKind::DropAfter}, {"malformed", EFaultKind::Malformed}};
    bool bFound = false;
    for (const auto& [psz, e] : kActions)
        if (strAction == psz)
        {
            f.eKind = e;
            bFound = true;
        }
    if (!bFound)
        r.Fail("action", "'" + strAction + "' is none of answer, signoff, silence, drop, dropAfter, malformed");
    std::string strMalformed = "badType";
    r.Text("malformed", strMalformed);
    static const std::pair<const char*, EMalformed> kMalformed[] = {{"badType", EMalformed::BadType},
                                                                    {"shortHeader", EMalformed::ShortHeader},
                                                                    {"lengthTooBig", EMalformed::LengthTooBig},
                                                                    {"zeroLength", EMalformed::ZeroLength},
                                                                    {"hugeLength", EMalformed::HugeLength}};
    bFound = false;
    for (const auto& [psz, e] : kMalformed)
        if (strMalformed == psz)
        {
            f.eMalformed = e;
            bFound = true;
        }
    if (!bFound)
        r.Fail("malformed", "'" + strMalformed + "' is not a known malformed envelope");
    r.Int("delayMs", f.nDelayMs, 0, 3600000);
    r.Int("splitParts", f.nSplitParts, 0, 1000);
    r.Int("splitGapMs", f.nSplitGapMs, 0, 60000);
    r.Int("status", f.nStatusWord, -1, 0xFFFF);
    if (r.Find("body"))
    {
        Bytes v;
        r.Hex("body", v);
        f.optBody = v;
    }
    r.Int("oversize", f.nOversizeBytes, 0, 1 << 20);
    r.Int("sequenceDelta", f.nSequenceDelta, -65535, 65535);
    if (const json* p = r.Find("eventsBefore"))
    {
        if (!p->is_array())
            return r.Fail("eventsBefore", "must be a list of hexadecimal texts");
        for (const auto& e : *p)
        {
            Bytes v;
            if (!e.is_string() || !wire::FromHex(e.get<std::string>(), v) || v.empty())
                return r.Fail("eventsBefore", "every entry must be hexadecimal byte text");
            f.vecEventsBefore.push_back(v);
        }
    }
}

void ReadUnit(const json& j, const std::string& strPath, UnitConfig& u, std::string& strError)
{
    CFieldReader r(j, strPath, strError);
    r.Allow({"type", "number", "name", "card", "atr", "iccStatus", "iccInterface", "extendedLength", "visibleChars",
             "visibleLines", "virtualChars", "virtualLines", "displayAttributes", "charsets", "keys", "answers"});
    r.Int("type", u.nType, 0, 255);
    r.Int("number", u.nNumber, 0, 255);
    r.Text("name", u.strName, 33);
    r.Bool("card", u.bCardPresent);
    r.Hex("atr", u.vecAtr);
    if (u.vecAtr.size() > 127)
        r.Fail("atr", "longer than 127 bytes");
    r.Int("iccStatus", u.nIccStatus, -1, 255);
    r.Hex("iccInterface", u.vecIccInterface);
    r.Int("extendedLength", u.nExtendedLength, 0, 0xFFFF);
    r.Int("visibleChars", u.nVisibleChars, 0, 255);
    r.Int("visibleLines", u.nVisibleLines, 0, 255);
    r.Int("virtualChars", u.nVirtualChars, 0, 255);
    r.Int("virtualLines", u.nVirtualLines, 0, 255);
    r.Int("displayAttributes", u.nDisplayAttributes, 0, 255);
    r.ByteList("charsets", u.vecCharsets);
    r.ByteList("keys", u.vecKeys);
    if (const json* p = r.Find("answers"))
    {
        if (!p->is_object())
            return r.Fail("answers", "must map P2 (hex text) to answer bytes (hex text)");
        for (const auto& [strP2, value] : p->items())
        {
            Bytes vecP2, vecAnswer;
            if (!wire::FromHex(strP2, vecP2) || vecP2.size() != 1 || !value.is_string() ||
                !wire::FromHex(value.get<std::string>(), vecAnswer))
                return r.Fail("answers." + strP2, "must be one P2 byte mapped to hexadecimal answer bytes");
            u.vecRawAnswers.emplace_back(vecP2[0], vecAnswer);
        }
    }
}

void ReadTerminal(const json& j, const std::string& strPath, TerminalConfig& t, std::string& strError)
{
    CFieldReader r(j, strPath, strError);
    r.Allow({"name", "mac", "address", "port", "protocol", "sicctVersion", "user", "password", "allowAnonymous",
             "sessionId", "requireSession", "closeWithoutSessionStatus", "manufacturer", "units", "unitListRaw",
             "download", "certWriteStatus", "selectModeStatus", "keepaliveMs", "certificate", "discoveryForm",
             "announcedPort", "faults"});
    r.Text("name", t.strName, 32);
    r.Text("mac", t.strMac, 17);
    Bytes vecMac;
    if (!wire::FromHex(t.strMac, vecMac) || vecMac.size() != 6)
        r.Fail("mac", "'" + t.strMac + "' is not a MAC address like 02:00:5E:10:00:01");
    r.Text("address", t.strAddress, 64);
    r.Int("port", t.nPort, 0, 65535);
    r.Int("protocol", t.nProtocolCode, 0, 255);
    ETransport eDummy;
    if (!TransportFromProtocolCode(t.nProtocolCode, eDummy))
        r.Fail("protocol", "must be 0 (plain), 0x10 or 0x11 (TLS 1.0), 0x20 (TLS 1.1) or 0x30 (TLS 1.2)");
    ReadVersion(r, t.nSicctVersion);
    r.Text("user", t.strUser, 120);
    r.Text("password", t.strPassword, 120);
    r.Bool("allowAnonymous", t.bAllowAnonymous);
    r.Hex("sessionId", t.vecSessionId);
    if (t.vecSessionId.size() > 127)
        r.Fail("sessionId", "longer than 127 bytes");
    r.Bool("requireSession", t.bRequireSession);
    r.Int("closeWithoutSessionStatus", t.nCloseWithoutSessionStatus, 0, 0xFFFF);
    r.Int("certWriteStatus", t.nCertWriteStatus, 0, 0xFFFF);
    r.Int("selectModeStatus", t.nSelectModeStatus, 0, 0xFFFF);
    r.Int("keepaliveMs", t.nKeepaliveIntervalMs, 0, 3600000);
    r.Int("announcedPort", t.nAnnouncedPort, 0, 65535);
    std::string strForm = "plain";
    r.Text("discoveryForm", strForm);
    if (strForm != "plain" && strForm != "A1")
        r.Fail("discoveryForm", "must be \"plain\" or \"A1\"");
    t.bDiscoveryA1Form = strForm == "A1";
    if (r.Find("unitListRaw"))
        r.Hex("unitListRaw", t.optRawUnitList.emplace());

    if (const json* p = r.Find("manufacturer"); p && r.Ok())
    {
        CFieldReader m(*p, strPath + ".manufacturer", strError);
        m.Allow({"id", "type", "version", "discretionary", "shortForm", "raw"});
        m.Text("id", t.manufacturer.strId, 5);
        m.Text("type", t.manufacturer.strType, 5);
        m.Text("version", t.manufacturer.strVersion, 5);
        m.Hex("discretionary", t.manufacturer.vecDiscretionary);
        m.Bool("shortForm", t.manufacturer.bShortForm);
        if (m.Find("raw"))
            m.Hex("raw", t.manufacturer.optRaw.emplace());
    }
    if (const json* p = r.Find("download"); p && r.Ok())
    {
        CFieldReader d(*p, strPath + ".download", strError);
        d.Allow({"maxPacketSize", "layout", "initStatus", "dataStatus", "signatureOk", "signatureFailStatus",
                 "finishData"});
        d.Int("maxPacketSize", t.nMaxPacketSize, 0, 65531);
        std::string strLayout = "B";
        d.Text("layout", strLayout);
        if (strLayout == "A")
            t.ePacketSizeLayout = EPacketSizeLayout::A;
        else if (strLayout == "B")
            t.ePacketSizeLayout = EPacketSizeLayout::B;
        else if (strLayout == "none")
            t.ePacketSizeLayout = EPacketSizeLayout::None;
        else
            d.Fail("layout", "must be \"A\", \"B\" or \"none\"");
        d.Int("initStatus", t.nDownloadInitStatus, 0, 0xFFFF);
        d.Int("dataStatus", t.nDownloadDataStatus, 0, 0xFFFF);
        d.Bool("signatureOk", t.bSignatureOk);
        d.Int("signatureFailStatus", t.nSignatureFailStatus, 0, 0xFFFF);
        d.Hex("finishData", t.vecFinishData);
    }
    if (const json* p = r.Find("certificate"); p && r.Ok())
    {
        CFieldReader c(*p, strPath + ".certificate", strError);
        c.Allow({"key", "notBefore", "notAfter"});
        std::string strKey = "rsa";
        c.Text("key", strKey);
        if (strKey == "rsa")
            t.eKeyType = EKeyType::Rsa2048;
        else if (strKey == "brainpoolP256r1")
            t.eKeyType = EKeyType::EcBrainpoolP256r1;
        else
            c.Fail("key", "must be \"rsa\" or \"brainpoolP256r1\"");
        c.Text("notBefore", t.strNotBefore, 15);
        c.Text("notAfter", t.strNotAfter, 15);
    }
    if (const json* p = r.Find("units"); p && r.Ok())
    {
        if (!p->is_array())
            return r.Fail("units", "must be a list");
        if (p->size() > 127)
            return r.Fail("units", "more than 127 function units");
        for (size_t i = 0; i < p->size() && r.Ok(); ++i)
        {
            UnitConfig u;
            ReadUnit((*p)[i], strPath + ".units[" + std::to_string(i) + "]", u, strError);
            t.vecUnits.push_back(u);
        }
    }
    if (const json* p = r.Find("faults"); p && r.Ok())
    {
        if (!p->is_array())
            return r.Fail("faults", "must be a list");
        for (size_t i = 0; i < p->size() && r.Ok(); ++i)
        {
            FaultRule f;
            ReadFault((*p)[i], strPath + ".faults[" + std::to_string(i) + "]", f, strError);
            t.vecFaults.push_back(f);
        }
    }
}
} // namespace

int ParseScenario(const std::string& strJson, const std::string& strName, Scenario& scenario, std::string& strError)
{
    scenario = Scenario{};
    strError.clear();
    try
    {
        json j;
        try
        {
            j = json::parse(strJson);
        }
        catch (const json::parse_error& e)
        {
            strError = strName + ": not valid JSON: " + e.what();
            return SIM_ERR_CONFIG;
        }
        std::string strFieldError;
        CFieldReader top(j, strName, strFieldError);
        top.Allow({"terminals", "discovery", "comment"});
        if (const json* p = top.Find("discovery"); p && top.Ok())
        {
            CFieldReader d(*p, strName + ".discovery", strFieldError);
            d.Allow({"port", "synthetic"});
            d.Int("port", scenario.nDiscoveryPort, -1, 65535);
            d.Int("synthetic", scenario.nSyntheticTerminals, 0, 100000);
        }
        const json* pTerminals = top.Find("terminals");
        if (top.Ok() && (!pTerminals || !pTerminals->is_array() || pTerminals->empty()))
            top.Fail("terminals", "a non-empty list of terminals is required");
        for (size_t i = 0; top.Ok() && i < pTerminals->size(); ++i)
        {
            TerminalConfig t;
            ReadTerminal((*pTerminals)[i], strName + ".terminals[" + std::to_string(i) + "]", t, strFieldError);
            scenario.vecTerminals.push_back(std::move(t));
        }
        if (!strFieldError.empty())
        {
            strError = strFieldError;
            scenario = Scenario{};
            return SIM_ERR_CONFIG;
        }
        return SIM_OK;
    }
    catch (const std::exception& e)
    {
        strError = strName + ": " + e.what();
        scenario = Scenario{};
        return SIM_ERR_CONFIG;
    }
}

int LoadScenarioFile(const std::string& strPath, Scenario& scenario, std::string& strError)
{
    std::ifstream in(strPath, std::ios::binary);
    if (!in)
    {
        strError = strPath + ": cannot be read";
        return SIM_ERR_CONFIG;
    }
    std::ostringstream ss;
    ss << in.rdbuf();
    if (ss.str().size() > (16u << 20))
    {
        strError = strPath + ": larger than 16 MiB";
        return SIM_ERR_CONFIG;
    }
    return ParseScenario(ss.str(), strPath, scenario, strError);
}

} // namespace sim
