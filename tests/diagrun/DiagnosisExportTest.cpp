// The diagnosis export file: exact bytes for hand-made results (templates, CR LF, tabs,
// element orders, the settings block), escaping, the declared encoding, file errors.
#include <gtest/gtest.h>

#include <tinyxml2.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <unistd.h>

#include "DiagnosisExport.h"

namespace
{
SExportInput BaseInput(const std::string& strName = "KT-1")
{
    SExportInput in;
    in.record = TerminalIdRecord::Build(0x0114, strName, "192.168.1.20", "02:4e:7a:00:0a:ff", 4742, 0x30);
    in.nSicctVersion = 0x0114;
    return in;
}

/// Joins lines with CR LF (each line gets its own).
std::string Lines(std::initializer_list<const char*> lines)
{
    std::string str;
    for (const char* psz : lines)
        str += std::string(psz) + "\r\n";
    return str;
}

const std::string kHead = Lines({"<?xml version=\"1.0\" encoding=\"ISO-8859-1\" standalone=\"yes\"?>",
                                 "<root>",
                                 "<Terminal>",
                                 "\t<Name>KT-1</Name>",
                                 "\t<IP>192.168.1.20</IP>",
                                 "\t<MAC>02-4E-7A-00-0A-FF</MAC>",
                                 "\t<SecurityProtocol ID=\"0x30\">TLS 1.2</SecurityProtocol>",
                                 "\t<SICCT>",
                                 "\t\t<Version>1.20</Version>",
                                 "\t\t<Port>4742</Port>",
                                 "\t</SICCT>",
                                 "\t<FunctionUnitList>"});
} // namespace

TEST(DiagnosisExport, EmptyUnitListWithoutSettings)
{
    const std::string strExpected = kHead + Lines({"\t</FunctionUnitList>", "</Terminal>", "</root>"});
    EXPECT_EQ(CDiagnosisExport::ToString(BaseInput()), strExpected);
}

TEST(DiagnosisExport, DisplayAndKeypadBlocksAndTheNonZeroSettings)
{
    auto in = BaseInput();
    SDiagUnit display;
    display.nTypeByte = 0x40;
    display.nNumberByte = 0x01;
    display.strName = "Display";
    display.bNameQueried = true;
    DisplayInfo info;
    info.nVisibleChars = 16;
    info.nVisibleLines = 2;
    info.nVirtualChars = 20;
    info.nVirtualLines = 4;
    info.nAttributes = 0xB5;
    info.anCharSets[0] = 0;
    info.anCharSets[1] = 12;
    info.anCharSets[2] = 32;
    info.anCharSets[3] = 15;
    display.display = info;
    SDiagUnit keypad;
    keypad.nTypeByte = 0x50;
    keypad.nNumberByte = 0x01;
    keypad.strName = "PIN-Pad";
    keypad.bNameQueried = true;
    keypad.keypad = KeypadInfo{10, 26, 1, 1, 0, 1, 200};
    SDiagUnit emptyKeypad = keypad;
    emptyKeypad.keypad.reset();
    SDiagUnit other;  // a type without a block
    other.nTypeByte = 0x70;
    other.strName = "Other";
    other.bNameQueried = true;
    in.result.vecUnits = {display, keypad, emptyKeypad, other};
    in.settings.nProtocolId = 48;
    in.settings.nAllManufacturer = 1;

    const std::string strExpected =
        kHead + Lines({"\t\t<FunctionUnit name=\"Display\">",
                       "\t\t\t<VisibleCharsPerLine>16</VisibleCharsPerLine>",
                       "\t\t\t<VisibleLines>2</VisibleLines>",
                       "\t\t\t<VirtualCharsPerLine>20</VirtualCharsPerLine>",
                       "\t\t\t<VirtualLines>4</VirtualLines>",
                       "\t\t\t<Beeper>",
                       "\t\t\t\t<BeeperPresent>True</BeeperPresent>",
                       "\t\t\t\t<BeeperRFU>2</BeeperRFU>",
                       "\t\t\t</Beeper>",
                       "\t\t\t<LED>",
                       "\t\t\t\t<LEDPresent>True</LEDPresent>",
                       "\t\t\t\t<LEDCount>5</LEDCount>",
                       "\t\t\t</LED>",
                       "\t\t\t<SupportedCharacterSets>",
                       "\t\t\t\t<SupportedCharacterSet index=\"0\">ISO 646</SupportedCharacterSet>",
                       "\t\t\t\t<SupportedCharacterSet index=\"12\">not supported</SupportedCharacterSet>",
                       "\t\t\t\t<SupportedCharacterSet index=\"32\">UTF-8</SupportedCharacterSet>",
                       "\t\t\t\t<SupportedCharacterSet index=\"15\">ISO / IEC 8859-15</SupportedCharacterSet>",
                       "\t\t\t</SupportedCharacterSets>",
                       "\t\t</FunctionUnit>",
                       "\t\t<FunctionUnit name=\"PIN-Pad\">",
                       "\t\t\t<NumericKeyCount>10</NumericKeyCount>",
                       "\t\t\t<AlphaNumericKeyCount>26</AlphaNumericKeyCount>",
                       "\t\t\t<EntryKeyCount>1</EntryKeyCount>",
                       "\t\t\t<CancelKeyCount>1</CancelKeyCount>",
                       "\t\t\t<MenuKeyCount>0</MenuKeyCount>",
                       "\t\t\t<CorrectionKeyCount>1</CorrectionKeyCount>",
                       "\t\t\t<FunctionKeyCount>200</FunctionKeyCount>",
                       "\t\t</FunctionUnit>",
                       "\t\t<FunctionUnit name=\"PIN-Pad\">",
                       "\t\t\t<KeypadInfoArrayEmpty />",
                       "\t\t</FunctionUnit>",
                       "\t\t<FunctionUnit name=\"Other\">",
                       "\t\t</FunctionUnit>",
                       "\t</FunctionUnitList>",
                       "</Terminal>",
                       "<Registry>",
                       "<SICCTConfig_ProtocolID>48</SICCTConfig_ProtocolID>",
                       "<AllManufacturer>1</AllManufacturer>",
                       "</Registry>",
                       "</root>"});
    EXPECT_EQ(CDiagnosisExport::ToString(in), strExpected);
}

TEST(DiagnosisExport, UnitWithoutNameQueryIsWrittenAsCardSlot)
{
    // Below SICCT 1.10 no name query is made: the block is chosen by type byte 0.
    auto in = BaseInput();
    SDiagUnit display;
    display.nTypeByte = 0x40;
    display.nNumberByte = 0x01;
    display.strName = "FU #41";
    display.display = DisplayInfo{};
    in.result.vecUnits = {display};
    in.settings = SExportSettings{8443, 48, 512, 1, 1};
    const std::string str = CDiagnosisExport::ToString(in);
    EXPECT_NE(str.find(Lines({"\t\t<FunctionUnit name=\"FU #41\">", "\t\t\t<StatusDataObjectEmpty />",
                              "\t\t\t<ATRArrayEmpty />", "\t\t\t<InterfaceDataObjectEmpty />",
                              "\t\t</FunctionUnit>"})),
              std::string::npos)
        << str;
    EXPECT_NE(str.find(Lines({"<Registry>", "<SICCTConfig_Port>8443</SICCTConfig_Port>",
                              "<SICCTConfig_ProtocolID>48</SICCTConfig_ProtocolID>",
                              "<SICCTMaxDataPacketSize>512</SICCTMaxDataPacketSize>",
                              "<ShowBroadcastAdressField>1</ShowBroadcastAdressField>",
                              "<AllManufacturer>1</AllManufacturer>", "</Registry>", "</root>"})),
              std::string::npos);
}

TEST(DiagnosisExport, ProtocolTexts)
{
    EXPECT_STREQ(CDiagnosisExport::ProtocolText(0x00), "Unverschluesselt");
    EXPECT_STREQ(CDiagnosisExport::ProtocolText(0x10), "TLS 1.0");
    EXPECT_STREQ(CDiagnosisExport::ProtocolText(0x11), "AES TLS 1.0");
    EXPECT_STREQ(CDiagnosisExport::ProtocolText(0x20), "TLS 1.1");
    EXPECT_STREQ(CDiagnosisExport::ProtocolText(0x30), "TLS 1.2");
    EXPECT_STREQ(CDiagnosisExport::ProtocolText(0x40), "Unbekannt");
    auto in = BaseInput();
    in.record.abData[TerminalIdRecord::kOffProtocol] = 0x11;
    EXPECT_NE(CDiagnosisExport::ToString(in).find("\t<SecurityProtocol ID=\"0x11\">AES TLS 1.0</SecurityProtocol>\r\n"),
              std::string::npos);
}

TEST(DiagnosisExport, TextsAreEscapedAndTerminalBytesKeptSoTheFileStaysWellFormed)
{
    // A name with markup characters and a Latin-1 byte, a unit name with quotes.
    auto in = BaseInput("A&B <K\xF6ln> \"1\"");
    SDiagUnit slot;
    slot.nTypeByte = 0x01;
    slot.nNumberByte = 0x01;
    slot.strName = "Slot \"1\" & <2>";
    slot.bNameQueried = true;
    slot.atr = "3B 8F";
    in.result.vecUnits = {slot};
    const std::string str = CDiagnosisExport::ToString(in);
    EXPECT_NE(str.find("\t<Name>A&amp;B &lt;K\xF6ln&gt; &quot;1&quot;</Name>\r\n"), std::string::npos);
    EXPECT_NE(str.find("\t\t<FunctionUnit name=\"Slot &quot;1&quot; &amp; &lt;2&gt;\">\r\n"), std::string::npos);
    EXPECT_EQ(str.find('\n'), str.find("\r\n") + 1);
    // Every line ends in CR LF; no bare LF anywhere.
    for (size_t i = 0; i < str.size(); ++i)
    {
        if (str[i] == '\n')
        {
            ASSERT_TRUE(i > 0 && str[i - 1] == '\r') << i;
        }
    }

    tinyxml2::XMLDocument doc;
    ASSERT_EQ(doc.Parse(str.c_str(), str.size()), tinyxml2::XML_SUCCESS) << doc.ErrorStr();
    const auto* pName = doc.FirstChildElement("root")->FirstChildElement("Terminal")->FirstChildElement("Name");
    ASSERT_NE(pName, nullptr);
    EXPECT_STREQ(pName->GetText(), "A&B <K\xF6ln> \"1\"");
    const auto* pUnit = doc.FirstChildElement("root")
                            ->FirstChildElement("Terminal")
                            ->FirstChildElement("FunctionUnitList")
                            ->FirstChildElement("FunctionUnit");
    ASSERT_NE(pUnit, nullptr);
    EXPECT_STREQ(pUnit->Attribute("name"), "Slot \"1\" & <2>");
}

TEST(DiagnosisExport, WriteFileReplacesTheFileAndReportsOpenFailures)
{
    const std::string strPath = testing::TempDir() + "diag_export_" + std::to_string(::getpid()) + ".xml";
    {
        std::ofstream old(strPath);
        old << "an older, longer file that must be replaced completely ...................";
    }
    const auto in = BaseInput();
    EXPECT_EQ(CDiagnosisExport::WriteFile(strPath, in), 0);
    std::ifstream file(strPath, std::ios::binary);
    const std::string strRead((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    EXPECT_EQ(strRead, CDiagnosisExport::ToString(in));
    std::remove(strPath.c_str());

    EXPECT_EQ(CDiagnosisExport::WriteFile(testing::TempDir() + "no_such_dir/x/diag.xml", in), -1);
}
