#pragma once
#include <cstdint>
#include <string>
#include <vector>

namespace os
{
/// The content of one Windows .reg text file ("REGEDIT4" or "Windows Registry Editor
/// Version 5.00"), kept line by line so that a rewrite changes only the value that was set:
/// comments, blank lines, values of every type, deletion entries and lines that could not be
/// parsed all come back out unchanged.
///
/// Reading follows the import order of the registry editor: sections and values apply from
/// top to bottom, a later assignment of a value wins, "name"=- deletes a value and [-KEY]
/// deletes a key with its subkeys. Key and value names compare case-insensitively (ASCII).
/// Malformed lines are skipped (and kept); a value line in a malformed section is ignored.
///
/// The text is handled in the program's narrow encoding: CRegFileStore converts a UTF-16LE
/// file before parsing and back after serialising. In a version 5 file the hex(1), hex(2)
/// and hex(7) forms hold UTF-16LE text, which this class converts from and to UTF-8; in a
/// REGEDIT4 file they hold the bytes as they are.
///
/// A plain value, not shared between threads.
class CRegDocument
{
public:
    struct SValue
    {
        uint32_t nType = 0;
        std::vector<uint8_t> vecData;
    };

    CRegDocument();

    /// Replaces the content with the parsed text. Never fails: what cannot be parsed is kept
    /// as an opaque line. The line ending of the first line (CRLF or LF) is used for writing.
    void Parse(const std::string& strText);
    /// Looks a value up. strRoot is "HKEY_CURRENT_USER" or "HKEY_LOCAL_MACHINE" ("HKCU" and
    /// "HKLM" in the file are accepted as the same); strKeyPath is relative to the root.
    bool Find(const std::string& strRoot, const std::string& strKeyPath, const std::string& strName,
              SValue& value) const;
    /// Sets a value: replaces its last assignment in the key's last section, or adds the line
    /// at the end of that section, or adds a new section at the end of the file.
    void Set(const std::string& strRoot, const std::string& strKeyPath, const std::string& strName,
             uint32_t nType, const std::vector<uint8_t>& vecData);
    /// The whole text, each line ended by the document's line ending.
    std::string Serialize() const;

    /// True when the header says "Windows Registry Editor Version 5.00".
    bool IsVersion5() const { return m_bVersion5; }
    size_t EntryCount() const { return m_vecEntries.size(); }

    // Text helpers, also used by CRegFileStore for UTF-16LE files.
    static std::string Utf16LeToUtf8(const uint8_t* pData, size_t nSize);
    /// Converts UTF-8 to UTF-16LE; a byte that is not valid UTF-8 is taken as the code point
    /// of the same number (Latin-1), so that nothing is dropped.
    static std::vector<uint8_t> Utf8ToUtf16Le(const std::string& strText);

private:
    enum class EKind
    {
        Other,    // blank, comment, header or malformed: written back unchanged
        Section,  // [KEY] or [-KEY]
        Value,    // "name"=... or @=...
    };
    struct SEntry
    {
        EKind eKind = EKind::Other;
        std::vector<std::string> vecRaw;  // the physical lines, without line endings
        // Section: the folded full key ("hkey_current_user\software\..."); empty when malformed.
        std::string strKey;
        bool bDeleteKey = false;
        // Value: the name as written and folded, its data, or a deletion.
        std::string strName;
        bool bDeleteValue = false;
        SValue value;
    };

    static std::string Fold(const std::string& str);
    static std::string FullKey(const std::string& strRoot, const std::string& strKeyPath);
    static bool NormaliseSectionKey(const std::string& strText, std::string& strKey);
    bool ParseValueLine(const std::string& strLine, SEntry& entry, bool& bWantsMore) const;
    bool ParseData(const std::string& strData, SEntry& entry) const;
    std::vector<std::string> FormatValue(const std::string& strName, uint32_t nType,
                                         const std::vector<uint8_t>& vecData) const;

    std::vector<SEntry> m_vecEntries;
    std::string m_strNewline = "\n";
    bool m_bVersion5 = false;
};
} // namespace os
