#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <thread>

#include <sys/stat.h>

#include "RegDocument.h"
#include "RegFileStore.h"

namespace fs = std::filesystem;
using os::ERegRoot;

namespace
{
const char* const kKey = "SOFTWARE\\Vantor\\SICCT-Config";

std::string ReadAll(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteAll(const fs::path& path, const std::string& strData)
{
    fs::create_directories(path.parent_path());
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << strData;
}

std::string Utf16File(const std::string& strUtf8)
{
    std::vector<uint8_t> vec = os::CRegDocument::Utf8ToUtf16Le(strUtf8);
    return std::string("\xFF\xFE", 2) + std::string(vec.begin(), vec.end());
}

class RegFileStoreTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        char szTemplate[] = "/tmp/tc-regstore-XXXXXX";
        ASSERT_NE(::mkdtemp(szTemplate), nullptr);
        m_root = szTemplate;
        m_userFile = m_root / "user" / "user.reg";
        m_machineFile = m_root / "machine" / "system.reg";
        m_pStore = std::make_unique<os::CRegFileStore>(m_userFile.string(), m_machineFile.string());
    }
    void TearDown() override
    {
        std::error_code ec;
        fs::remove_all(m_root, ec);
    }

    long Query(ERegRoot eRoot, const std::string& strName, uint32_t& nType, std::vector<uint8_t>& vecData,
               uint32_t nBuffer = 4096)
    {
        vecData.assign(nBuffer, 0);
        uint32_t nSize = nBuffer;
        long n = m_pStore->QueryValue(eRoot, kKey, strName, nType, vecData.data(), nSize);
        vecData.resize(n == os::REG_OK ? nSize : 0);
        return n;
    }
    long SetDword(const std::string& strName, uint32_t nValue)
    {
        const uint8_t a[4] = {static_cast<uint8_t>(nValue), static_cast<uint8_t>(nValue >> 8),
                              static_cast<uint8_t>(nValue >> 16), static_cast<uint8_t>(nValue >> 24)};
        return m_pStore->SetValue(ERegRoot::CurrentUser, kKey, strName, os::REG_TYPE_DWORD, a, 4);
    }
    uint32_t GetDword(const std::string& strName)
    {
        uint32_t nType = 0;
        std::vector<uint8_t> vec;
        if (Query(ERegRoot::CurrentUser, strName, nType, vec) != os::REG_OK || nType != os::REG_TYPE_DWORD ||
            vec.size() != 4)
            return 0xFFFFFFFF;
        return vec[0] | vec[1] << 8 | vec[2] << 16 | static_cast<uint32_t>(vec[3]) << 24;
    }

    fs::path m_root, m_userFile, m_machineFile;
    std::unique_ptr<os::CRegFileStore> m_pStore;
};
} // namespace

TEST_F(RegFileStoreTest, MissingFilesAndValuesAreNotFound)
{
    uint32_t nType = 0;
    std::vector<uint8_t> vec;
    EXPECT_EQ(Query(ERegRoot::CurrentUser, "Port", nType, vec), os::REG_ERR_FILE_NOT_FOUND);
    EXPECT_EQ(Query(ERegRoot::LocalMachine, "Port", nType, vec), os::REG_ERR_FILE_NOT_FOUND);
    ASSERT_EQ(SetDword("Port", 1), os::REG_OK);
    EXPECT_EQ(Query(ERegRoot::CurrentUser, "Other", nType, vec), os::REG_ERR_FILE_NOT_FOUND);
    EXPECT_FALSE(fs::exists(m_machineFile)) << "a user write never touches the machine file";
}

TEST_F(RegFileStoreTest, WindowsExportInUtf16WithCrlfIsReadAndKeptOnRewrite)
{
    // as the registry editor exports it: UTF-16LE with BOM, CRLF, version 5 header,
    // hex(2) text in UTF-16LE wrapped over two lines
    const std::string strExport =
        "Windows Registry Editor Version 5.00\r\n"
        "\r\n"
        "[HKEY_CURRENT_USER\\SOFTWARE\\Vantor]\r\n"
        "\r\n"
        "[HKEY_CURRENT_USER\\SOFTWARE\\Vantor\\SICCT-Config]\r\n"
        "\"Port\"=dword:000001bb\r\n"
        "\"CtApi\"=\"C:\\\\Programme\\\\Vantor\\\\ctapi \\\"neu\\\".dll\"\r\n"
        "\"Show_Diagnostics_Log_on_init\"=dword:00000001\r\n"
        "\"LastCertFileLocation\"=hex(2):43,00,3a,00,5c,00,25,00,55,00,53,00,45,00,52,00,\\\r\n"
        "  25,00,5c,00,fc,00,00,00\r\n"
        "\"Blob\"=hex:01,02,03\r\n"
        "\r\n";
    WriteAll(m_userFile, Utf16File(strExport));

    uint32_t nType = 0;
    std::vector<uint8_t> vec;
    EXPECT_EQ(GetDword("Port"), 443u);
    EXPECT_EQ(GetDword("show_diagnostics_log_on_init"), 1u);
    ASSERT_EQ(Query(ERegRoot::CurrentUser, "CtApi", nType, vec), os::REG_OK);
    EXPECT_EQ(nType, os::REG_TYPE_SZ);
    const std::string strPath = "C:\\Programme\\Vantor\\ctapi \"neu\".dll";
    EXPECT_EQ(std::string(vec.begin(), vec.end()), strPath + std::string(1, '\0'));
    ASSERT_EQ(Query(ERegRoot::CurrentUser, "LastCertFileLocation", nType, vec), os::REG_OK);
    EXPECT_EQ(nType, os::REG_TYPE_EXPAND_SZ);
    EXPECT_EQ(std::string(vec.begin(), vec.end()), std::string("C:\\%USER%\\\xC3\xBC") + std::string(1, '\0'));

    ASSERT_EQ(SetDword("Port", 8443), os::REG_OK);
    const std::string strAfter = ReadAll(m_userFile);
    ASSERT_GE(strAfter.size(), 2u);
    EXPECT_EQ(strAfter.substr(0, 2), std::string("\xFF\xFE", 2)) << "still UTF-16LE with BOM";
    std::string strExpected = strExport;
    strExpected.replace(strExpected.find("dword:000001bb"), 14, "dword:000020fb");
    EXPECT_EQ(strAfter, Utf16File(strExpected)) << "only the one value changed";
    EXPECT_EQ(GetDword("Port"), 8443u);
    ASSERT_EQ(Query(ERegRoot::CurrentUser, "Blob", nType, vec), os::REG_OK);
    EXPECT_EQ(vec, (std::vector<uint8_t>{1, 2, 3}));
}

TEST_F(RegFileStoreTest, ValueOfAnotherTypeIsReportedWithItsType)
{
    WriteAll(m_userFile, "REGEDIT4\n[HKEY_CURRENT_USER\\SOFTWARE\\Vantor\\SICCT-Config]\n\"Port\"=\"443\"\n");
    uint32_t nType = 0;
    std::vector<uint8_t> vec;
    ASSERT_EQ(Query(ERegRoot::CurrentUser, "Port", nType, vec), os::REG_OK);
    EXPECT_EQ(nType, os::REG_TYPE_SZ);
    EXPECT_EQ(vec.size(), 4u);
    // too small a buffer: the needed size comes back
    std::vector<uint8_t> vecSmall(2);
    uint32_t nSize = 2;
    EXPECT_EQ(m_pStore->QueryValue(ERegRoot::CurrentUser, kKey, "Port", nType, vecSmall.data(), nSize),
              os::REG_ERR_MORE_DATA);
    EXPECT_EQ(nSize, 4u);
}

TEST_F(RegFileStoreTest, MalformedFileIsReadAsFarAsValidAndAWriteLosesNothing)
{
    const std::string strBroken = std::string("REGEDIT4\n"
                                              "[HKEY_CURRENT_USER\\SOFTWARE\\Vantor\\SICCT-Config]\n"
                                              "\"Protocol-ID\"=dword:00000030\n"
                                              "\"Port\"=dword:12345678901\n") +
                                  std::string("\x00\x01\xFE binary junk\n", 16) +
                                  "\"CtApi\"=\"/usr/lib/libctapi.so\"\n"
                                  "\"Half\"=hex:01,02,\\\n";  // file ends inside a continued value
    WriteAll(m_userFile, strBroken);
    EXPECT_EQ(GetDword("Protocol-ID"), 0x30u);
    EXPECT_EQ(GetDword("Port"), 0xFFFFFFFFu) << "the malformed value counts as missing";
    uint32_t nType = 0;
    std::vector<uint8_t> vec;
    EXPECT_EQ(Query(ERegRoot::CurrentUser, "CtApi", nType, vec), os::REG_OK);

    ASSERT_EQ(SetDword("MaxDataPacketSize", 512), os::REG_OK);
    const std::string strAfter = ReadAll(m_userFile);
    // every original line is still there, in order
    size_t nPos = 0;
    for (const std::string& strLine : {std::string("\"Protocol-ID\"=dword:00000030"),
                                       std::string("\"Port\"=dword:12345678901"),
                                       std::string("\x00\x01\xFE binary junk", 15),
                                       std::string("\"CtApi\"=\"/usr/lib/libctapi.so\""),
                                       std::string("\"Half\"=hex:01,02,\\")})
    {
        size_t nFound = strAfter.find(strLine, nPos);
        ASSERT_NE(nFound, std::string::npos) << "lost: " << strLine;
        nPos = nFound + strLine.size();
    }
    EXPECT_EQ(GetDword("MaxDataPacketSize"), 512u);
    EXPECT_EQ(GetDword("Protocol-ID"), 0x30u);
}

TEST_F(RegFileStoreTest, UserFileIsPrivateAndWrittenWithoutLeftovers)
{
    ASSERT_EQ(SetDword("Port", 443), os::REG_OK);
    struct stat st{};
    ASSERT_EQ(::stat(m_userFile.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0600u);
    ASSERT_EQ(::stat(m_userFile.parent_path().c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 077, 0u) << "a folder made for the user file is private too";

    // an existing file with a looser mode is tightened on the next write
    ASSERT_EQ(::chmod(m_userFile.c_str(), 0644), 0);
    ASSERT_EQ(SetDword("Port", 444), os::REG_OK);
    ASSERT_EQ(::stat(m_userFile.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0600u);

    // no temporary file stays behind
    int nFiles = 0;
    for (const auto& entry : fs::directory_iterator(m_userFile.parent_path()))
    {
        (void)entry;
        ++nFiles;
    }
    EXPECT_EQ(nFiles, 1);
    EXPECT_EQ(ReadAll(m_userFile).rfind("REGEDIT4\n", 0), 0u) << "a new file gets a header";
}

TEST_F(RegFileStoreTest, UnreadableFileIsNeverReplaced)
{
    if (::geteuid() == 0)
        GTEST_SKIP() << "root reads every file";
    WriteAll(m_userFile, "REGEDIT4\n[HKEY_CURRENT_USER\\SOFTWARE\\Vantor\\SICCT-Config]\n\"A\"=dword:00000001\n");
    ASSERT_EQ(::chmod(m_userFile.c_str(), 0200), 0);
    EXPECT_EQ(SetDword("B", 2), os::REG_ERR_ACCESS_DENIED);
    ASSERT_EQ(::chmod(m_userFile.c_str(), 0600), 0);
    EXPECT_EQ(GetDword("A"), 1u);
}

TEST_F(RegFileStoreTest, OversizedFileIsRefusedNotTruncated)
{
    // a file beyond the read limit cannot be parsed whole, so it must not be rewritten
    std::string strHuge = "REGEDIT4\n[HKEY_CURRENT_USER\\SOFTWARE\\Vantor\\SICCT-Config]\n\"A\"=dword:00000001\n";
    strHuge += "; " + std::string(os::CRegFileStore::kMaxFileBytes, 'x') + "\n";
    WriteAll(m_userFile, strHuge);
    uint32_t nType = 0;
    std::vector<uint8_t> vec;
    EXPECT_EQ(Query(ERegRoot::CurrentUser, "A", nType, vec), os::REG_ERR_INVALID_DATA);
    EXPECT_NE(SetDword("B", 2), os::REG_OK);
    EXPECT_EQ(fs::file_size(m_userFile), strHuge.size());
}

TEST_F(RegFileStoreTest, TextsRoundTripThroughTheFileWithTheirExactSize)
{
    const std::string strWith = std::string(255, 'x') + std::string(1, '\0');  // 256 bytes, terminated
    const std::string strWithout(256, 'y');                                    // 256 bytes, no terminator
    ASSERT_EQ(m_pStore->SetValue(ERegRoot::CurrentUser, kKey, "A", os::REG_TYPE_SZ,
                                 reinterpret_cast<const uint8_t*>(strWith.data()), 256),
              os::REG_OK);
    ASSERT_EQ(m_pStore->SetValue(ERegRoot::CurrentUser, kKey, "B", os::REG_TYPE_SZ,
                                 reinterpret_cast<const uint8_t*>(strWithout.data()), 256),
              os::REG_OK);
    ASSERT_EQ(m_pStore->SetValue(ERegRoot::CurrentUser, kKey, "Empty", os::REG_TYPE_SZ, nullptr, 0), os::REG_OK);
    uint32_t nType = 0;
    std::vector<uint8_t> vec;
    ASSERT_EQ(Query(ERegRoot::CurrentUser, "A", nType, vec), os::REG_OK);
    EXPECT_EQ(std::string(vec.begin(), vec.end()), strWith);
    ASSERT_EQ(Query(ERegRoot::CurrentUser, "B", nType, vec), os::REG_OK);
    EXPECT_EQ(std::string(vec.begin(), vec.end()), strWithout);
    ASSERT_EQ(Query(ERegRoot::CurrentUser, "Empty", nType, vec), os::REG_OK);
    EXPECT_EQ(nType, os::REG_TYPE_SZ);
    EXPECT_TRUE(vec.empty());
}

TEST_F(RegFileStoreTest, MachineRootIsItsOwnFile)
{
    WriteAll(m_machineFile, "REGEDIT4\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Vantor\\SICCT-Config]\n"
                            "\"SetAdminName\"=dword:00000001\n"
                            "[HKEY_CURRENT_USER\\SOFTWARE\\Vantor\\SICCT-Config]\n\"Port\"=dword:00000001\n");
    uint32_t nType = 0;
    std::vector<uint8_t> vec;
    EXPECT_EQ(Query(ERegRoot::LocalMachine, "SetAdminName", nType, vec), os::REG_OK);
    EXPECT_EQ(Query(ERegRoot::CurrentUser, "SetAdminName", nType, vec), os::REG_ERR_FILE_NOT_FOUND);
    // a user section inside the machine file does not answer for the machine root
    EXPECT_EQ(Query(ERegRoot::LocalMachine, "Port", nType, vec), os::REG_ERR_FILE_NOT_FOUND);
}

TEST_F(RegFileStoreTest, ConcurrentWritersLoseNoValue)
{
    constexpr int kPerThread = 20;
    auto writer = [this](int nThread) {
        os::CRegFileStore store(m_userFile.string(), m_machineFile.string());
        for (int i = 0; i < kPerThread; ++i)
        {
            uint8_t a[4] = {static_cast<uint8_t>(i), 0, 0, 0};
            ASSERT_EQ(store.SetValue(ERegRoot::CurrentUser, kKey, "V" + std::to_string(nThread) + "_" + std::to_string(i),
                                     os::REG_TYPE_DWORD, a, 4),
                      os::REG_OK);
        }
    };
    std::thread t1(writer, 1), t2(writer, 2);
    t1.join();
    t2.join();
    for (int nThread : {1, 2})
        for (int i = 0; i < kPerThread; ++i)
            EXPECT_EQ(GetDword("V" + std::to_string(nThread) + "_" + std::to_string(i)), static_cast<uint32_t>(i));
}

TEST(RegFileStorePaths, EnvironmentRedirectsBothFiles)
{
    const char* pszOld = std::getenv("TC_SETTINGS_ROOT");
    std::string strOld = pszOld ? pszOld : "";
    ::setenv("TC_SETTINGS_ROOT", "/tmp/tc-root", 1);
    os::CRegFileStore store;
    EXPECT_EQ(store.FilePath(ERegRoot::CurrentUser), "/tmp/tc-root/user/user.reg");
    EXPECT_EQ(store.FilePath(ERegRoot::LocalMachine), "/tmp/tc-root/machine/system.reg");
    ::unsetenv("TC_SETTINGS_ROOT");
    const char* pszXdg = std::getenv("XDG_CONFIG_HOME");
    std::string strXdg = pszXdg ? pszXdg : "";
    ::setenv("XDG_CONFIG_HOME", "/tmp/tc-xdg", 1);
    os::CRegFileStore plain;
    EXPECT_EQ(plain.FilePath(ERegRoot::CurrentUser), "/tmp/tc-xdg/terminal-console/user.reg");
    EXPECT_EQ(plain.FilePath(ERegRoot::LocalMachine), "/etc/terminal-console/system.reg");
    if (pszXdg)
        ::setenv("XDG_CONFIG_HOME", strXdg.c_str(), 1);
    else
        ::unsetenv("XDG_CONFIG_HOME");
    if (pszOld)
        ::setenv("TC_SETTINGS_ROOT", strOld.c_str(), 1);
}
