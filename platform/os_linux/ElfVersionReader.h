#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "VersionRecord.h"

namespace os
{
/// Reads the version record that tc_embed_version() puts into a program or shared library:
/// the contents of the ELF section ".tc_version". ELF32 and ELF64, little endian. The file is
/// outside input: every offset and size is checked against the file before it is used, and
/// nothing larger than the limits below is read. Stateless; any thread.
///
/// Record layout (all numbers little endian):
///
///   offset  size  field
///   0       4     magic "TCVR"
///   4       2     format version (1)
///   6       2     header size H (16); the fixed part starts at H
///   8       4     total size of the record in bytes
///   12      4     reserved (0)
///   H       52    fixed part: SFixedFileInfo, 13 x 32-bit words
///   H+52    2     number of translations T (1..kMaxTranslations)
///   H+54    2     reserved
///   H+56    8*T   per translation: language id (2), code page (2), string count S (2), 0 (2)
///   then, translation by translation, S strings each:
///           2     name length N, then N bytes of name (UTF-8, no zero)
///           2     value length V, then V bytes of value (UTF-8, no zero)
class CElfVersionReader : public CVersionReader
{
public:
    static constexpr const char* kSectionName = ".tc_version";
    static constexpr size_t kMaxSectionBytes = 64 * 1024;
    static constexpr size_t kMaxSections = 1u << 20;
    static constexpr uint16_t kMaxTranslations = 64;
    static constexpr uint16_t kMaxStrings = 256;

    /// OS_OK, OS_ERR_NOT_FOUND (missing file, no ELF file, no record), OS_ERR_ACCESS,
    /// OS_ERR_GENERAL (damaged record).
    int ReadFromFile(const std::string& strPath, SVersionRecord& record) override;
    /// null: the running program (/proc/self/exe); else a dlopen handle (its link map name).
    std::string ModuleFileName(void* hModule) override;

    /// The bytes of a named section of an ELF file. OS_OK, OS_ERR_NOT_FOUND (no such
    /// section, not ELF, section without file data, or larger than kMaxSectionBytes),
    /// OS_ERR_ACCESS.
    static int ReadSection(const std::string& strPath, const std::string& strSection, std::vector<uint8_t>& vecData);
    /// The same on an image in memory (tests and fuzzing).
    static int ReadSectionFromMemory(const uint8_t* pImage, size_t nSize, const std::string& strSection,
                                     std::vector<uint8_t>& vecData);
    /// Decodes a record (layout above). OS_OK or OS_ERR_GENERAL; record is left unchanged on
    /// failure.
    static int ParseRecord(const uint8_t* pData, size_t nSize, SVersionRecord& record);
};
} // namespace os
