#include "RegFileStore.h"

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include "RegDocument.h"

namespace os
{
namespace
{
const char* RootName(ERegRoot eRoot)
{
    return eRoot == ERegRoot::CurrentUser ? "HKEY_CURRENT_USER" : "HKEY_LOCAL_MACHINE";
}

std::string DirName(const std::string& strPath)
{
    size_t nSlash = strPath.find_last_of('/');
    if (nSlash == std::string::npos)
        return ".";
    return nSlash == 0 ? "/" : strPath.substr(0, nSlash);
}

long ErrnoToReg(int nErr, long nOther)
{
    if (nErr == ENOENT || nErr == ENOTDIR)
        return REG_ERR_FILE_NOT_FOUND;
    if (nErr == EACCES || nErr == EPERM || nErr == EROFS)
        return REG_ERR_ACCESS_DENIED;
    return nOther;
}

/// A file descriptor closed on scope exit.
class CFd
{
public:
    explicit CFd(int nFd = -1) : m_nFd(nFd) {}
    ~CFd()
    {
        if (m_nFd >= 0)
            ::close(m_nFd);
    }
    CFd(const CFd&) = delete;
    CFd& operator=(const CFd&) = delete;
    int Get() const { return m_nFd; }
    int Release()
    {
        int nFd = m_nFd;
        m_nFd = -1;
        return nFd;
    }

private:
    int m_nFd;
};

/// How the file was encoded, so that a rewrite gives it back the same way.
struct SFileForm
{
    bool bUtf16 = false;
    bool bUtf8Bom = false;
};

// Reads the whole file; REG_OK, or a registry error (missing file: REG_ERR_FILE_NOT_FOUND).
long ReadFile(const std::string& strPath, std::string& strBytes, mode_t* pMode)
{
    CFd fd(::open(strPath.c_str(), O_RDONLY | O_CLOEXEC));
    if (fd.Get() < 0)
        return ErrnoToReg(errno, REG_ERR_FILE_NOT_FOUND);
    struct stat st{};
    if (::fstat(fd.Get(), &st) != 0 || !S_ISREG(st.st_mode))
        return REG_ERR_FILE_NOT_FOUND;
    if (static_cast<uint64_t>(st.st_size) > CRegFileStore::kMaxFileBytes)
        return REG_ERR_INVALID_DATA;
    if (pMode)
        *pMode = st.st_mode & 07777;
    strBytes.clear();
    char szBuf[65536];
    while (true)
    {
        ssize_t nRead = ::read(fd.Get(), szBuf, sizeof(szBuf));
        if (nRead < 0)
        {
            if (errno == EINTR)
                continue;
            return ErrnoToReg(errno, REG_ERR_ACCESS_DENIED);
        }
        if (nRead == 0)
            break;
        strBytes.append(szBuf, static_cast<size_t>(nRead));
        if (strBytes.size() > CRegFileStore::kMaxFileBytes)
            return REG_ERR_INVALID_DATA;
    }
    return REG_OK;
}

std::string Decode(const std::string& strBytes, SFileForm& form)
{
    if (strBytes.size() >= 2 && static_cast<uint8_t>(strBytes[0]) == 0xFF && static_cast<uint8_t>(strBytes[1]) == 0xFE)
    {
        form.bUtf16 = true;
        return CRegDocument::Utf16LeToUtf8(reinterpret_cast<const uint8_t*>(strBytes.data()) + 2, strBytes.size() - 2);
    }
    if (strBytes.size() >= 3 && strBytes.compare(0, 3, "\xEF\xBB\xBF") == 0)
    {
        form.bUtf8Bom = true;
        return strBytes.substr(3);
    }
    return strBytes;
}

std::string Encode(const std::string& strText, const SFileForm& form)
{
    if (form.bUtf16)
    {
        std::vector<uint8_t> vec = CRegDocument::Utf8ToUtf16Le(strText);
        return std::string("\xFF\xFE", 2) + std::string(vec.begin(), vec.end());
    }
    return form.bUtf8Bom ? "\xEF\xBB\xBF" + strText : strText;
}

bool WriteAll(int nFd, const std::string& strData)
{
    size_t nDone = 0;
    while (nDone < strData.size())
    {
        ssize_t n = ::write(nFd, strData.data() + nDone, strData.size() - nDone);
        if (n < 0)
        {
            if (errno == EINTR)
                continue;
            return false;
        }
        nDone += static_cast<size_t>(n);
    }
    return true;
}

// mkdir -p; the folders created for the user file are private (0700).
bool MakeDirs(const std::string& strDir, mode_t nMode)
{
    struct stat st{};
    if (::stat(strDir.c_str(), &st) == 0)
        return S_ISDIR(st.st_mode);
    std::string strParent = DirName(strDir);
    if (strParent != strDir && !MakeDirs(strParent, nMode))
        return false;
    return ::mkdir(strDir.c_str(), nMode) == 0 || errno == EEXIST;
}

std::string UserConfigHome()
{
    const char* pszXdg = std::getenv("XDG_CONFIG_HOME");
    if (pszXdg && pszXdg[0] == '/')
        return pszXdg;
    const char* pszHome = std::getenv("HOME");
    if (pszHome && pszHome[0])
        return std::string(pszHome) + "/.config";
    struct passwd* pw = ::getpwuid(::getuid());
    if (pw && pw->pw_dir)
        return std::string(pw->pw_dir) + "/.config";
    return "/tmp";
}
} // namespace

CRegFileStore::CRegFileStore()
{
    const char* pszRoot = std::getenv("TC_SETTINGS_ROOT");
    if (pszRoot && pszRoot[0])
    {
        m_strUserFile = std::string(pszRoot) + "/user/user.reg";
        m_strMachineFile = std::string(pszRoot) + "/machine/system.reg";
    }
    else
    {
        m_strUserFile = UserConfigHome() + "/terminal-console/user.reg";
        m_strMachineFile = "/etc/terminal-console/system.reg";
    }
}

CRegFileStore::CRegFileStore(std::string strUserFile, std::string strMachineFile)
    : m_strUserFile(std::move(strUserFile)), m_strMachineFile(std::move(strMachineFile))
{
}

const std::string& CRegFileStore::FilePath(ERegRoot eRoot) const
{
    return eRoot == ERegRoot::CurrentUser ? m_strUserFile : m_strMachineFile;
}

long CRegFileStore::QueryValue(ERegRoot eRoot, const std::string& strKeyPath, const std::string& strName,
                               uint32_t& nType, uint8_t* pData, uint32_t& nSize)
{
    std::string strBytes;
    long nResult = ReadFile(FilePath(eRoot), strBytes, nullptr);
    if (nResult != REG_OK)
        return nResult;
    SFileForm form;
    CRegDocument doc;
    doc.Parse(Decode(strBytes, form));
    CRegDocument::SValue value;
    if (!doc.Find(RootName(eRoot), strKeyPath, strName, value))
        return REG_ERR_FILE_NOT_FOUND;
    if (value.vecData.size() > UINT32_MAX)
        return REG_ERR_INVALID_DATA;
    const uint32_t nStored = static_cast<uint32_t>(value.vecData.size());
    nType = value.nType;
    if (pData == nullptr)
    {
        nSize = nStored;
        return REG_OK;
    }
    if (nStored > nSize)
    {
        nSize = nStored;
        return REG_ERR_MORE_DATA;
    }
    if (nStored)
        std::memcpy(pData, value.vecData.data(), nStored);
    nSize = nStored;
    return REG_OK;
}

long CRegFileStore::SetValue(ERegRoot eRoot, const std::string& strKeyPath, const std::string& strName,
                             uint32_t nType, const uint8_t* pData, uint32_t nSize)
{
    if (pData == nullptr && nSize > 0)
        return REG_ERR_INVALID_PARAMETER;
    const bool bUser = (eRoot == ERegRoot::CurrentUser);
    const std::string& strPath = FilePath(eRoot);
    const std::string strDir = DirName(strPath);
    if (!MakeDirs(strDir, bUser ? 0700 : 0755))
        return ErrnoToReg(errno, REG_ERR_WRITE_FAULT);

    // One writer at a time per folder; the lock goes with the descriptor.
    CFd dirFd(::open(strDir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (dirFd.Get() < 0)
        return ErrnoToReg(errno, REG_ERR_WRITE_FAULT);
    const auto tEnd = std::chrono::steady_clock::now() + std::chrono::milliseconds(kLockWaitMs);
    while (::flock(dirFd.Get(), LOCK_EX | LOCK_NB) != 0)
    {
        if (errno != EWOULDBLOCK && errno != EINTR)
            return REG_ERR_WRITE_FAULT;
        if (std::chrono::steady_clock::now() >= tEnd)
            return REG_ERR_BUSY;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }

    std::string strBytes;
    mode_t nMode = bUser ? 0600 : 0644;
    SFileForm form;
    CRegDocument doc;
    long nRead = ReadFile(strPath, strBytes, bUser ? nullptr : &nMode);
    if (nRead == REG_OK)
        doc.Parse(Decode(strBytes, form));
    else if (nRead != REG_ERR_FILE_NOT_FOUND)
        return nRead;  // never replace a file we could not read: its values would be lost

    doc.Set(RootName(eRoot), strKeyPath, strName, nType,
            std::vector<uint8_t>(pData, pData == nullptr ? pData : pData + nSize));
    const std::string strOut = Encode(doc.Serialize(), form);

    // hidden, in the same folder (so that rename replaces atomically)
    const size_t nSlash = strPath.find_last_of('/');
    std::string strTemp = nSlash == std::string::npos ? "." + strPath + ".XXXXXX"
                                                      : strPath.substr(0, nSlash + 1) + "." + strPath.substr(nSlash + 1) + ".XXXXXX";
    std::vector<char> vecTemplate(strTemp.begin(), strTemp.end());
    vecTemplate.push_back('\0');
    CFd tempFd(::mkostemp(vecTemplate.data(), O_CLOEXEC));
    if (tempFd.Get() < 0)
        return ErrnoToReg(errno, REG_ERR_WRITE_FAULT);
    const std::string strTempPath(vecTemplate.data());
    bool bOk = ::fchmod(tempFd.Get(), nMode) == 0 && WriteAll(tempFd.Get(), strOut) && ::fsync(tempFd.Get()) == 0;
    int nErr = errno;
    if (::close(tempFd.Release()) != 0 && bOk)
    {
        bOk = false;
        nErr = errno;
    }
    if (bOk && ::rename(strTempPath.c_str(), strPath.c_str()) != 0)
    {
        bOk = false;
        nErr = errno;
    }
    if (!bOk)
    {
        ::unlink(strTempPath.c_str());
        return ErrnoToReg(nErr, REG_ERR_WRITE_FAULT) == REG_ERR_ACCESS_DENIED ? REG_ERR_ACCESS_DENIED
                                                                               : REG_ERR_WRITE_FAULT;
    }
    ::fsync(dirFd.Get());  // make the rename itself durable
    return REG_OK;
}
} // namespace os
