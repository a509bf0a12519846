#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <iterator>
#include <random>

#include "ElfVersionReader.h"
#include "OsCodes.h"

using os::CElfVersionReader;

namespace
{
std::vector<uint8_t> ReadFileBytes(const std::string& strPath)
{
    std::ifstream in(strPath, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::string Value(const os::SVersionRecord& record, const std::string& strName)
{
    std::string strValue;
    if (!record.QueryString("\\StringFileInfo\\040704b0\\" + strName, strValue))
        return "<missing>";
    return strValue;
}

void Put16(std::vector<uint8_t>& v, size_t nOff, uint64_t n)
{
    v[nOff] = static_cast<uint8_t>(n);
    v[nOff + 1] = static_cast<uint8_t>(n >> 8);
}
void Put32(std::vector<uint8_t>& v, size_t nOff, uint64_t n)
{
    for (int k = 0; k < 4; ++k)
        v[nOff + k] = static_cast<uint8_t>(n >> (8 * k));
}
void Put64(std::vector<uint8_t>& v, size_t nOff, uint64_t n)
{
    for (int k = 0; k < 8; ++k)
        v[nOff + k] = static_cast<uint8_t>(n >> (8 * k));
}

struct SSection
{
    std::string strName;
    uint32_t nType;
    std::vector<uint8_t> vecData;
};

/// A minimal ELF image: header, section data, names, section header table (null section
/// first, the name table last). bExtended: count and name index go through section 0.
std::vector<uint8_t> BuildElf(bool b64, const std::vector<SSection>& vecSections, bool bExtended = false)
{
    const size_t nHeader = b64 ? 64 : 52;
    const size_t nEntry = b64 ? 64 : 40;
    std::vector<uint8_t> img(nHeader, 0);
    std::memcpy(img.data(), "\x7f" "ELF", 4);
    img[4] = b64 ? 2 : 1;
    img[5] = 1;
    img[6] = 1;
    std::vector<uint64_t> vecOffsets;
    for (const SSection& s : vecSections)
    {
        vecOffsets.push_back(img.size());
        img.insert(img.end(), s.vecData.begin(), s.vecData.end());
    }
    std::vector<uint8_t> vecNames(1, 0);
    std::vector<uint32_t> vecNameOffsets;
    for (const SSection& s : vecSections)
    {
        vecNameOffsets.push_back(static_cast<uint32_t>(vecNames.size()));
        vecNames.insert(vecNames.end(), s.strName.begin(), s.strName.end());
        vecNames.push_back(0);
    }
    const uint32_t nShStrName = static_cast<uint32_t>(vecNames.size());
    const std::string strShStr = ".shstrtab";
    vecNames.insert(vecNames.end(), strShStr.begin(), strShStr.end());
    vecNames.push_back(0);
    const size_t nNamesOffset = img.size();
    img.insert(img.end(), vecNames.begin(), vecNames.end());
    while (img.size() % 8)
        img.push_back(0);
    const size_t nShOff = img.size();
    const size_t nCount = vecSections.size() + 2;
    img.resize(nShOff + nCount * nEntry, 0);
    auto putSection = [&](size_t nIndex, uint32_t nName, uint32_t nType, uint64_t nOffset, uint64_t nSize,
                          uint32_t nLink) {
        size_t p = nShOff + nIndex * nEntry;
        Put32(img, p, nName);
        Put32(img, p + 4, nType);
        if (b64)
        {
            Put64(img, p + 24, nOffset);
            Put64(img, p + 32, nSize);
            Put32(img, p + 40, nLink);
        }
        else
        {
            Put32(img, p + 16, nOffset);
            Put32(img, p + 20, nSize);
            Put32(img, p + 24, nLink);
        }
    };
    putSection(0, 0, 0, 0, bExtended ? nCount : 0, bExtended ? static_cast<uint32_t>(nCount - 1) : 0);
    for (size_t i = 0; i < vecSections.size(); ++i)
        putSection(i + 1, vecNameOffsets[i], vecSections[i].nType, vecOffsets[i], vecSections[i].vecData.size(), 0);
    putSection(nCount - 1, nShStrName, 3, nNamesOffset, vecNames.size(), 0);
    if (b64)
    {
        Put64(img, 0x28, nShOff);
        Put16(img, 0x3A, nEntry);
        Put16(img, 0x3C, bExtended ? 0 : nCount);
        Put16(img, 0x3E, bExtended ? 0xFFFF : nCount - 1);
    }
    else
    {
        Put32(img, 0x20, nShOff);
        Put16(img, 0x2E, nEntry);
        Put16(img, 0x30, bExtended ? 0 : nCount);
        Put16(img, 0x32, bExtended ? 0xFFFF : nCount - 1);
    }
    return img;
}

std::vector<uint8_t> ProbeRecordBytes()
{
    std::vector<uint8_t> vec;
    EXPECT_EQ(CElfVersionReader::ReadSection(TC_VERSION_PROBE, ".tc_version", vec), os::OS_OK);
    return vec;
}
} // namespace

TEST(ElfVersionReader, ReadsTheRecordBuiltIntoAProgram)
{
    CElfVersionReader reader;
    os::SVersionRecord record;
    ASSERT_EQ(reader.ReadFromFile(TC_VERSION_PROBE, record), os::OS_OK);
    EXPECT_EQ(record.fixed.nSignature, os::VERSION_FIXED_SIGNATURE);
    EXPECT_EQ(record.fixed.nFileVersionMS, 0x00020003u);
    EXPECT_EQ(record.fixed.nFileVersionLS, 0x00020001u);
    EXPECT_EQ(record.fixed.nProductVersionMS, 0x00020003u);
    EXPECT_EQ(record.fixed.nProductVersionLS, 0x00020000u);
    EXPECT_EQ(record.fixed.nFileType, 1u);
    ASSERT_EQ(record.vecTranslations.size(), 1u);
    EXPECT_EQ(record.vecTranslations[0].nLanguage, 0x0407);
    EXPECT_EQ(record.vecTranslations[0].nCodePage, 1200);
    EXPECT_EQ(Value(record, "FileDescription"), "Terminal Console");
    EXPECT_EQ(Value(record, "FileVersion"), "2.3.2.1");
    EXPECT_EQ(Value(record, "InternalName"), "Terminal Console");
    EXPECT_EQ(Value(record, "ProductName"), "Terminal Console");
    EXPECT_EQ(Value(record, "ProductVersion"), "2.3.2");
    EXPECT_EQ(Value(record, "LegalTrademarks"), "VANTOR");
    EXPECT_EQ(Value(record, "CompanyName"), "Vantor");
    EXPECT_NE(Value(record, "LegalCopyright"), "<missing>");
    EXPECT_EQ(Value(record, "OriginalFilename"), "tc_version_probe");
    // the Windows query is case-insensitive in hex digits and names
    std::string strValue;
    EXPECT_TRUE(record.QueryString("StringFileInfo\\040704B0\\PRODUCTNAME", strValue));
    EXPECT_FALSE(record.QueryString("\\StringFileInfo\\040904b0\\ProductName", strValue));
    EXPECT_FALSE(record.QueryString("\\StringFileInfo\\040704b0", strValue));
}

TEST(ElfVersionReader, ReadsTheRecordOfASharedLibraryWithItsOwnTexts)
{
    CElfVersionReader reader;
    os::SVersionRecord record;
    ASSERT_EQ(reader.ReadFromFile(TC_VERSION_PROBE_LIB, record), os::OS_OK);
    EXPECT_EQ(record.fixed.nFileType, 2u);
    EXPECT_EQ(Value(record, "FileDescription"), "Probe Library");
    EXPECT_EQ(Value(record, "InternalName"), "probe");
    EXPECT_EQ(Value(record, "OriginalFilename"), "libtc_version_probe_lib.so");
}

TEST(ElfVersionReader, FilesWithoutARecordFailCleanly)
{
    CElfVersionReader reader;
    os::SVersionRecord record;
    EXPECT_EQ(reader.ReadFromFile("/nonexistent/file", record), os::OS_ERR_NOT_FOUND);
    EXPECT_EQ(reader.ReadFromFile("/tmp", record), os::OS_ERR_NOT_FOUND);
    EXPECT_EQ(reader.ReadFromFile("/etc/hostname", record), os::OS_ERR_NOT_FOUND);

    // the probe with its section renamed: a valid ELF file without a record
    std::vector<uint8_t> img = ReadFileBytes(TC_VERSION_PROBE);
    const std::string strName = ".tc_version";
    auto it = std::search(img.begin(), img.end(), strName.begin(), strName.end());
    ASSERT_NE(it, img.end());
    *(it + 3) = 'X';
    std::vector<uint8_t> vec;
    EXPECT_EQ(CElfVersionReader::ReadSectionFromMemory(img.data(), img.size(), ".tc_version", vec),
              os::OS_ERR_NOT_FOUND);
    // big endian and unknown classes are not read
    std::vector<uint8_t> big = ReadFileBytes(TC_VERSION_PROBE);
    big[5] = 2;
    EXPECT_EQ(CElfVersionReader::ReadSectionFromMemory(big.data(), big.size(), ".tc_version", vec),
              os::OS_ERR_NOT_FOUND);
}

TEST(ElfVersionReader, ReadsElf32AndExtendedSectionNumbering)
{
    const std::vector<uint8_t> vecRecord = ProbeRecordBytes();
    ASSERT_FALSE(vecRecord.empty());
    for (bool b64 : {false, true})
        for (bool bExtended : {false, true})
        {
            std::vector<uint8_t> img = BuildElf(b64, {{".text", 1, {0x90, 0x90}}, {".tc_version", 1, vecRecord}},
                                                bExtended);
            std::vector<uint8_t> vec;
            ASSERT_EQ(CElfVersionReader::ReadSectionFromMemory(img.data(), img.size(), ".tc_version", vec), os::OS_OK)
                << "64-bit " << b64 << " extended " << bExtended;
            EXPECT_EQ(vec, vecRecord);
            // a section without file bytes is not a record
            std::vector<uint8_t> nobits = BuildElf(b64, {{".tc_version", 8, vecRecord}}, bExtended);
            EXPECT_EQ(CElfVersionReader::ReadSectionFromMemory(nobits.data(), nobits.size(), ".tc_version", vec),
                      os::OS_ERR_NOT_FOUND);
        }
    // a name that only starts like ours does not match
    std::vector<uint8_t> img = BuildElf(true, {{".tc_version_old", 1, vecRecord}});
    std::vector<uint8_t> vec;
    EXPECT_EQ(CElfVersionReader::ReadSectionFromMemory(img.data(), img.size(), ".tc_version", vec),
              os::OS_ERR_NOT_FOUND);
}

TEST(ElfVersionReader, TruncatedAndCorruptedImagesNeverReadOutside)
{
    // Run under the ASan build to catch any read outside the image.
    const std::vector<uint8_t> vecRecord = ProbeRecordBytes();
    for (bool b64 : {false, true})
    {
        const std::vector<uint8_t> img = BuildElf(b64, {{".tc_version", 1, vecRecord}, {".x", 1, {1, 2, 3}}});
        for (size_t nLen = 0; nLen < img.size(); ++nLen)
        {
            // an exact-size copy on the heap, so a read past its end is caught
            std::vector<uint8_t> part(img.begin(), img.begin() + static_cast<std::ptrdiff_t>(nLen));
            std::vector<uint8_t> vec;
            EXPECT_NE(CElfVersionReader::ReadSectionFromMemory(part.data(), part.size(), ".tc_version", vec),
                      os::OS_OK)
                << "a truncated image (the table is at the end) has no readable record: " << nLen;
        }
        std::mt19937 rng(b64 ? 7 : 8);
        for (int nRound = 0; nRound < 3000; ++nRound)
        {
            std::vector<uint8_t> bad = img;
            const int nFlips = 1 + static_cast<int>(rng() % 8);
            for (int k = 0; k < nFlips; ++k)
            {
                size_t nAt = rng() % bad.size();
                // aim most hits at the headers, where the offsets and sizes live
                if (rng() % 2)
                    nAt = (rng() % 2) ? rng() % 64 : bad.size() - 1 - rng() % std::min<size_t>(bad.size(), 200);
                bad[nAt] = static_cast<uint8_t>(rng());
            }
            std::vector<uint8_t> vec;
            (void)CElfVersionReader::ReadSectionFromMemory(bad.data(), bad.size(), ".tc_version", vec);
            EXPECT_LE(vec.size(), CElfVersionReader::kMaxSectionBytes);
            os::SVersionRecord record;
            (void)CElfVersionReader::ParseRecord(vec.data(), vec.size(), record);
        }
    }
    // pure garbage with and without the magic
    std::mt19937 rng(1);
    for (int nRound = 0; nRound < 500; ++nRound)
    {
        std::vector<uint8_t> junk(rng() % 256);
        for (uint8_t& b : junk)
            b = static_cast<uint8_t>(rng());
        if (junk.size() >= 6 && nRound % 2)
        {
            std::memcpy(junk.data(), "\x7f" "ELF", 4);
            junk[4] = static_cast<uint8_t>(1 + nRound % 2);
            junk[5] = 1;
        }
        std::vector<uint8_t> vec;
        EXPECT_NE(CElfVersionReader::ReadSectionFromMemory(junk.data(), junk.size(), ".tc_version", vec), os::OS_OK);
    }
}

TEST(ElfVersionReader, DamagedRecordsAreRejectedWholly)
{
    const std::vector<uint8_t> vecRecord = ProbeRecordBytes();
    os::SVersionRecord good;
    ASSERT_EQ(CElfVersionReader::ParseRecord(vecRecord.data(), vecRecord.size(), good), os::OS_OK);
    for (size_t nLen = 0; nLen < vecRecord.size(); ++nLen)
    {
        std::vector<uint8_t> part(vecRecord.begin(), vecRecord.begin() + static_cast<std::ptrdiff_t>(nLen));
        os::SVersionRecord record;
        record.vecTranslations.push_back({1, 2});
        EXPECT_EQ(CElfVersionReader::ParseRecord(part.data(), part.size(), record), os::OS_ERR_GENERAL) << nLen;
        EXPECT_EQ(record.vecTranslations.size(), 1u) << "left unchanged on failure";
    }
    // a string length that runs past the record's own size
    std::vector<uint8_t> bad = vecRecord;
    const size_t nFirstString = 16 + 52 + 4 + 8;
    bad[nFirstString] = 0xFF;
    bad[nFirstString + 1] = 0xFF;
    os::SVersionRecord record;
    EXPECT_EQ(CElfVersionReader::ParseRecord(bad.data(), bad.size(), record), os::OS_ERR_GENERAL);
    // no translation at all
    bad = vecRecord;
    bad[16 + 52] = 0;
    bad[16 + 52 + 1] = 0;
    EXPECT_EQ(CElfVersionReader::ParseRecord(bad.data(), bad.size(), record), os::OS_ERR_GENERAL);
    // a total size larger than the section
    bad = vecRecord;
    bad[8] = 0xFF;
    bad[9] = 0xFF;
    EXPECT_EQ(CElfVersionReader::ParseRecord(bad.data(), bad.size(), record), os::OS_ERR_GENERAL);
}
