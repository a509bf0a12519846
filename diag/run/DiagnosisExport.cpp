#include "DiagnosisExport.h"

#include <sys/stat.h>

#include <cstdio>
#include <memory>

#include "DiagnosisRules.h"

namespace
{
/// Builds the file text; every line of the templates ends in CR LF (the file is a text file
/// of the platform the tool came from, and readers of these files expect that).
class CLines
{
public:
    /// Appends one line: nIndent tabs, the text, CR LF.
    void Line(int nIndent, const std::string& strText)
    {
        m_str.append(static_cast<size_t>(nIndent), '\t');
        m_str += strText;
        m_str += "\r\n";
    }
    /// <name>value</name> on one line; the value is escaped.
    void Value(int nIndent, const char* pszName, const std::string& strValue)
    {
        Line(nIndent, std::string("<") + pszName + ">" + CDiagnosisExport::Escape(strValue) + "</" + pszName + ">");
    }
    void Bool(int nIndent, const char* pszName, bool bValue) { Value(nIndent, pszName, bValue ? "True" : "False"); }
    void Int(int nIndent, const char* pszName, long long nValue) { Value(nIndent, pszName, std::to_string(nValue)); }
    void Open(int nIndent, const std::string& strName) { Line(nIndent, "<" + strName + ">"); }
    void Close(int nIndent, const std::string& strName) { Line(nIndent, "</" + strName + ">"); }
    std::string Take() { return std::move(m_str); }

private:
    std::string m_str;
};

bool Bit(uint8_t n, int nBit)
{
    return ((n >> nBit) & 1u) != 0;
}

struct SBitElement
{
    int nBit;
    const char* pszName;
};

template <size_t N>
void BitGroup(CLines& out, const char* pszContainer, uint8_t nValue, const SBitElement (&aBits)[N])
{
    out.Open(4, pszContainer);
    for (const auto& bit : aBits)
        out.Bool(5, bit.pszName, Bit(nValue, bit.nBit));
    out.Close(4, pszContainer);
}

void DisplayBlock(CLines& out, const SDiagUnit& unit)
{
    if (!unit.display)
    {
        out.Line(3, "<DisplayInfoArrayEmpty />");
        return;
    }
    const auto& d = *unit.display;
    out.Int(3, "VisibleCharsPerLine", d.nVisibleChars);
    out.Int(3, "VisibleLines", d.nVisibleLines);
    out.Int(3, "VirtualCharsPerLine", d.nVirtualChars);
    out.Int(3, "VirtualLines", d.nVirtualLines);
    out.Open(3, "Beeper");
    out.Bool(4, "BeeperPresent", Bit(d.nAttributes, 0));
    out.Int(4, "BeeperRFU", (d.nAttributes >> 1) & 0x07);
    out.Close(3, "Beeper");
    out.Open(3, "LED");
    out.Bool(4, "LEDPresent", Bit(d.nAttributes, 4));
    out.Int(4, "LEDCount", (d.nAttributes >> 5) & 0x07);
    out.Close(3, "LED");
    out.Open(3, "SupportedCharacterSets");
    for (size_t i = 0; i < DisplayInfo::MAX_CHARSETS && d.anCharSets[i] != -1; ++i)
    {
        const int nSet = d.anCharSets[i];
        // The set names are our own ASCII texts; converted all the same so that the file
        // keeps its declared encoding whatever the table holds.
        out.Line(4, "<SupportedCharacterSet index=\"" + std::to_string(nSet) + "\">" +
                        CDiagnosisExport::Escape(diagrun::Utf8ToLatin1(diagrun::CharacterSetName(nSet))) +
                        "</SupportedCharacterSet>");
    }
    out.Close(3, "SupportedCharacterSets");
}

void KeypadBlock(CLines& out, const SDiagUnit& unit)
{
    if (!unit.keypad)
    {
        out.Line(3, "<KeypadInfoArrayEmpty />");
        return;
    }
    const auto& k = *unit.keypad;
    out.Int(3, "NumericKeyCount", k.nNumeric);
    out.Int(3, "AlphaNumericKeyCount", k.nAlphaNumeric);
    out.Int(3, "EntryKeyCount", k.nEntry);
    out.Int(3, "CancelKeyCount", k.nAbort);
    out.Int(3, "MenuKeyCount", k.nMenu);
    out.Int(3, "CorrectionKeyCount", k.nCorrection);
    out.Int(3, "FunctionKeyCount", k.nFunction);
}

void CardSlotBlock(CLines& out, const SDiagUnit& unit)
{
    if (!unit.iccStatus)
    {
        out.Line(3, "<StatusDataObjectEmpty />");
    }
    else
    {
        int k = 0;
        for (const auto& entry : unit.iccStatus->vecEntries)
        {
            const std::string strName = "StatusDataObject_" + std::to_string(k++);
            const uint8_t n = entry.nRaw;
            out.Open(3, strName);
            out.Bool(4, "InformationForElectrInterfaceGiven", Bit(n, 1) || Bit(n, 2));
            out.Bool(4, "InformationForOperationModeGiven", Bit(n, 3) || Bit(n, 4));
            out.Bool(4, "UnknownCCStateOrContactUnitError", Bit(n, 7));
            out.Int(4, "OtherValuesRFU1", Bit(n, 5) ? 1 : 0);
            out.Int(4, "OtherValuesRFU2", Bit(n, 6) ? 1 : 0);
            out.Bool(4, "CCInSpecificMode", Bit(n, 4));
            out.Bool(4, "CCInNegotiableMode", Bit(n, 3));
            out.Bool(4, "CCElectricallyConnectedOrPowered", Bit(n, 2));
            out.Bool(4, "CCElectricallyNotConnected", Bit(n, 1));
            out.Bool(4, "CCInserted", Bit(n, 0));
            out.Close(3, strName);
        }
    }

    if (unit.atr)
        out.Value(3, "ATR", *unit.atr);
    else
        out.Line(3, "<ATRArrayEmpty />");

    if (!unit.iccInterface)
    {
        out.Line(3, "<InterfaceDataObjectEmpty />");
        return;
    }
    const auto& i = *unit.iccInterface;
    out.Open(3, "InterfaceDataObject");
    out.Open(4, "SupportedCardSize");
    out.Bool(5, "ID_0000", Bit(i.nCardSize, 0));
    out.Bool(5, "ID_1", Bit(i.nCardSize, 1));
    out.Int(5, "RFU", (i.nCardSize >> 2) & 0x3F);
    out.Close(4, "SupportedCardSize");
    static const SBitElement aMechanical[] = {
        {0, "SwallowingMechanism"}, {1, "EjectionMechanism"}, {2, "CaptureMechanism"},
        {3, "InternalSlot"},        {4, "MechanicAutomaticFeature"}};
    static const SBitElement aContacts[] = {
        {0, "Contact_1"}, {1, "Contact_2"}, {2, "Contact_3"}, {3, "Contact_4"},
        {4, "Contact_5"}, {5, "Contact_6"}, {6, "Contact_7"}, {7, "Contact_8"}};
    static const SBitElement aTypes[] = {
        {0, "ISO_7816_Async"}, {1, "ISO_7816_Sync_Type1"}, {2, "ISO_7816_Sync_Type2"}, {3, "ISO14443_A"},
        {4, "ISO14443_B"},     {5, "ISO15693"},            {6, "ISO7816_12"},          {7, "EMV_Level_1"}};
    static const SBitElement aAsync[] = {
        {0, "T0"}, {1, "T1"}, {6, "ISO7861_Compatible"}, {7, "EMV_Level_1_Compatible"}};
    static const SBitElement aSync[] = {
        {0, "SDAP_ICCBUS_OneByteAddress"}, {1, "SDAP_ICCBUS_TwoByteAddress"}, {2, "_3WB_Type1"},
        {3, "_2WB_Type1"},                 {4, "FCB_Type2"},                  {6, "ISO7861_Compatible"},
        {7, "SupportedInEMVLevel1Mode"}};
    static const SBitElement aWireless[] = {
        {0, "Type_A"},
        {1, "Type_B"},
        {2, "SupportedISO_14443_1"},
        {3, "SupportedISO_14443_2"},
        {4, "SupportedISO_14443_3"},
        {5, "SupportedISO_14443_4"},
        {6, "SupportedInISO7816Mode"},
        {7, "SupportedInEMVLevel1Mode"}};
    BitGroup(out, "SupportedOrAvailableMechanicalAttributes", i.nMechanical, aMechanical);
    BitGroup(out, "SupportedOrAvailableCardContacts", i.nContacts, aContacts);
    BitGroup(out, "SupportedCardTypes", i.nCardTypes, aTypes);
    BitGroup(out, "SupportedAsyncProtocols", i.nAsyncProtocols, aAsync);
    BitGroup(out, "SupportedSyncISO7816_10Protocols", i.nSyncProtocols, aSync);
    BitGroup(out, "SupportedWirelessISO14443Protocols", i.nWirelessProtocols, aWireless);
    out.Int(4, "ExtendedLengthIndication", i.nExtendedLength);
    out.Close(3, "InterfaceDataObject");
}

std::string Hex2(unsigned n)
{
    char sz[8];
    std::snprintf(sz, sizeof(sz), "%.2X", n & 0xFFu);
    return sz;
}

struct SFileClose
{
    void operator()(FILE* p) const { std::fclose(p); }
};
} // namespace

const char* CDiagnosisExport::ProtocolText(uint8_t nCode)
{
    switch (nCode)
    {
    case 0x00: return "Unverschluesselt";
    case 0x10: return "TLS 1.0";
    case 0x11: return "AES TLS 1.0";
    case 0x20: return "TLS 1.1";
    case 0x30: return "TLS 1.2";
    default: return "Unbekannt";
    }
}

std::string CDiagnosisExport::Escape(const std::string& strText)
{
    std::string str;
    str.reserve(strText.size());
    for (const char c : strText)
    {
        switch (c)
        {
        case '&': str += "&amp;"; break;
        case '<': str += "&lt;"; break;
        case '>': str += "&gt;"; break;
        case '"': str += "&quot;"; break;
        default: str.push_back(c); break;
        }
    }
    return str;
}

std::string CDiagnosisExport::ToString(const SExportInput& input)
{
    const auto& rec = input.record.abData;
    CLines out;
    out.Line(0, "<?xml version=\"1.0\" encoding=\"ISO-8859-1\" standalone=\"yes\"?>");
    out.Line(0, "<root>");
    out.Line(0, "<Terminal>");
    // The name is the terminal's own bytes (ISO-8859-1), written unchanged apart from escaping.
    out.Value(1, "Name", input.record.Name());
    char sz[64];
    std::snprintf(sz, sizeof(sz), "%i.%i.%i.%i", rec[TerminalIdRecord::kOffIp], rec[TerminalIdRecord::kOffIp + 1],
                  rec[TerminalIdRecord::kOffIp + 2], rec[TerminalIdRecord::kOffIp + 3]);
    out.Value(1, "IP", sz);
    const size_t m = TerminalIdRecord::kOffMac;
    std::snprintf(sz, sizeof(sz), "%.2X-%.2X-%.2X-%.2X-%.2X-%.2X", rec[m], rec[m + 1], rec[m + 2], rec[m + 3],
                  rec[m + 4], rec[m + 5]);
    out.Value(1, "MAC", sz);
    const uint8_t nProtocol = input.record.Protocol();
    out.Line(1, "<SecurityProtocol ID=\"0x" + Hex2(nProtocol) + "\">" + Escape(ProtocolText(nProtocol)) +
                    "</SecurityProtocol>");
    out.Open(1, "SICCT");
    out.Value(2, "Version", diagrun::VersionText(input.nSicctVersion));
    out.Int(2, "Port", input.record.Port());
    out.Close(1, "SICCT");

    out.Open(1, "FunctionUnitList");
    const size_t nUnits = std::min<size_t>(input.result.vecUnits.size(), 255);
    for (size_t i = 0; i < nUnits; ++i)
    {
        const auto& unit = input.result.vecUnits[i];
        out.Line(2, "<FunctionUnit name=\"" + Escape(unit.strName) + "\">");
        const uint8_t nType = unit.ExportTypeByte();
        if (diagrun::IsDisplay(nType))
            DisplayBlock(out, unit);
        else if (diagrun::IsKeypad(nType))
            KeypadBlock(out, unit);
        else if (diagrun::IsCardSlot(nType))
            CardSlotBlock(out, unit);
        out.Close(2, "FunctionUnit");
    }
    out.Close(1, "FunctionUnitList");
    out.Line(0, "</Terminal>");

    const auto& s = input.settings;
    if (s.nPort != 0 || s.nProtocolId != 0 || s.nMaxDataPacketSize != 0 || s.nShowBroadcastAdressField != 0 ||
        s.nAllManufacturer != 0)
    {
        out.Line(0, "<Registry>");
        // The settings are DWORDs written as signed numbers, as they always were.
        const auto fnSetting = [&out](const char* pszName, uint32_t nValue) {
            if (nValue != 0)
                out.Int(0, pszName, static_cast<int32_t>(nValue));
        };
        fnSetting("SICCTConfig_Port", s.nPort);
        fnSetting("SICCTConfig_ProtocolID", s.nProtocolId);
        fnSetting("SICCTMaxDataPacketSize", s.nMaxDataPacketSize);
        fnSetting("ShowBroadcastAdressField", s.nShowBroadcastAdressField);
        fnSetting("AllManufacturer", s.nAllManufacturer);
        out.Line(0, "</Registry>");
    }
    out.Line(0, "</root>");
    return out.Take();
}

int CDiagnosisExport::WriteFile(const std::string& strPath, const SExportInput& input)
{
    const std::string strText = ToString(input);
    std::unique_ptr<FILE, SFileClose> pFile(std::fopen(strPath.c_str(), "wb"));
    if (!pFile)
        return -1;
    const bool bWritten = std::fwrite(strText.data(), 1, strText.size(), pFile.get()) == strText.size();
    const bool bClosed = std::fclose(pFile.release()) == 0;
    if (!bWritten || !bClosed)
    {
        // A cut-off file would look like a complete export to whoever opens it. Only a
        // regular file is removed (never a device or whatever else the path names).
        struct stat st{};
        if (::stat(strPath.c_str(), &st) == 0 && S_ISREG(st.st_mode))
            std::remove(strPath.c_str());
        return -2;
    }
    return 0;
}
