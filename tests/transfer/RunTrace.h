#pragma once
// Test helpers shared by the maintenance run tests: one line per worker message, fake
// session settings, temporary files.
#include <atomic>
#include <cstdio>
#include <fstream>
#include <string>
#include <unistd.h>
#include <vector>

#include <gtest/gtest.h>

#include "MessageTrace.h"
#include "SessionSettings.h"

class CTestSessionSettings final : public CSessionSettings
{
public:
    uint32_t ProtocolId() const override { return m_nProtocolId; }
    uint32_t MaxDataPacketSize() const override { return m_nMaxData; }
    std::atomic<uint32_t> m_nProtocolId{0};
    std::atomic<uint32_t> m_nMaxData{0};
};

/// A file with the given bytes in the test's temporary folder, removed at the end.
class CTestFile
{
public:
    explicit CTestFile(const std::vector<uint8_t>& vec, const std::string& strSuffix = ".bin")
    {
        static std::atomic<int> s_nCounter{0};
        m_strPath = testing::TempDir() + "tc_run_" + std::to_string(::getpid()) + "_" +
                    std::to_string(s_nCounter++) + strSuffix;
        std::ofstream out(m_strPath, std::ios::binary);
        out.write(reinterpret_cast<const char*>(vec.data()), static_cast<std::streamsize>(vec.size()));
    }
    ~CTestFile() { std::remove(m_strPath.c_str()); }
    CTestFile(const CTestFile&) = delete;
    CTestFile& operator=(const CTestFile&) = delete;
    const std::string& Path() const { return m_strPath; }

private:
    std::string m_strPath;
};

inline std::vector<uint8_t> PatternBytes(size_t n)
{
    std::vector<uint8_t> vec(n);
    for (size_t i = 0; i < n; ++i)
        vec[i] = static_cast<uint8_t>((i * 7 + 3) & 0xFF);
    return vec;
}
