// Fuzz target: the .reg parser. Checks, besides memory safety, that an unchanged document
// comes back byte for byte and that a value set is found again after a re-parse.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "RegDocument.h"
#include "SettingsStore.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* pData, size_t nSize)
{
    const std::string strText(reinterpret_cast<const char*>(pData), nSize);
    os::CRegDocument doc;
    doc.Parse(strText);
    if (!strText.empty() && strText.back() == '\n' && strText.find('\r') == std::string::npos &&
        doc.Serialize() != strText)
        std::abort();

    const uint8_t aValue[] = {'v', 'a', 'l'};
    doc.Set("HKEY_CURRENT_USER", "SOFTWARE\\Vantor\\SICCT-Config", "Fuzz", os::REG_TYPE_SZ, std::vector<uint8_t>(aValue, aValue + 3));
    os::CRegDocument again;
    again.Parse(doc.Serialize());
    os::CRegDocument::SValue value;
    if (!again.Find("HKEY_CURRENT_USER", "SOFTWARE\\Vantor\\SICCT-Config", "Fuzz", value) ||
        value.vecData != std::vector<uint8_t>(aValue, aValue + 3))
        std::abort();

    // UTF-16 decoding output is valid UTF-8 and survives a round trip
    const std::string strUtf8 = os::CRegDocument::Utf16LeToUtf8(pData, nSize);
    const std::vector<uint8_t> vecUtf16 = os::CRegDocument::Utf8ToUtf16Le(strUtf8);
    if (os::CRegDocument::Utf16LeToUtf8(vecUtf16.data(), vecUtf16.size()) != strUtf8)
        std::abort();
    return 0;
}
