// The diagnosis rules shared by both ways and both front ends: type text, notice, unit
// names, keypad rule, character sets, the value list, the certificate judgement.
#include <gtest/gtest.h>

#include <cstring>

#include "CertValidity.h"
#include "DiagnosisRules.h"

namespace
{
/// Discretionary data: D7, length, then the value with marker texts at offsets 20 and 37.
std::vector<uint8_t> Discretionary(size_t nValueLength)
{
    std::vector<uint8_t> vec = {0xD7, static_cast<uint8_t>(nValueLength)};
    std::string strValue(nValueLength, '.');
    const char* pszShort = "SHORT-TY";                 // 8 characters at offset 20
    const char* pszLong = "LONG-TYPE-NAME!";           // 15 characters at offset 37
    if (nValueLength >= 28)
        std::memcpy(strValue.data() + 20, pszShort, 8);
    if (nValueLength >= 52)
        std::memcpy(strValue.data() + 37, pszLong, 15);
    vec.insert(vec.end(), strValue.begin(), strValue.end());
    return vec;
}

std::tm Tm(int nYear, int nMonth, int nDay, int nHour, int nMin, int nSec)
{
    std::tm tm{};
    tm.tm_year = nYear - 1900;
    tm.tm_mon = nMonth - 1;
    tm.tm_mday = nDay;
    tm.tm_hour = nHour;
    tm.tm_min = nMin;
    tm.tm_sec = nSec;
    return tm;
}
} // namespace

TEST(DiagnosisRules, TypeTextFollowsTheSicctVersionAndTheFirmwareNumber)
{
    ManufacturerInfo info;
    info.strType = "ST150";
    info.vecDiscretionary = Discretionary(60);
    info.nVersion = 12000;

    // Up to 1.19 the five-character type, whatever the discretionary data hold.
    EXPECT_EQ(diagrun::TypeText(info, 0x0113), "ST150");
    EXPECT_EQ(diagrun::TypeText(info, 0x0103), "ST150");
    // From 1.20: 8 characters from offset 20 for firmware 12000 and later, else 15 from 37.
    EXPECT_EQ(diagrun::TypeText(info, 0x0114), "SHORT-TY");
    EXPECT_EQ(diagrun::TypeText(info, 0x0200), "SHORT-TY");
    info.nVersion = 11999;
    EXPECT_EQ(diagrun::TypeText(info, 0x0114), "LONG-TYPE-NAME!");
    info.nVersion = -1;
    EXPECT_EQ(diagrun::TypeText(info, 0x0114), "LONG-TYPE-NAME!");

    // Without tag 0xD7, or with a length above 110: empty.
    info.vecDiscretionary[0] = 0xD8;
    EXPECT_EQ(diagrun::TypeText(info, 0x0114), "");
    info.vecDiscretionary = Discretionary(111);
    EXPECT_EQ(diagrun::TypeText(info, 0x0114), "");
    info.vecDiscretionary = Discretionary(110);
    EXPECT_EQ(diagrun::TypeText(info, 0x0114), "LONG-TYPE-NAME!");
    // Data that end early give what is there, never bytes beyond them.
    info.vecDiscretionary = Discretionary(40);
    EXPECT_EQ(diagrun::TypeText(info, 0x0114), "...");
    info.vecDiscretionary = Discretionary(30);
    EXPECT_EQ(diagrun::TypeText(info, 0x0114), "");
    info.vecDiscretionary.clear();
    EXPECT_EQ(diagrun::TypeText(info, 0x0114), "");
}

TEST(DiagnosisRules, VersionsNamesAndKeypadRule)
{
    EXPECT_EQ(diagrun::EffectiveSicctVersion(0x0100), 0x0103);
    EXPECT_EQ(diagrun::EffectiveSicctVersion(0x0101), 0x0101);
    EXPECT_EQ(diagrun::VersionText(0x0114), "1.20");
    EXPECT_EQ(diagrun::VersionText(0x0109), "1.09");

    EXPECT_FALSE(diagrun::HasNameQuery(0x0109));
    EXPECT_TRUE(diagrun::HasNameQuery(0x010A));
    EXPECT_EQ(diagrun::UnitId(0x41, 0x23), "43");
    EXPECT_EQ(diagrun::UnitId(0x01, 0x02), "02");
    EXPECT_EQ(diagrun::FallbackName(0x40, 0x01), "FU #41");
    EXPECT_EQ(diagrun::FallbackName(0x01, 0x0A), "FU #0a");

    // One rule for both ways: the session client skips the keypad query up to 1.20.
    EXPECT_FALSE(diagrun::QueriesKeypad(0x0113));
    EXPECT_FALSE(diagrun::QueriesKeypad(0x0114));
    EXPECT_TRUE(diagrun::QueriesKeypad(0x0115));
    EXPECT_TRUE(diagrun::QueriesKeypad(0x0200));
    EXPECT_TRUE(diagrun::QueriesKeypad(0x0000 | 0x0014));  // major 0 is "not 1"

    // The notice is left out only for the maker's early firmware.
    const std::array<uint8_t, 6> abMaker = {0x02, 0x4E, 0x7A, 0x01, 0x02, 0x03};
    const std::array<uint8_t, 6> abOther = {0x02, 0x4E, 0x7B, 0x01, 0x02, 0x03};
    EXPECT_FALSE(diagrun::ShowsNotice(abMaker, "1.00.5"));
    EXPECT_FALSE(diagrun::ShowsNotice(abMaker, "1.10.12"));
    EXPECT_TRUE(diagrun::ShowsNotice(abMaker, "1.10.2"));
    EXPECT_TRUE(diagrun::ShowsNotice(abMaker, "1.0.0.14"));
    EXPECT_TRUE(diagrun::ShowsNotice(abOther, "1.00.5"));
}

TEST(DiagnosisRules, CharacterSetNames)
{
    EXPECT_EQ(diagrun::CharacterSetName(0), "ISO 646");
    EXPECT_EQ(diagrun::CharacterSetName(12), "not supported");
    EXPECT_EQ(diagrun::CharacterSetName(32), "UTF-8");
    EXPECT_EQ(diagrun::CharacterSetName(15), "ISO / IEC 8859-15");
    EXPECT_EQ(diagrun::CharacterSetName(1), "ISO / IEC 8859-1");
}

TEST(DiagnosisRules, ValueListSectionsInTheirOrder)
{
    SDiagUnit unit;
    unit.nTypeByte = 0x01;
    IccStatusInfo status;
    status.nCount = 1;
    status.vecEntries.push_back(SIccStatusEntry{0x65, false, false});  // bits 0, 2, 5, 6
    unit.iccStatus = status;
    unit.atr = "3B 00";
    IccInterfaceInfo iface;
    iface.nCardSize = 0x02;
    iface.nAsyncProtocols = 0xC3;
    iface.nExtendedLength = 0x0400;
    unit.iccInterface = iface;

    const auto vec = diagrun::ValueRows(unit);
    // Status entry: 10 rows; ATR: 1; interface: 7 headings + 8+7+4+8+8+5+2 rows + 1.
    ASSERT_EQ(vec.size(), 10u + 1u + 7u + 42u + 1u);
    EXPECT_EQ(vec[0].strName, "CC inserted");
    EXPECT_EQ(vec[0].strValue, "True");
    EXPECT_EQ(vec[1].strValue, "False");                 // bit 1
    EXPECT_EQ(vec[2].strValue, "True");                  // bit 2
    EXPECT_EQ(vec[5].strName, "other values RFU1");
    EXPECT_EQ(vec[5].strValue, "1");
    EXPECT_EQ(vec[6].strValue, "1");
    EXPECT_EQ(vec[8].strName, "No Information for CC Mode Given");
    EXPECT_EQ(vec[10].strName, "ATR");
    EXPECT_EQ(vec[10].strValue, "3B 00");
    EXPECT_TRUE(vec[11].bHeading);
    EXPECT_EQ(vec[11].strName, "Supported Wireless ISO14443-Protocols");
    // The asynchronous group: T=0, T=1, bits 6 and 7.
    auto it = std::find_if(vec.begin(), vec.end(), [](const SValueRow& r) { return r.strName == "Supported Asynchr. Protocols"; });
    ASSERT_NE(it, vec.end());
    EXPECT_EQ(it[1].strName, "T=0");
    EXPECT_EQ(it[1].strValue, "True");
    EXPECT_EQ(it[3].strName, "ISO 7861 Compatible");
    EXPECT_EQ(it[4].strValue, "True");
    EXPECT_EQ(vec[vec.size() - 3].strName, "ID-0000");
    EXPECT_EQ(vec[vec.size() - 2].strValue, "True");     // ID-1
    EXPECT_EQ(vec.back().strName, "Extended Length Indication");
    EXPECT_EQ(vec.back().strValue, "1024");

    // A display: counts, attribute bits, then the sets up to the -1 mark.
    SDiagUnit display;
    DisplayInfo info;
    info.nVisibleChars = 16;
    info.nAttributes = 0xB5;  // beeper, RFU 2, LED present, LED count 5
    info.anCharSets[0] = 0;
    info.anCharSets[1] = 15;
    display.display = info;
    const auto vecD = diagrun::ValueRows(display);
    ASSERT_EQ(vecD.size(), 8u + 4u);
    EXPECT_EQ(vecD[3].strName, "Virtual Lines per Line");
    EXPECT_EQ(vecD[4].strValue, "True");
    EXPECT_EQ(vecD[5].strValue, "2");
    EXPECT_EQ(vecD[6].strValue, "True");
    EXPECT_EQ(vecD[7].strValue, "5");
    EXPECT_EQ(vecD[11].strValue, "ISO / IEC 8859-15");

    EXPECT_TRUE(diagrun::ValueRows(SDiagUnit{}).empty());
}

TEST(DiagnosisRules, TextConversions)
{
    EXPECT_EQ(diagrun::Latin1ToUtf8("Gr\xFC\xDF" "e"), "Grüße");
    EXPECT_EQ(diagrun::Utf8ToLatin1("Grüße"), "Gr\xFC\xDF" "e");
    EXPECT_EQ(diagrun::Utf8ToLatin1("€"), "?");
    EXPECT_EQ(diagrun::Utf8ToLatin1("a\xC3"), "a?");  // broken sequence at the end
}

TEST(CertJudgement, FieldByFieldAgainstNow)
{
    const std::tm tmNow = Tm(2026, 12, 8, 18, 30, 15);
    CertificateDates dates;
    EXPECT_EQ(CCertValidity::Judge(dates, tmNow), ECertStatus::NotFound);
    dates.tmNotBefore = Tm(2024, 1, 1, 0, 0, 0);
    EXPECT_EQ(CCertValidity::Judge(dates, tmNow), ECertStatus::NotFound);
    dates.tmNotAfter = Tm(2030, 1, 1, 0, 0, 0);
    EXPECT_EQ(CCertValidity::Judge(dates, tmNow), ECertStatus::Valid);
    // Ends in the current second: still valid; one second earlier: expired.
    dates.tmNotAfter = tmNow;
    EXPECT_EQ(CCertValidity::Judge(dates, tmNow), ECertStatus::Valid);
    dates.tmNotAfter = Tm(2026, 12, 8, 18, 30, 14);
    EXPECT_EQ(CCertValidity::Judge(dates, tmNow), ECertStatus::Expired);
    // Starts in the next second: not yet valid, shown as expired; starting now is valid.
    dates.tmNotAfter = Tm(2030, 1, 1, 0, 0, 0);
    dates.tmNotBefore = Tm(2026, 12, 8, 18, 30, 16);
    EXPECT_EQ(CCertValidity::Judge(dates, tmNow), ECertStatus::Expired);
    dates.tmNotBefore = tmNow;
    EXPECT_EQ(CCertValidity::Judge(dates, tmNow), ECertStatus::Valid);
    // A higher field decides before a lower one (month before day).
    dates.tmNotBefore = Tm(2026, 11, 30, 23, 59, 59);
    dates.tmNotAfter = Tm(2026, 12, 1, 0, 0, 0);
    EXPECT_EQ(CCertValidity::Judge(dates, tmNow), ECertStatus::Expired);

    EXPECT_EQ(CCertValidity::StatusText(ECertStatus::NotFound), 203);
    EXPECT_EQ(CCertValidity::StatusText(ECertStatus::Valid), 201);
    EXPECT_EQ(CCertValidity::StatusText(ECertStatus::Expired), 202);
}
