#pragma once
#include <sys/syscall.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include <gtest/gtest.h>

/// A fresh folder under the test temp folder, removed with the object.
class CTempDir
{
public:
    CTempDir()
    {
        std::string strTemplate = ::testing::TempDir() + "tc-trace-XXXXXX";
        if (char* pszDir = ::mkdtemp(strTemplate.data()))
            m_path = pszDir;
    }
    ~CTempDir()
    {
        std::error_code ec;
        if (!m_path.empty())
            std::filesystem::remove_all(m_path, ec);
    }
    CTempDir(const CTempDir&) = delete;
    CTempDir& operator=(const CTempDir&) = delete;
    std::string File(const std::string& strName) const { return (m_path / strName).string(); }
    bool Valid() const { return !m_path.empty(); }

private:
    std::filesystem::path m_path;
};

inline std::string ReadFile(const std::string& strPath)
{
    std::ifstream in(strPath, std::ios::binary);
    std::ostringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

inline std::string Hex(unsigned long nValue)
{
    char sz[32];
    std::snprintf(sz, sizeof sz, "0x%lX", nValue);
    return sz;
}

inline std::string PidHex() { return Hex(static_cast<unsigned long>(::getpid())); }
inline std::string TidHex() { return Hex(static_cast<unsigned long>(::gettid())); }
