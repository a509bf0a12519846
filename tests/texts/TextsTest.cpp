#include "Texts.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

namespace
{
// Whether str is well-formed UTF-8 (no overlong forms, no surrogates, at most U+10FFFF).
bool IsValidUtf8(std::string_view str)
{
    std::size_t i = 0;
    while (i < str.size())
    {
        const auto c = static_cast<unsigned char>(str[i]);
        int nMore = 0;
        uint32_t uCode = 0;
        if (c < 0x80)
            nMore = 0, uCode = c;
        else if ((c & 0xE0) == 0xC0)
            nMore = 1, uCode = c & 0x1F;
        else if ((c & 0xF0) == 0xE0)
            nMore = 2, uCode = c & 0x0F;
        else if ((c & 0xF8) == 0xF0)
            nMore = 3, uCode = c & 0x07;
        else
            return false;
        if (nMore > 0 && i + nMore >= str.size())
            return false;
        for (int k = 1; k <= nMore; ++k)
        {
            const auto cc = static_cast<unsigned char>(str[i + k]);
            if ((cc & 0xC0) != 0x80)
                return false;
            uCode = (uCode << 6) | (cc & 0x3F);
        }
        static const uint32_t kMin[] = {0, 0x80, 0x800, 0x10000};
        if (uCode < kMin[nMore] || uCode > 0x10FFFF || (uCode >= 0xD800 && uCode <= 0xDFFF))
            return false;
        i += nMore + 1;
    }
    return true;
}
} // namespace

// Exact texts from several ranges, including umlauts, sharp s, the trailing blank of the
// session-close command and the real CR LF inside 4011.
TEST(TextsTable, SpotTextsAreVerbatim)
{
    EXPECT_EQ(texts::Get(4001), "[FEHLER]: Kann nicht zum Socket verbinden.");
    EXPECT_EQ(texts::Get(4002), "[FEHLER]: Kein Protokoll angegeben.");
    EXPECT_EQ(texts::Get(2006), "CT Sitzung wird geschlossen...");
    EXPECT_EQ(texts::Get(2009), "SSL wird ge\xC3\xB6" "ffnet");
    EXPECT_EQ(texts::Get(115), "[FEHLER]: Keine Antwort auf IDS_SICCT_CLOSE Kommando erhalten.");
    EXPECT_EQ(texts::Get(1999), "[WARNUNG]: Ausführung durch den Benutzer abgebrochen.");
    EXPECT_EQ(texts::Get(6005), "CT_SESSION_CLOSE Fehler 0x6400: Schließen der Session gescheitert.");
    EXPECT_EQ(texts::Get(6019), "SICCT Fehler 0x6941: FU nicht verfügbar oder beschäftigt.");
    EXPECT_EQ(texts::Get(176), "CTAPI: -10: nicht behebbarer Übertragungsfehler oder Timeout abgelaufen.");
    EXPECT_EQ(texts::Get(203), "Es wurde kein gültiges Zertifikat gefunden.");
    EXPECT_EQ(texts::Get(101), "Inf&o über %s...");
    EXPECT_EQ(texts::Get(100), "80 17 40 00 10 50 0E 44 69 61 67 6E 6F 73 65 20 6C 7B 75 66 74");
    EXPECT_EQ(texts::Get(104), "80 29 00 00 ");
    EXPECT_EQ(texts::Get(116), "80 11 %s 01 00");
    EXPECT_EQ(texts::Get(6033), "SICCT Fehler 0x%.2x%.2x");
    EXPECT_EQ(texts::Get(4011),
              "[FEHLER]: SSL-Verbindung kann nicht hergestellt werden.\r\n"
              "  Bitte beenden Sie alle offenen Verbindungen zum Terminal/Keyboard.\r\n"
              "  Prüfen Sie ob eine SM.KT im Slot SM 1 oder SM 2 steckt und aktiviert ist (nur bei Onlinephase).");
    // "ö" must be the two UTF-8 bytes, not a Latin-1 byte.
    EXPECT_EQ(texts::Get(2007).size(), std::string_view("CT Sitzung wird geoffnet...").size() + 1);
}

TEST(TextsTable, LookupOfUnknownNumbersIsEmpty)
{
    for (int nId : {0, -1, 99, 103, 122, 127, 1000, 2002, 6011, 6035, 99999})
    {
        EXPECT_FALSE(texts::Has(nId)) << nId;
        EXPECT_TRUE(texts::Get(nId).empty()) << nId;
        EXPECT_EQ(texts::Format(nId, std::string("x")), "") << nId;
    }
    EXPECT_TRUE(texts::Has(6034));
    EXPECT_TRUE(texts::Has(100));
}

// The lookup is a binary search: it needs strictly ascending numbers (also checked at compile
// time). Every entry must be reachable, valid UTF-8 and carry only well-formed conversions.
TEST(TextsTable, SortedUniqueReachableAndWellFormed)
{
    const std::vector<int> vecIds = texts::Ids();
    ASSERT_FALSE(vecIds.empty());
    for (std::size_t i = 1; i < vecIds.size(); ++i)
        EXPECT_LT(vecIds[i - 1], vecIds[i]) << "at index " << i;
    for (int nId : vecIds)
    {
        const std::string_view strText = texts::Get(nId);
        EXPECT_TRUE(texts::Has(nId)) << nId;
        EXPECT_FALSE(strText.empty()) << nId;
        EXPECT_TRUE(IsValidUtf8(strText)) << nId;
        std::string strOut;
        const int nCode = texts::FormatInto(strOut, strText, {});
        EXPECT_TRUE(nCode == texts::FORMAT_OK || nCode == texts::FORMAT_MISSING_ARGUMENT) << nId << ": " << strText;
        EXPECT_EQ(strOut, strText) << nId; // without arguments every conversion stays as written
    }
    // Contiguous ranges the callers index by computation or table.
    for (int nId = 6016; nId <= 6026; ++nId)
        EXPECT_TRUE(texts::Has(nId)) << nId;
    for (int nId = 6028; nId <= 6034; ++nId)
        EXPECT_TRUE(texts::Has(nId)) << nId;
    for (int nId = 174; nId <= 182; ++nId)
        EXPECT_TRUE(texts::Has(nId)) << nId;
    for (int nId = 200; nId <= 203; ++nId)
        EXPECT_TRUE(texts::Has(nId)) << nId;
}

// Command texts are converted to bytes by splitting at blanks: only upper-case hexadecimal
// pairs and "%s", separated by single blanks (104 keeps its one trailing blank).
// (Checked by hand rather than with std::regex, whose inlined code trips GCC 12's
// -Wmaybe-uninitialized in the sanitizer builds.)
namespace
{
bool IsHexPair(const std::string& str, size_t nPos)
{
    auto isHex = [](char c) { return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F'); };
    return nPos + 2 <= str.size() && isHex(str[nPos]) && isHex(str[nPos + 1]);
}
/// Items (hex pair or "%s") separated by single blanks; with bTrailingBlank every item is
/// followed by one blank instead. nItems receives the count.
bool IsCommandText(const std::string& str, bool bTrailingBlank, int& nItems)
{
    nItems = 0;
    size_t nPos = 0;
    while (nPos < str.size())
    {
        if (!IsHexPair(str, nPos) && str.compare(nPos, 2, "%s") != 0)
            return false;
        nPos += 2;
        ++nItems;
        if (nPos == str.size())
            return !bTrailingBlank;
        if (str[nPos] != ' ')
            return false;
        ++nPos;
        if (nPos == str.size())
            return bTrailingBlank;
    }
    return false;  // empty
}
} // namespace

TEST(TextsTable, CommandTextsAreHexadecimalPairs)
{
    int nItems = 0;
    for (int nId : {100, 102, 105, 106, 112, 114, 116, 117, 118, 119, 120, 121, 126, 128, 137, 138})
        EXPECT_TRUE(IsCommandText(std::string(texts::Get(nId)), false, nItems)) << nId << ": " << texts::Get(nId);
    EXPECT_TRUE(IsCommandText(std::string(texts::Get(104)), true, nItems));
    EXPECT_EQ(nItems, 4);
    EXPECT_FALSE(IsCommandText("80 13 00 46 00 ", false, nItems)) << "trailing blank";
    EXPECT_FALSE(IsCommandText("80  13", false, nItems)) << "double blank";
    EXPECT_FALSE(IsCommandText("80 1g", false, nItems)) << "not hexadecimal";
    EXPECT_FALSE(IsCommandText("80 13 0a", false, nItems)) << "lower case";
    EXPECT_FALSE(IsCommandText("", false, nItems));
    EXPECT_EQ(texts::Format(121, std::string("1A")), "80 13 1A 6A 00");
}

// Dialog and control numbers are their own namespace: dialog 100 is the About dialog, string 100
// a command.
TEST(TextsTable, ControlTextsByDialogAndControl)
{
    EXPECT_EQ(texts::ControlText(102, 0), "Terminal Console");
    EXPECT_EQ(texts::ControlText(102, 1045), "&Gerät wählen");
    EXPECT_EQ(texts::ControlText(139, 1064), "&Paketgröße:");
    EXPECT_EQ(texts::ControlText(183, 0), "gSMC-KT Zertifikat Gültigkeit");
    EXPECT_EQ(texts::FormatPattern(texts::ControlText(100, 0), "Terminal Console", "2.3.2"),
              "Info über Terminal Console V2.3.2");
    EXPECT_TRUE(texts::ControlText(102, 9999).empty());
    EXPECT_TRUE(texts::ControlText(101, 0).empty());
    EXPECT_NE(texts::ControlText(100, 0), texts::Get(100));

    const auto vecKeys = texts::ControlKeys();
    ASSERT_FALSE(vecKeys.empty());
    for (std::size_t i = 1; i < vecKeys.size(); ++i)
        EXPECT_LT(vecKeys[i - 1], vecKeys[i]) << "at index " << i;
    for (const auto& [nDialog, nControl] : vecKeys)
    {
        EXPECT_FALSE(texts::ControlText(nDialog, nControl).empty()) << nDialog << "/" << nControl;
        EXPECT_TRUE(IsValidUtf8(texts::ControlText(nDialog, nControl))) << nDialog << "/" << nControl;
    }
}

TEST(TextsFormat, EachConversionKind)
{
    EXPECT_EQ(texts::Format(113, std::string("/tmp/fw.bin")), "Datei /tmp/fw.bin enthält keine gültige Firmware.");
    EXPECT_EQ(texts::Format(113, "fw.sim"), "Datei fw.sim enthält keine gültige Firmware.");
    EXPECT_EQ(texts::Format(200, std::string_view("KT-7"), "192.168.1.5"), "Zertifikat für KT-7 (192.168.1.5)");
    EXPECT_EQ(texts::Format(125, 10054), "WSA Error: 0x2746");
    EXPECT_EQ(texts::Format(125, -1), "WSA Error: 0xffffffff"); // an int's own width, as printf
    EXPECT_EQ(texts::Format(125, int64_t{-1}), "WSA Error: 0xffffffffffffffff");
    EXPECT_EQ(texts::Format(6033, uint8_t{0x6A}, uint8_t{0x82}), "SICCT Fehler 0x6a82");
    EXPECT_EQ(texts::Format(6033, 0x6, 0x0), "SICCT Fehler 0x0600");

    EXPECT_EQ(texts::FormatPattern("%02X %02X ", uint8_t{0x0A}, 0xFF), "0A FF ");
    EXPECT_EQ(texts::FormatPattern("%d.%02d", 1, 3), "1.03");
    EXPECT_EQ(texts::FormatPattern("%i.%i.%i.%i", 192, 168, 0, 1), "192.168.0.1");
    EXPECT_EQ(texts::FormatPattern("%d", 4294967295u), "-1"); // unsigned of int width read as int
    EXPECT_EQ(texts::FormatPattern("%u", -2), "4294967294");
    EXPECT_EQ(texts::FormatPattern("%hu", 70000), "4464");
    EXPECT_EQ(texts::FormatPattern("%hhu|%hhd", 257, 255), "1|-1");
    EXPECT_EQ(texts::FormatPattern("%lld %ld %zu", int64_t{-5}, 7L, std::size_t{9}), "-5 7 9");
    EXPECT_EQ(texts::FormatPattern("%.0lf %%", 49.6), "50 %");
    EXPECT_EQ(texts::FormatPattern("%.1f|%e", 3, 0.5), "3.0|5.000000e-01");
    EXPECT_EQ(texts::FormatPattern("%c%c", 'O', 75), "OK");
    EXPECT_EQ(texts::FormatPattern("[%-5s|%5s|%.2s]", "ab", "cd", "xyz"), "[ab   |   cd|xy]");
    EXPECT_EQ(texts::FormatPattern("[%*d|%-*d|%.*s]", 4, 7, 3, 8, 1, "zz"), "[   7|8  |z]");
    EXPECT_EQ(texts::FormatPattern("%#x %#o %+d % d", 255, 8, 5, 5), "0xff 010 +5  5");
    EXPECT_EQ(texts::FormatPattern("%s", static_cast<const char*>(nullptr)), "(null)");
    EXPECT_EQ(texts::FormatPattern("%p", nullptr), "(nil)");
    int nObject = 0;
    EXPECT_EQ(texts::FormatPattern("%p", &nObject).substr(0, 2), "0x");
    // Texts are byte views: an embedded NUL is kept, not a terminator.
    EXPECT_EQ(texts::FormatPattern("<%s>", std::string_view("a\0b", 3)), std::string("<a\0b>", 5));
}

TEST(TextsFormat, OneTextArgumentEntryPoint)
{
    // Reports carry one text argument; a whole decimal number may fill a numeric conversion.
    EXPECT_EQ(texts::Format(125, std::string("10054")), "WSA Error: 0x2746");
    EXPECT_EQ(texts::Format(125, std::string("-1")), "WSA Error: 0xffffffffffffffff");
    EXPECT_EQ(texts::Format(125, std::string("12ab")), "WSA Error: 0x%x");
    EXPECT_EQ(texts::Format(125, std::string("")), "WSA Error: 0x%x");
    EXPECT_EQ(texts::Format(116, std::string("01")), "80 11 01 01 00");
    EXPECT_EQ(texts::Format(2004, std::string()), "Sende Daten"); // no conversion: argument unused
    EXPECT_EQ(texts::Format(101, std::string("Terminal Console")), "Inf&o über Terminal Console...");
}

// A wrong, missing or surplus argument is reported and leaves the conversion visible; it never
// reaches snprintf with a mismatched type. "%n" is never executed.
TEST(TextsFormat, MismatchedArgumentsAreSafe)
{
    std::string strOut;
    EXPECT_EQ(texts::TryFormat(strOut, 125, "abc"), texts::FORMAT_KIND_MISMATCH);
    EXPECT_EQ(strOut, "WSA Error: 0x%x");
    EXPECT_EQ(texts::TryFormat(strOut, 113, 42), texts::FORMAT_KIND_MISMATCH);
    EXPECT_EQ(strOut, "Datei %s enthält keine gültige Firmware.");
    EXPECT_EQ(texts::TryFormat(strOut, 6033, 1.5, 0x82), texts::FORMAT_KIND_MISMATCH);
    EXPECT_EQ(strOut, "SICCT Fehler 0x%.2x82"); // the second argument still goes to the second conversion
    EXPECT_EQ(texts::TryFormat(strOut, 200, "KT"), texts::FORMAT_MISSING_ARGUMENT);
    EXPECT_EQ(strOut, "Zertifikat für KT (%s)");
    EXPECT_EQ(texts::TryFormat(strOut, 6033), texts::FORMAT_MISSING_ARGUMENT);
    EXPECT_EQ(strOut, "SICCT Fehler 0x%.2x%.2x");
    EXPECT_EQ(texts::TryFormat(strOut, 139, 1, "x"), texts::FORMAT_EXTRA_ARGUMENTS);
    EXPECT_EQ(strOut, "Signatur OK");
    EXPECT_EQ(texts::TryFormat(strOut, 113, "a"), texts::FORMAT_OK);

    int nTarget = 1234;
    const texts::CFormatArg aArgs[] = {texts::CFormatArg(&nTarget)};
    EXPECT_EQ(texts::FormatInto(strOut, "x%ny", aArgs), texts::FORMAT_BAD_CONVERSION);
    EXPECT_EQ(strOut, "x%ny");
    EXPECT_EQ(nTarget, 1234);

    EXPECT_EQ(texts::FormatInto(strOut, "100 %", {}), texts::FORMAT_BAD_CONVERSION);
    EXPECT_EQ(strOut, "100 %");
    EXPECT_EQ(texts::FormatInto(strOut, "%5.2y!", {}), texts::FORMAT_BAD_CONVERSION);
    EXPECT_EQ(strOut, "%5.2y!");
    EXPECT_EQ(texts::FormatPattern("%p", 5), "%p");
    EXPECT_EQ(texts::FormatPattern("%*d", "wide", 5), "%*d");
    // Width and precision from outside are bounded.
    EXPECT_EQ(texts::FormatPattern("%*d", 1 << 30, 5).size(), 1024u);
    EXPECT_EQ(texts::FormatPattern("%99999999999d", 5).size(), 1024u);
    EXPECT_EQ(texts::FormatPattern("%.*f", 1 << 30, 1.0).size(), 2u + 1024u);
    EXPECT_EQ(texts::FormatPattern("%*d", INT64_MIN, 5).size(), 1024u);
}
