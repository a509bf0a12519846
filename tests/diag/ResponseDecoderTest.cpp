// The status-answer decoder: every selector, the manufacturer object forms, and answers
// cut short anywhere (read through a guard page, so any read past the end crashes).
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "GuardedBuffer.h"
#include "ResponseDecoder.h"

using Bytes = std::vector<uint8_t>;

namespace
{
Bytes Concat(std::initializer_list<Bytes> parts)
{
    Bytes vec;
    for (const auto& p : parts)
        vec.insert(vec.end(), p.begin(), p.end());
    return vec;
}
Bytes Ascii(const std::string& str)
{
    return Bytes(str.begin(), str.end());
}

// Long manufacturer object: 46 L id(5) type(5) version(5) discretionary, then 90 00.
Bytes Manufacturer(const std::string& strId, const std::string& strVersion5, const Bytes& vecDisc = {})
{
    return Concat({{0x46, static_cast<uint8_t>(15 + vecDisc.size())}, Ascii(strId), Ascii("ST150"),
                   Ascii(strVersion5), vecDisc, {0x90, 0x00}});
}

// A 0xD7 object whose text starts with strText and whose bytes 30-38 (from the tag) hold
// the three numbers.
Bytes D7(const std::string& strText, const std::string& strNine)
{
    Bytes vec = {0xD7, 40};
    Bytes vecText = Ascii(strText);
    vecText.resize(28, ' ');
    vec.insert(vec.end(), vecText.begin(), vecText.end());
    const Bytes vecDigits = Ascii(strNine);
    vec.insert(vec.end(), vecDigits.begin(), vecDigits.end());
    vec.resize(42, ' ');
    return vec;
}

// Every decoder over every prefix of vec, through the guard page.
void DecodeAllPrefixes(const Bytes& vec)
{
    for (size_t n = 0; n <= vec.size(); ++n)
    {
        CGuardedBuffer buf(Bytes(vec.begin(), vec.begin() + static_cast<long>(n)));
        ASSERT_TRUE(buf.Valid());
        ManufacturerInfo info;
        CResponseDecoder::DecodeManufacturer(buf.Data(), buf.Size(), info);
        EXPECT_LE(info.vecDiscretionary.size(), 112u);
        std::vector<uint8_t> vecList;
        CResponseDecoder::DecodeUnitList(buf.Data(), buf.Size(), vecList);
        EXPECT_LE(vecList.size(), n);
        for (int nSel = 0; nSel <= 7; ++nSel)
        {
            SUnitStatus unit;
            CResponseDecoder::DecodeUnit(nSel, buf.Data(), buf.Size(), unit);
        }
    }
}
} // namespace

TEST(ResponseDecoder, ManufacturerShortDevntForm)
{
    // 14 bytes: 46 0A "DEVNT" '1' '0' '5' '3' ' ' and the status word.
    const Bytes vec = Concat({{0x46, 10}, Ascii("DEVNT"), Ascii("1053 "), {0x90, 0x00}});
    ASSERT_EQ(vec.size(), 14u);
    ManufacturerInfo info;
    ASSERT_TRUE(CResponseDecoder::DecodeManufacturer(vec.data(), vec.size(), info));
    EXPECT_EQ(info.strManufacturer, "DEVNT");
    EXPECT_EQ(info.strVersion, "1.5.3");
    EXPECT_EQ(info.nVersion, 10503);

    // Two-digit patch when the fifth character is a digit.
    const Bytes vec2 = Concat({{0x46, 10}, Ascii("DEVNT"), Ascii("20512"), {0x90, 0x00}});
    ASSERT_TRUE(CResponseDecoder::DecodeManufacturer(vec2.data(), vec2.size(), info));
    EXPECT_EQ(info.strVersion, "2.5.12");
    EXPECT_EQ(info.nVersion, 20512);

    // Another maker or another length byte: no version.
    const Bytes vecOther = Concat({{0x46, 10}, Ascii("OTHER"), Ascii("1053 "), {0x90, 0x00}});
    ASSERT_TRUE(CResponseDecoder::DecodeManufacturer(vecOther.data(), vecOther.size(), info));
    EXPECT_EQ(info.strManufacturer, "OTHER");
    EXPECT_EQ(info.nVersion, -1);
    EXPECT_TRUE(info.strVersion.empty());
    const Bytes vecBadLen = Concat({{0x46, 9}, Ascii("DEVNT"), Ascii("1053 "), {0x90, 0x00}});
    EXPECT_FALSE(CResponseDecoder::DecodeManufacturer(vecBadLen.data(), vecBadLen.size(), info));
    EXPECT_EQ(info.nVersion, -1);
}

TEST(ResponseDecoder, ManufacturerFourPartAndD7Forms)
{
    ManufacturerInfo info;
    const Bytes vecDevnt = Manufacturer("DEVNT", "10014");
    ASSERT_TRUE(CResponseDecoder::DecodeManufacturer(vecDevnt.data(), vecDevnt.size(), info));
    EXPECT_EQ(info.strType, "ST150");
    EXPECT_EQ(info.strVersion, "1.0.0.14");
    EXPECT_EQ(info.nVersion, 10014);
    const Bytes vecDevnt13 = Manufacturer("DEVNT", "1003 ");
    ASSERT_TRUE(CResponseDecoder::DecodeManufacturer(vecDevnt13.data(), vecDevnt13.size(), info));
    EXPECT_EQ(info.strVersion, "1.0.0.3");
    EXPECT_EQ(info.nVersion, 10003);

    // Three 3-digit numbers in a 0xD7 object, whoever the maker is.
    const Bytes vecD7 = Manufacturer("OTHER", "xxxxx", D7("ORGA 6141", "003007012"));
    ASSERT_TRUE(CResponseDecoder::DecodeManufacturer(vecD7.data(), vecD7.size(), info));
    EXPECT_EQ(info.strVersion, "3.7.12");
    EXPECT_EQ(info.nVersion, 3007012);
    EXPECT_EQ(info.vecDiscretionary.size(), 42u);
    EXPECT_EQ(info.vecDiscretionary[0], 0xD7);

    // "ZLS_" and "gematik_" objects carry no version: the DEVNT form applies, or none.
    for (const char* pszPrefix : {"ZLS_approval", "gematik_1.2.3"})
    {
        SCOPED_TRACE(pszPrefix);
        const Bytes vecZ = Manufacturer("DEVNT", "20105", D7(pszPrefix, "003007012"));
        ASSERT_TRUE(CResponseDecoder::DecodeManufacturer(vecZ.data(), vecZ.size(), info));
        EXPECT_EQ(info.strVersion, "2.0.1.5");
        EXPECT_EQ(info.nVersion, 20105);
        const Bytes vecO = Manufacturer("OTHER", "20105", D7(pszPrefix, "003007012"));
        ASSERT_TRUE(CResponseDecoder::DecodeManufacturer(vecO.data(), vecO.size(), info));
        EXPECT_EQ(info.nVersion, -1);
        EXPECT_TRUE(info.strVersion.empty());
    }

    // Discretionary data: p[1] - 15 bytes, at most 112.
    Bytes vecBig = Manufacturer("OTHER", "00000", Bytes(150, 0x41));
    vecBig[1] = 0xFF;
    ASSERT_TRUE(CResponseDecoder::DecodeManufacturer(vecBig.data(), vecBig.size(), info));
    EXPECT_EQ(info.vecDiscretionary.size(), 112u);
    Bytes vecSmall = Manufacturer("OTHER", "00000");
    vecSmall[1] = 3;  // less than the fixed part
    ASSERT_TRUE(CResponseDecoder::DecodeManufacturer(vecSmall.data(), vecSmall.size(), info));
    EXPECT_TRUE(info.vecDiscretionary.empty());
}

TEST(ResponseDecoder, UnitQueries)
{
    SUnitStatus unit;
    // Name: walked from offset 2 over the whole answer; 0x84 and unknown tags skipped.
    const Bytes vecName = Concat({{0xA1, 0x0E, 0x84, 0x02, 0x00, 0x01, 0x13, 0x06}, Ascii("Slot 1"), {0x90, 0x00}});
    ASSERT_TRUE(CResponseDecoder::DecodeUnit(CResponseDecoder::SEL_UNIT_NAME, vecName.data(), vecName.size(), unit));
    EXPECT_EQ(unit.strName, "Slot 1");
    const Bytes vecLongName = Concat({{0xA1, 42, 0x13, 40}, Bytes(40, 'N'), {0x90, 0x00}});
    ASSERT_TRUE(CResponseDecoder::DecodeUnitName(vecLongName.data(), vecLongName.size(), unit.strName));
    EXPECT_EQ(unit.strName, std::string(33, 'N'));

    // Display: 1- and 2-byte counts, attributes, repeated character sets.
    const Bytes vecDisplay = {0x67, 0x17, 0x80, 0x01, 16, 0x81, 0x01, 2, 0x82, 0x02, 0x01, 0x00, 0x83, 0x01,
                              4,    0x84, 0x01, 0x31, 0x85, 0x01, 0, 0x85, 0x01, 15, 0x99, 0x00, 0x90, 0x00};
    ASSERT_TRUE(CResponseDecoder::DecodeUnit(CResponseDecoder::SEL_DISPLAY, vecDisplay.data(), vecDisplay.size(), unit));
    ASSERT_TRUE(unit.display.has_value());
    EXPECT_EQ(unit.display->nVisibleChars, 16);
    EXPECT_EQ(unit.display->nVisibleLines, 2);
    EXPECT_EQ(unit.display->nVirtualChars, 256);
    EXPECT_EQ(unit.display->nVirtualLines, 4);
    EXPECT_EQ(unit.display->nAttributes, 0x31);
    EXPECT_EQ(unit.display->anCharSets[0], 0);
    EXPECT_EQ(unit.display->anCharSets[1], 15);
    // Every slot after the reported sets marks the end, not character set 0.
    for (size_t i = 2; i < DisplayInfo::MAX_CHARSETS; ++i)
        EXPECT_EQ(unit.display->anCharSets[i], -1);
    // More than 32 sets: the first 32 are kept.
    Bytes vecMany = {0x67, 0x81, 40 * 3};
    for (uint8_t i = 0; i < 40; ++i)
        vecMany.insert(vecMany.end(), {0x85, 0x01, i});
    vecMany.insert(vecMany.end(), {0x90, 0x00});
    DisplayInfo display;
    ASSERT_TRUE(CResponseDecoder::DecodeDisplay(vecMany.data(), vecMany.size(), display));
    EXPECT_EQ(display.anCharSets[31], 31);

    const Bytes vecKeypad = {0x6A, 0x15, 0x80, 1, 10, 0x81, 1, 26, 0x82, 1, 1, 0x83, 1, 1, 0x84, 1, 2,
                             0x85, 1,    1,    0x86, 1, 4, 0x90, 0x00};
    ASSERT_TRUE(CResponseDecoder::DecodeUnit(CResponseDecoder::SEL_KEYPAD, vecKeypad.data(), vecKeypad.size(), unit));
    ASSERT_TRUE(unit.keypad.has_value());
    EXPECT_EQ(unit.keypad->nNumeric, 10);
    EXPECT_EQ(unit.keypad->nAlphaNumeric, 26);
    EXPECT_EQ(unit.keypad->nMenu, 2);
    EXPECT_EQ(unit.keypad->nFunction, 4);

    // ICC status: one byte per card-contact unit.
    const Bytes vecIcc = {0x80, 0x03, 0x05, 0x00, 0x19, 0x90, 0x00};
    ASSERT_TRUE(CResponseDecoder::DecodeUnit(CResponseDecoder::SEL_ICC_STATUS, vecIcc.data(), vecIcc.size(), unit));
    ASSERT_TRUE(unit.iccStatus.has_value());
    ASSERT_EQ(unit.iccStatus->nCount, 3);
    EXPECT_EQ(unit.iccStatus->vecEntries[0].nRaw, 0x05);
    EXPECT_TRUE(unit.iccStatus->vecEntries[0].bNoModeInfo);
    EXPECT_FALSE(unit.iccStatus->vecEntries[0].bNoElectricalInfo);
    EXPECT_TRUE(unit.iccStatus->vecEntries[1].bNoModeInfo);
    EXPECT_TRUE(unit.iccStatus->vecEntries[1].bNoElectricalInfo);
    EXPECT_FALSE(unit.iccStatus->vecEntries[2].bNoModeInfo);
    EXPECT_TRUE(unit.iccStatus->vecEntries[2].bNoElectricalInfo);

    const Bytes vecIf = {0x66, 0x19, 0x80, 1, 0x02, 0x81, 1, 0x08, 0x82, 1, 0xBE, 0x83, 1, 0x01, 0x84, 1, 0x03,
                         0x85, 1,    0x40, 0x86, 1, 0x81, 0x87, 2, 0x04, 0x00, 0x90, 0x00};
    ASSERT_TRUE(CResponseDecoder::DecodeUnit(CResponseDecoder::SEL_ICC_INTERFACE, vecIf.data(), vecIf.size(), unit));
    ASSERT_TRUE(unit.iccInterface.has_value());
    EXPECT_EQ(unit.iccInterface->nCardSize, 0x02);
    EXPECT_EQ(unit.iccInterface->nContacts, 0xBE);
    EXPECT_EQ(unit.iccInterface->nAsyncProtocols, 0x03);
    EXPECT_EQ(unit.iccInterface->nSyncProtocols, 0x40);
    EXPECT_EQ(unit.iccInterface->nWirelessProtocols, 0x81);
    EXPECT_EQ(unit.iccInterface->nExtendedLength, 0x0400);

    // ATR: short and 0x81 length forms.
    const Bytes vecAtr = {0x5F, 0x51, 0x04, 0x3B, 0xD3, 0x96, 0xFF, 0x90, 0x00};
    ASSERT_TRUE(CResponseDecoder::DecodeUnit(CResponseDecoder::SEL_ATR, vecAtr.data(), vecAtr.size(), unit));
    EXPECT_EQ(unit.strAtr, "3B D3 96 FF");
    const Bytes vecAtr81 = {0x5F, 0x81, 0x02, 0x02, 0x3B, 0x00, 0x90, 0x00};
    ASSERT_TRUE(CResponseDecoder::DecodeAtr(vecAtr81.data(), vecAtr81.size(), unit.strAtr));
    EXPECT_EQ(unit.strAtr, "3B 00");

    EXPECT_FALSE(CResponseDecoder::DecodeUnit(CResponseDecoder::SEL_MANUFACTURER, vecAtr.data(), vecAtr.size(), unit));
}

TEST(ResponseDecoder, FunctionUnitListInBothLengthForms)
{
    std::vector<uint8_t> vecList;
    const Bytes vecShort = {0x81, 0x06, 0x01, 0x01, 0x01, 0x02, 0x40, 0x01, 0x90, 0x00};
    ASSERT_TRUE(CResponseDecoder::DecodeUnitList(vecShort.data(), vecShort.size(), vecList));
    EXPECT_EQ(vecList, (Bytes{0x01, 0x01, 0x01, 0x02, 0x40, 0x01}));

    Bytes vecLong = {0x81, 0x81, 200};
    for (int i = 0; i < 100; ++i)
        vecLong.insert(vecLong.end(), {0x01, static_cast<uint8_t>(i)});
    vecLong.insert(vecLong.end(), {0x90, 0x00});
    ASSERT_TRUE(CResponseDecoder::DecodeUnitList(vecLong.data(), vecLong.size(), vecList));
    EXPECT_EQ(vecList.size(), 200u);
    EXPECT_EQ(vecList[199], 99);

    const Bytes vecEmpty = {0x81, 0x00, 0x90, 0x00};
    ASSERT_TRUE(CResponseDecoder::DecodeUnitList(vecEmpty.data(), vecEmpty.size(), vecList));
    EXPECT_TRUE(vecList.empty());
}

TEST(ResponseDecoder, AnswersCutShortAnywhereAreNeverReadPastTheEnd)
{
    const std::vector<Bytes> vecSamples = {
        Concat({{0x46, 10}, Ascii("DEVNT"), Ascii("1053 "), {0x90, 0x00}}),
        Manufacturer("DEVNT", "10014"),
        Manufacturer("OTHER", "xxxxx", D7("ORGA 6141", "003007012")),
        {0x67, 0x17, 0x80, 0x01, 16, 0x81, 0x01, 2, 0x82, 0x02, 0x01, 0x00, 0x83, 0x01, 4, 0x84, 0x01, 0x31, 0x85,
         0x01, 0, 0x85, 0x02, 0x00, 0x0F, 0x90, 0x00},
        {0x66, 0x81, 0x07, 0x80, 1, 0x02, 0x87, 2, 0x04, 0x00, 0x90, 0x00},
        {0x5F, 0x81, 0x02, 0x04, 0x3B, 0xD3, 0x96, 0xFF, 0x90, 0x00},
        {0x81, 0x81, 0x04, 0x01, 0x01, 0x40, 0x01, 0x90, 0x00},
        // Lengths that promise more than is there.
        {0x67, 0x7F, 0x80, 0x7F, 0x01},
        {0xA1, 0x05, 0x13, 0xFF, 'a'},
        {0x46, 0xFF, 'D', 'E', 'V', 'N', 'T', 'S', 'T', '1', '5', '0', '1', '0', '0', '1', '4', 0xD7, 0xFF},
    };
    for (size_t i = 0; i < vecSamples.size(); ++i)
    {
        SCOPED_TRACE(i);
        DecodeAllPrefixes(vecSamples[i]);
    }

    // A cut display answer keeps what it got and leaves the rest at the defaults.
    const Bytes vecCut = {0x67, 0x17, 0x80, 0x01, 16, 0x81};
    CGuardedBuffer buf(vecCut);
    DisplayInfo display;
    ASSERT_TRUE(CResponseDecoder::DecodeDisplay(buf.Data(), buf.Size(), display));
    EXPECT_EQ(display.nVisibleChars, 16);
    EXPECT_EQ(display.nVisibleLines, 0);
}
