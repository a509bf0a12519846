#pragma once
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

/// A fresh temporary folder, removed with its contents at the end of the test.
class CTempDir
{
public:
    CTempDir()
    {
        std::string strTemplate = (std::filesystem::temp_directory_path() / "tc-mw-XXXXXX").string();
        if (::mkdtemp(strTemplate.data()) != nullptr)
            m_path = strTemplate;
    }
    ~CTempDir()
    {
        std::error_code ec;
        if (!m_path.empty())
            std::filesystem::remove_all(m_path, ec);
    }
    std::string File(const std::string& strName) const { return (m_path / strName).string(); }
    std::string Write(const std::string& strName, const std::string& strText) const
    {
        const std::filesystem::path path = m_path / strName;
        std::filesystem::create_directories(path.parent_path());
        std::ofstream(path) << strText;
        return path.string();
    }
    static std::string Read(const std::string& strPath)
    {
        std::ifstream in(strPath);
        return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    std::string Path() const { return m_path.string(); }

private:
    std::filesystem::path m_path;
};
