#include "ElfVersionReader.h"

#include <cerrno>
#include <climits>
#include <cstring>

#include <dlfcn.h>
#include <fcntl.h>
#include <link.h>
#include <sys/stat.h>
#include <unistd.h>

#include "OsCodes.h"

namespace os
{
namespace
{
/// Random access to the bytes of a file or of a memory image, bounds-checked.
class CByteSource
{
public:
    virtual ~CByteSource() = default;
    virtual uint64_t Size() const = 0;
    /// Reads exactly nLen bytes at nOffset; false when any of them lies outside.
    virtual bool Read(uint64_t nOffset, void* pOut, size_t nLen) const = 0;

protected:
    bool InRange(uint64_t nOffset, size_t nLen) const
    {
        return nOffset <= Size() && nLen <= Size() - nOffset;
    }
};

class CMemorySource : public CByteSource
{
public:
    CMemorySource(const uint8_t* pData, size_t nSize) : m_pData(pData), m_nSize(nSize) {}
    uint64_t Size() const override { return m_nSize; }
    bool Read(uint64_t nOffset, void* pOut, size_t nLen) const override
    {
        if (!InRange(nOffset, nLen))
            return false;
        if (nLen)
            std::memcpy(pOut, m_pData + nOffset, nLen);
        return true;
    }

private:
    const uint8_t* m_pData;
    size_t m_nSize;
};

class CFileSource : public CByteSource
{
public:
    CFileSource(int nFd, uint64_t nSize) : m_nFd(nFd), m_nSize(nSize) {}
    uint64_t Size() const override { return m_nSize; }
    bool Read(uint64_t nOffset, void* pOut, size_t nLen) const override
    {
        if (!InRange(nOffset, nLen) || nOffset > static_cast<uint64_t>(LLONG_MAX))
            return false;
        auto* p = static_cast<uint8_t*>(pOut);
        size_t nDone = 0;
        while (nDone < nLen)
        {
            ssize_t n = ::pread(m_nFd, p + nDone, nLen - nDone, static_cast<off_t>(nOffset + nDone));
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                return false;
            nDone += static_cast<size_t>(n);
        }
        return true;
    }

private:
    int m_nFd;
    uint64_t m_nSize;
};

uint16_t Le16(const uint8_t* p)
{
    return static_cast<uint16_t>(p[0] | p[1] << 8);
}
uint32_t Le32(const uint8_t* p)
{
    return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 | static_cast<uint32_t>(p[2]) << 16 |
           static_cast<uint32_t>(p[3]) << 24;
}
uint64_t Le64(const uint8_t* p)
{
    return static_cast<uint64_t>(Le32(p)) | static_cast<uint64_t>(Le32(p + 4)) << 32;
}

struct SSectionHeader
{
    uint32_t nName = 0;
    uint32_t nType = 0;
    uint64_t nOffset = 0;
    uint64_t nSize = 0;
    uint32_t nLink = 0;
};

constexpr uint32_t SHT_NOBITS_TYPE = 8;
constexpr uint16_t SHN_XINDEX_VALUE = 0xFFFF;

bool ReadSectionHeader(const CByteSource& src, bool b64, uint64_t nOffset, SSectionHeader& sh)
{
    uint8_t aBuf[64];
    const size_t nLen = b64 ? 64 : 40;
    if (!src.Read(nOffset, aBuf, nLen))
        return false;
    sh.nName = Le32(aBuf);
    sh.nType = Le32(aBuf + 4);
    if (b64)
    {
        sh.nOffset = Le64(aBuf + 24);
        sh.nSize = Le64(aBuf + 32);
        sh.nLink = Le32(aBuf + 40);
    }
    else
    {
        sh.nOffset = Le32(aBuf + 16);
        sh.nSize = Le32(aBuf + 20);
        sh.nLink = Le32(aBuf + 24);
    }
    return true;
}

int FindSection(const CByteSource& src, const std::string& strSection, std::vector<uint8_t>& vecData)
{
    uint8_t aHeader[64];
    if (!src.Read(0, aHeader, 52))
        return OS_ERR_NOT_FOUND;
    if (std::memcmp(aHeader, "\x7f" "ELF", 4) != 0 || aHeader[5] != 1 /* little endian */)
        return OS_ERR_NOT_FOUND;
    const bool b64 = (aHeader[4] == 2);
    if (!b64 && aHeader[4] != 1)
        return OS_ERR_NOT_FOUND;
    if (b64 && !src.Read(0, aHeader, 64))
        return OS_ERR_NOT_FOUND;

    const uint64_t nShOff = b64 ? Le64(aHeader + 0x28) : Le32(aHeader + 0x20);
    const uint16_t nShEntSize = Le16(aHeader + (b64 ? 0x3A : 0x2E));
    uint64_t nShNum = Le16(aHeader + (b64 ? 0x3C : 0x30));
    uint32_t nShStrNdx = Le16(aHeader + (b64 ? 0x3E : 0x32));
    if (nShOff == 0 || nShEntSize < (b64 ? 64 : 40))
        return OS_ERR_NOT_FOUND;

    // Many sections: the real count and string table index live in section 0.
    if (nShNum == 0 || nShStrNdx == SHN_XINDEX_VALUE)
    {
        SSectionHeader first;
        if (!ReadSectionHeader(src, b64, nShOff, first))
            return OS_ERR_NOT_FOUND;
        if (nShNum == 0)
            nShNum = first.nSize;
        if (nShStrNdx == SHN_XINDEX_VALUE)
            nShStrNdx = first.nLink;
    }
    if (nShNum == 0 || nShNum > CElfVersionReader::kMaxSections || nShStrNdx >= nShNum)
        return OS_ERR_NOT_FOUND;
    // the whole table must lie inside the file
    if (nShOff > src.Size() || nShNum > (src.Size() - nShOff) / nShEntSize)
        return OS_ERR_NOT_FOUND;

    SSectionHeader strtab;
    if (!ReadSectionHeader(src, b64, nShOff + static_cast<uint64_t>(nShStrNdx) * nShEntSize, strtab) ||
        strtab.nType == SHT_NOBITS_TYPE || strtab.nOffset > src.Size() || strtab.nSize > src.Size() - strtab.nOffset)
        return OS_ERR_NOT_FOUND;

    std::vector<char> vecName(strSection.size() + 1);
    for (uint64_t i = 0; i < nShNum; ++i)
    {
        SSectionHeader sh;
        if (!ReadSectionHeader(src, b64, nShOff + i * nShEntSize, sh))
            return OS_ERR_NOT_FOUND;
        // the name plus its terminating zero must lie inside the string table
        if (sh.nName >= strtab.nSize || vecName.size() > strtab.nSize - sh.nName)
            continue;
        if (!src.Read(strtab.nOffset + sh.nName, vecName.data(), vecName.size()))
            continue;
        if (vecName.back() != '\0' || std::memcmp(vecName.data(), strSection.data(), strSection.size()) != 0)
            continue;
        if (sh.nType == SHT_NOBITS_TYPE || sh.nSize > CElfVersionReader::kMaxSectionBytes ||
            sh.nOffset > src.Size() || sh.nSize > src.Size() - sh.nOffset)
            return OS_ERR_NOT_FOUND;
        vecData.assign(static_cast<size_t>(sh.nSize), 0);
        if (!src.Read(sh.nOffset, vecData.data(), vecData.size()))
            return OS_ERR_NOT_FOUND;
        return OS_OK;
    }
    return OS_ERR_NOT_FOUND;
}
} // namespace

int CElfVersionReader::ReadSectionFromMemory(const uint8_t* pImage, size_t nSize, const std::string& strSection,
                                             std::vector<uint8_t>& vecData)
{
    if (pImage == nullptr)
        return OS_ERR_NOT_FOUND;
    CMemorySource src(pImage, nSize);
    return FindSection(src, strSection, vecData);
}

int CElfVersionReader::ReadSection(const std::string& strPath, const std::string& strSection,
                                   std::vector<uint8_t>& vecData)
{
    int nFd = ::open(strPath.c_str(), O_RDONLY | O_CLOEXEC);
    if (nFd < 0)
        return (errno == EACCES || errno == EPERM) ? OS_ERR_ACCESS : OS_ERR_NOT_FOUND;
    struct stat st{};
    int nResult = OS_ERR_NOT_FOUND;
    if (::fstat(nFd, &st) == 0 && S_ISREG(st.st_mode))
    {
        CFileSource src(nFd, static_cast<uint64_t>(st.st_size));
        nResult = FindSection(src, strSection, vecData);
    }
    ::close(nFd);
    return nResult;
}

int CElfVersionReader::ParseRecord(const uint8_t* pData, size_t nSize, SVersionRecord& record)
{
    if (pData == nullptr || nSize < 16 || std::memcmp(pData, "TCVR", 4) != 0 || Le16(pData + 4) != 1)
        return OS_ERR_GENERAL;
    const size_t nHeader = Le16(pData + 6);
    const size_t nTotal = Le32(pData + 8);
    if (nHeader < 16 || nTotal > nSize || nTotal < nHeader)
        return OS_ERR_GENERAL;
    // from here on only the record's own bytes count
    size_t nPos = nHeader;
    auto have = [&](size_t nLen) { return nPos <= nTotal && nLen <= nTotal - nPos; };

    SVersionRecord result;
    if (!have(sizeof(SFixedFileInfo) + 4))
        return OS_ERR_GENERAL;
    uint32_t* pFields = &result.fixed.nSignature;
    uint32_t aWords[13];
    for (size_t k = 0; k < 13; ++k)
        aWords[k] = Le32(pData + nPos + 4 * k);
    std::memcpy(pFields, aWords, sizeof(aWords));
    nPos += sizeof(SFixedFileInfo);
    if (result.fixed.nSignature != VERSION_FIXED_SIGNATURE)
        return OS_ERR_GENERAL;

    const uint16_t nTranslations = Le16(pData + nPos);
    nPos += 4;
    if (nTranslations == 0 || nTranslations > kMaxTranslations || !have(8u * nTranslations))
        return OS_ERR_GENERAL;
    std::vector<uint16_t> vecCounts;
    for (uint16_t t = 0; t < nTranslations; ++t)
    {
        SVersionTranslation tr;
        tr.nLanguage = Le16(pData + nPos);
        tr.nCodePage = Le16(pData + nPos + 2);
        uint16_t nCount = Le16(pData + nPos + 4);
        if (nCount > kMaxStrings)
            return OS_ERR_GENERAL;
        result.vecTranslations.push_back(tr);
        vecCounts.push_back(nCount);
        nPos += 8;
    }
    auto readText = [&](std::string& strOut) {
        if (!have(2))
            return false;
        size_t nLen = Le16(pData + nPos);
        nPos += 2;
        if (!have(nLen))
            return false;
        strOut.assign(reinterpret_cast<const char*>(pData + nPos), nLen);
        nPos += nLen;
        return strOut.find('\0') == std::string::npos;
    };
    for (uint16_t t = 0; t < nTranslations; ++t)
    {
        SVersionStrings table;
        table.translation = result.vecTranslations[t];
        for (uint16_t s = 0; s < vecCounts[t]; ++s)
        {
            std::string strName, strValue;
            if (!readText(strName) || !readText(strValue) || strName.empty())
                return OS_ERR_GENERAL;
            table.vecValues.emplace_back(std::move(strName), std::move(strValue));
        }
        result.vecStrings.push_back(std::move(table));
    }
    record = std::move(result);
    return OS_OK;
}

int CElfVersionReader::ReadFromFile(const std::string& strPath, SVersionRecord& record)
{
    std::vector<uint8_t> vecSection;
    int nResult = ReadSection(strPath, kSectionName, vecSection);
    if (nResult != OS_OK)
        return nResult;
    return ParseRecord(vecSection.data(), vecSection.size(), record);
}

std::string CElfVersionReader::ModuleFileName(void* hModule)
{
    if (hModule == nullptr)
    {
        char szPath[PATH_MAX + 1];
        ssize_t n = ::readlink("/proc/self/exe", szPath, PATH_MAX);
        if (n <= 0)
            return {};
        return std::string(szPath, static_cast<size_t>(n));
    }
    struct link_map* pMap = nullptr;
    if (::dlinfo(hModule, RTLD_DI_LINKMAP, &pMap) != 0 || pMap == nullptr || pMap->l_name == nullptr)
        return {};
    return pMap->l_name;
}
} // namespace os
