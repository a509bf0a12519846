#pragma once
#include <cstdint>
#include <cstring>
#include <sys/mman.h>
#include <unistd.h>
#include <vector>

/// Test helper: places bytes at the very end of a readable page that is followed by an
/// inaccessible page, so that reading even one byte past the end crashes the test.
class CGuardedBuffer
{
public:
    explicit CGuardedBuffer(const std::vector<uint8_t>& vecData)
    {
        m_nPage = static_cast<size_t>(::sysconf(_SC_PAGESIZE));
        m_nPages = (vecData.size() + m_nPage - 1) / m_nPage + 1;
        void* p = ::mmap(nullptr, m_nPages * m_nPage, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        m_pBase = static_cast<uint8_t*>(p == MAP_FAILED ? nullptr : p);
        if (m_pBase == nullptr)
            return;
        ::mprotect(m_pBase + (m_nPages - 1) * m_nPage, m_nPage, PROT_NONE);
        m_pData = m_pBase + (m_nPages - 1) * m_nPage - vecData.size();
        if (!vecData.empty())
            std::memcpy(m_pData, vecData.data(), vecData.size());
        m_nSize = vecData.size();
    }
    ~CGuardedBuffer()
    {
        if (m_pBase != nullptr)
            ::munmap(m_pBase, m_nPages * m_nPage);
    }
    CGuardedBuffer(const CGuardedBuffer&) = delete;
    CGuardedBuffer& operator=(const CGuardedBuffer&) = delete;

    const uint8_t* Data() const { return m_pData; }
    size_t Size() const { return m_nSize; }
    bool Valid() const { return m_pBase != nullptr; }

private:
    uint8_t* m_pBase = nullptr;
    uint8_t* m_pData = nullptr;
    size_t m_nPage = 0;
    size_t m_nPages = 0;
    size_t m_nSize = 0;
};
