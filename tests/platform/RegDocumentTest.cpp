#include <gtest/gtest.h>

#include <random>

#include "RegDocument.h"
#include "SettingsStore.h"

using os::CRegDocument;

namespace
{
const char* const kCu = "HKEY_CURRENT_USER";
const char* const kKey = "SOFTWARE\\Vantor\\SICCT-Config";

std::vector<uint8_t> Bytes(const std::string& str)
{
    return std::vector<uint8_t>(str.begin(), str.end());
}
std::vector<uint8_t> Dword(uint32_t n)
{
    return {static_cast<uint8_t>(n), static_cast<uint8_t>(n >> 8), static_cast<uint8_t>(n >> 16),
            static_cast<uint8_t>(n >> 24)};
}
} // namespace

TEST(RegDocument, ReadsEveryValueFormOfTheRegistryEditor)
{
    CRegDocument doc;
    doc.Parse("REGEDIT4\n"
              "\n"
              "[HKEY_CURRENT_USER\\SOFTWARE\\Vantor\\SICCT-Config]\n"
              "\"Port\"=dword:000001bb\n"
              "\"CtApi\"=\"C:\\\\Pfad mit \\\"Quote\\\"\\\\ctapi.dll\"\n"
              "@=\"default\"\n"
              "\"Bin\"=hex:01,02,ff\n"
              "\"Q\"=hex(b):01,00,00,00,00,00,00,00\n"
              "\"Long\"=hex:00,01,02,\\\n"
              "  03,04\n"
              "\"Empty\"=hex:\n");
    CRegDocument::SValue v;
    ASSERT_TRUE(doc.Find(kCu, kKey, "Port", v));
    EXPECT_EQ(v.nType, os::REG_TYPE_DWORD);
    EXPECT_EQ(v.vecData, Dword(443));
    ASSERT_TRUE(doc.Find(kCu, kKey, "CtApi", v));
    EXPECT_EQ(v.nType, os::REG_TYPE_SZ);
    std::string strExpected = "C:\\Pfad mit \"Quote\"\\ctapi.dll";
    std::vector<uint8_t> vecExpected = Bytes(strExpected);
    vecExpected.push_back(0);  // a quoted text is stored with its terminator, as on import
    EXPECT_EQ(v.vecData, vecExpected);
    ASSERT_TRUE(doc.Find(kCu, kKey, "", v));
    EXPECT_EQ(v.vecData.size(), 8u);
    ASSERT_TRUE(doc.Find(kCu, kKey, "Bin", v));
    EXPECT_EQ(v.nType, os::REG_TYPE_BINARY);
    EXPECT_EQ(v.vecData, (std::vector<uint8_t>{1, 2, 0xff}));
    ASSERT_TRUE(doc.Find(kCu, kKey, "Q", v));
    EXPECT_EQ(v.nType, os::REG_TYPE_QWORD);
    ASSERT_TRUE(doc.Find(kCu, kKey, "Long", v));
    EXPECT_EQ(v.vecData, (std::vector<uint8_t>{0, 1, 2, 3, 4}));
    ASSERT_TRUE(doc.Find(kCu, kKey, "Empty", v));
    EXPECT_TRUE(v.vecData.empty());
}

TEST(RegDocument, NamesCompareCaseInsensitivelyAndRootsHaveShortForms)
{
    CRegDocument doc;
    doc.Parse("REGEDIT4\n[HKCU\\Software\\VANTOR\\sicct-config\\]\n\"PORT\"=dword:00000010\n");
    CRegDocument::SValue v;
    ASSERT_TRUE(doc.Find(kCu, kKey, "port", v));
    EXPECT_EQ(v.vecData, Dword(16));
    EXPECT_FALSE(doc.Find("HKEY_LOCAL_MACHINE", kKey, "Port", v));
    EXPECT_FALSE(doc.Find(kCu, "SOFTWARE\\Vantor", "Port", v));  // parent key has no such value
}

TEST(RegDocument, LaterAssignmentsAndDeletionsApplyInFileOrder)
{
    CRegDocument doc;
    doc.Parse("REGEDIT4\n"
              "[HKEY_CURRENT_USER\\SOFTWARE\\Vantor\\SICCT-Config]\n"
              "\"A\"=dword:00000001\n\"B\"=dword:00000001\n\"C\"=dword:00000001\n"
              "[HKEY_CURRENT_USER\\SOFTWARE\\Vantor\\SICCT-Config]\n"
              "\"A\"=dword:00000002\n\"B\"=-\n"
              "[HKEY_CURRENT_USER\\SOFTWARE\\Other]\n\"C\"=dword:00000009\n");
    CRegDocument::SValue v;
    ASSERT_TRUE(doc.Find(kCu, kKey, "A", v));
    EXPECT_EQ(v.vecData, Dword(2));
    EXPECT_FALSE(doc.Find(kCu, kKey, "B", v));
    ASSERT_TRUE(doc.Find(kCu, kKey, "C", v));
    EXPECT_EQ(v.vecData, Dword(1));

    // deleting a parent key deletes the subkey's values; setting one afterwards revives it
    doc.Parse("REGEDIT4\n[HKEY_CURRENT_USER\\SOFTWARE\\Vantor\\SICCT-Config]\n\"A\"=dword:00000001\n"
              "\n[-HKEY_CURRENT_USER\\SOFTWARE\\Vantor]\n");
    EXPECT_FALSE(doc.Find(kCu, kKey, "A", v));
    doc.Set(kCu, kKey, "B", os::REG_TYPE_DWORD, Dword(5));
    ASSERT_TRUE(doc.Find(kCu, kKey, "B", v));
    EXPECT_FALSE(doc.Find(kCu, kKey, "A", v));
    CRegDocument again;
    again.Parse(doc.Serialize());
    ASSERT_TRUE(again.Find(kCu, kKey, "B", v));
    EXPECT_EQ(v.vecData, Dword(5));
}

TEST(RegDocument, MalformedLinesAreSkippedKeptAndDoNotLeakIntoOtherSections)
{
    const std::string strText = "REGEDIT4\n"
                                "[HKEY_CURRENT_USER\\SOFTWARE\\Vantor\\SICCT-Config]\n"
                                "\"Good1\"=dword:00000001\n"
                                "\"Bad1\"=dword:xyz\n"
                                "\"Bad2\"=\"unterminated\n"
                                "\"Bad3\"=hex:1,2,zz\n"
                                "garbage line\n"
                                "\"Good2\"=\"two\"\n"
                                "[HKEY_CURRENT_USER\\SOFTWARE\\Vantor\\SICCT-Config\n"
                                "\"Port\"=dword:00000063\n"
                                "[NOT_A_ROOT\\X]\n"
                                "\"Port\"=dword:00000064\n";
    CRegDocument doc;
    doc.Parse(strText);
    CRegDocument::SValue v;
    EXPECT_TRUE(doc.Find(kCu, kKey, "Good1", v));
    EXPECT_TRUE(doc.Find(kCu, kKey, "Good2", v));
    EXPECT_FALSE(doc.Find(kCu, kKey, "Bad1", v));
    EXPECT_FALSE(doc.Find(kCu, kKey, "Bad2", v));
    EXPECT_FALSE(doc.Find(kCu, kKey, "Bad3", v));
    // the values under the broken section headers belong to no key
    EXPECT_FALSE(doc.Find(kCu, kKey, "Port", v));
    // unchanged text comes back byte for byte
    EXPECT_EQ(doc.Serialize(), strText);
}

TEST(RegDocument, ValueBrokenOffAtTheEndSwallowsNothingWrittenAfterIt)
{
    // found by fuzzing: a hex value whose last line ends in a backslash used to take the
    // lines appended after it, so the new section and its value vanished on the next read
    for (const char* pszTail : {"\"X\"=hex:01,\\\n", "\"X\"=hex\\\\\\\n", "\"X\"=hex:01,\\\n\n"})
    {
        CRegDocument doc;
        doc.Parse(std::string("REGEDIT4\n[HKEY_CURRENT_USER\\Other]\n") + pszTail);
        doc.Set(kCu, kKey, "Port", os::REG_TYPE_DWORD, Dword(443));
        CRegDocument again;
        again.Parse(doc.Serialize());
        CRegDocument::SValue v;
        ASSERT_TRUE(again.Find(kCu, kKey, "Port", v)) << doc.Serialize();
        EXPECT_EQ(v.vecData, Dword(443));
    }
    // a real continuation still joins
    CRegDocument doc;
    doc.Parse("REGEDIT4\n[HKEY_CURRENT_USER\\Other]\n\"X\"=hex:01,\\\n  02,\\\n\t03\n");
    CRegDocument::SValue v;
    ASSERT_TRUE(doc.Find(kCu, "Other", "X", v));
    EXPECT_EQ(v.vecData, (std::vector<uint8_t>{1, 2, 3}));
}

TEST(RegDocument, StrayCarriageReturnsMeanTheSameBeforeAndAfterASave)
{
    // found by fuzzing: a line ending in two carriage returns lost one of them on saving, so a
    // line ignored on the first read became a value on the next one and hid a value written
    // meanwhile (here the program's own "Port" behind an older "port" further down)
    for (const char* pszNewline : {"\n", "\r\n"})
    {
        const std::string strNl = pszNewline;
        const std::string strText = "Windows Registry Editor Version 5.00" + strNl +
                                    "[HKEY_CURRENT_USER\\SOFTWARE\\Vantor\\SICCT-Config]" + strNl +
                                    "\"x\"=\"y\"" + strNl + "\"port\"=dword:00000020\r\r\n\"Other\"=dword:1\r\n";
        CRegDocument doc;
        doc.Parse(strText);
        CRegDocument::SValue v;
        ASSERT_TRUE(doc.Find(kCu, kKey, "Port", v)) << "a stray carriage return is no part of the value";
        EXPECT_EQ(v.vecData, Dword(0x20));
        // nothing but line endings of the document's own form is rewritten
        EXPECT_EQ(doc.Serialize(), strText) << strNl.size();

        doc.Set(kCu, kKey, "Port", os::REG_TYPE_DWORD, Dword(443));
        const std::string strSaved = doc.Serialize();
        CRegDocument again;
        again.Parse(strSaved);
        ASSERT_TRUE(again.Find(kCu, kKey, "Port", v));
        EXPECT_EQ(v.vecData, Dword(443)) << strSaved;
        ASSERT_TRUE(again.Find(kCu, kKey, "Other", v));
        EXPECT_EQ(v.vecData, Dword(1));
        EXPECT_EQ(again.Serialize(), strSaved) << "a second save changes nothing";
    }
}

TEST(RegDocument, SetReplacesInPlaceAndKeepsEverythingElse)
{
    const std::string strText = "REGEDIT4\r\n"
                                "; comment\r\n"
                                "[HKEY_CURRENT_USER\\SOFTWARE\\Vantor\\SICCT-Config]\r\n"
                                "\"Port\"=\"443\"\r\n"
                                "\"Other\"=hex(2):25,00\r\n"
                                "odd line\r\n";
    CRegDocument doc;
    doc.Parse(strText);
    doc.Set(kCu, kKey, "PORT", os::REG_TYPE_DWORD, Dword(8443));
    EXPECT_EQ(doc.Serialize(), "REGEDIT4\r\n"
                               "; comment\r\n"
                               "[HKEY_CURRENT_USER\\SOFTWARE\\Vantor\\SICCT-Config]\r\n"
                               "\"PORT\"=dword:000020fb\r\n"
                               "\"Other\"=hex(2):25,00\r\n"
                               "odd line\r\n");
    doc.Set(kCu, kKey, "New", os::REG_TYPE_DWORD, Dword(1));
    CRegDocument again;
    again.Parse(doc.Serialize());
    CRegDocument::SValue v;
    ASSERT_TRUE(again.Find(kCu, kKey, "New", v));
    ASSERT_TRUE(again.Find(kCu, kKey, "Other", v));
    EXPECT_EQ(v.nType, os::REG_TYPE_EXPAND_SZ);  // REGEDIT4: the bytes as they stand
    EXPECT_EQ(v.vecData, (std::vector<uint8_t>{0x25, 0x00}));
}

TEST(RegDocument, TextsKeepTheirExactSizeWithAndWithoutTerminator)
{
    for (bool bVersion5 : {false, true})
    {
        CRegDocument doc;
        doc.Parse(bVersion5 ? "Windows Registry Editor Version 5.00\n" : "REGEDIT4\n");
        std::vector<uint8_t> vecWith = Bytes(std::string(255, 'a') + std::string(1, '\0'));
        std::vector<uint8_t> vecWithout = Bytes(std::string(256, 'b'));
        std::vector<uint8_t> vecNewline = Bytes("two\nlines");
        std::vector<uint8_t> vecUmlaut = Bytes("Gr\xC3\xBC\xC3\x9F" "e");  // "Grüße" in UTF-8, unterminated
        doc.Set(kCu, kKey, "With", os::REG_TYPE_SZ, vecWith);
        doc.Set(kCu, kKey, "Without", os::REG_TYPE_SZ, vecWithout);
        doc.Set(kCu, kKey, "Newline", os::REG_TYPE_SZ, vecNewline);
        doc.Set(kCu, kKey, "Umlaut", os::REG_TYPE_SZ, vecUmlaut);
        const std::string strText = doc.Serialize();
        EXPECT_NE(strText.find("\"With\"=\"aaa"), std::string::npos) << "terminated text in quoted form";
        EXPECT_NE(strText.find("\"Without\"=hex(1):"), std::string::npos);

        CRegDocument again;
        again.Parse(strText);
        CRegDocument::SValue v;
        ASSERT_TRUE(again.Find(kCu, kKey, "With", v));
        EXPECT_EQ(v.vecData, vecWith);
        ASSERT_TRUE(again.Find(kCu, kKey, "Without", v));
        EXPECT_EQ(v.nType, os::REG_TYPE_SZ);
        EXPECT_EQ(v.vecData, vecWithout);
        ASSERT_TRUE(again.Find(kCu, kKey, "Newline", v));
        EXPECT_EQ(v.vecData, vecNewline);
        ASSERT_TRUE(again.Find(kCu, kKey, "Umlaut", v));
        EXPECT_EQ(v.vecData, vecUmlaut) << "version 5: " << bVersion5;
    }
}

TEST(RegDocument, Utf16ConversionsRoundTripAndNeverDropBytes)
{
    const std::string strText = "a\xC3\xBC\xE2\x82\xAC\xF0\x9F\x98\x80z";  // a ü € 😀 z
    std::vector<uint8_t> vec = CRegDocument::Utf8ToUtf16Le(strText);
    EXPECT_EQ(vec.size(), 2u * 6);  // the emoji takes a surrogate pair
    EXPECT_EQ(CRegDocument::Utf16LeToUtf8(vec.data(), vec.size()), strText);
    // a stray byte becomes its Latin-1 character instead of vanishing
    std::vector<uint8_t> vecStray = CRegDocument::Utf8ToUtf16Le("x\xFCy");
    EXPECT_EQ(vecStray, (std::vector<uint8_t>{'x', 0, 0xFC, 0, 'y', 0}));
    // a lone surrogate becomes U+FFFD
    const uint8_t aLone[] = {0x00, 0xD8, 'a', 0};
    EXPECT_EQ(CRegDocument::Utf16LeToUtf8(aLone, sizeof(aLone)), "\xEF\xBF\xBD" "a");
}

TEST(RegDocument, AnyTextComesBackUnchangedAndASetKeepsEveryLine)
{
    const std::string strBase = "Windows Registry Editor Version 5.00\n\n"
                                "[HKEY_CURRENT_USER\\SOFTWARE\\Vantor\\SICCT-Config]\n"
                                "\"Port\"=dword:000001bb\n\"CtApi\"=\"/usr/lib/a \\\"b\\\".so\"\n"
                                "\"Bin\"=hex:01,02,\\\n  03\n\"T\"=hex(2):41,00,00,00\n@=-\n[-HKCU\\X]\n";
    const std::string strAlphabet = "[]\"\\=@-:,;() \t\nabcdefxHKEY_CURRENT_USER\\0123456789hex(dword)\x00\xff";
    std::mt19937 rng(42);
    for (int nRound = 0; nRound < 2000; ++nRound)
    {
        std::string strText = strBase;
        const int nEdits = 1 + static_cast<int>(rng() % 6);
        for (int k = 0; k < nEdits; ++k)
        {
            size_t nAt = rng() % strText.size();
            char c = strAlphabet[rng() % strAlphabet.size()];
            switch (rng() % 3)
            {
            case 0: strText[nAt] = c; break;
            case 1: strText.insert(strText.begin() + static_cast<std::ptrdiff_t>(nAt), c); break;
            default: strText.erase(nAt, 1); break;
            }
        }
        if (strText.empty() || strText.back() != '\n')
            strText.push_back('\n');
        CRegDocument doc;
        doc.Parse(strText);
        ASSERT_EQ(doc.Serialize(), strText) << "round " << nRound;

        doc.Set(kCu, kKey, "Fresh", os::REG_TYPE_SZ, Bytes("v"));
        const std::string strAfter = doc.Serialize();
        CRegDocument::SValue v;
        CRegDocument again;
        again.Parse(strAfter);
        ASSERT_TRUE(again.Find(kCu, kKey, "Fresh", v)) << strAfter;
        EXPECT_EQ(v.vecData, Bytes("v"));
        // the old lines are all still there, in order
        size_t nPos = 0, nLine = 0;
        while (nLine < strText.size())
        {
            size_t nEnd = strText.find('\n', nLine);
            const std::string strLine = strText.substr(nLine, nEnd - nLine + 1);
            size_t nFound = strAfter.find(strLine, nPos);
            ASSERT_NE(nFound, std::string::npos) << "lost line: " << strLine;
            nPos = nFound + strLine.size();
            nLine = nEnd + 1;
        }
    }
}
