#pragma once
#include <string>

#include "SettingsStore.h"

namespace os
{
/// The registry on Linux: each root is one Windows .reg text file, so that a file exported
/// on Windows can be dropped in and a file written here can be imported there.
///
///   HKEY_CURRENT_USER   $XDG_CONFIG_HOME/terminal-console/user.reg  (else ~/.config/...), 0600
///   HKEY_LOCAL_MACHINE  /etc/terminal-console/system.reg
///
/// Environment: TC_SETTINGS_ROOT=<dir> moves both files, to <dir>/user/user.reg and
/// <dir>/machine/system.reg (used by tests and for portable set-ups).
///
/// Files may be REGEDIT4 or version 5, LF or CRLF, 8-bit or UTF-16LE with BOM; a rewrite keeps
/// the file's encoding, line ending and every line except the one value set. New files are
/// written as REGEDIT4 (UTF-8, LF). A REG_SZ ending in exactly one zero byte is written in the
/// quoted form; any other REG_SZ (e.g. without terminator) as hex(1):, so that the stored size
/// survives a round trip.
///
/// Reading needs no lock: a writer never changes a file in place. SetValue takes an exclusive
/// flock on the folder for its read-modify-write (waiting at most 2 s), writes a temporary
/// file in the same folder, syncs it and renames it over the old one; the user file always
/// gets mode 0600, the machine file keeps its mode (0644 when new).
///
/// Stateless apart from the two paths; safe from any thread and any process.
class CRegFileStore : public CSettingsStore
{
public:
    /// Paths from the environment, as above.
    CRegFileStore();
    /// Explicit paths (tests).
    CRegFileStore(std::string strUserFile, std::string strMachineFile);

    long QueryValue(ERegRoot eRoot, const std::string& strKeyPath, const std::string& strName, uint32_t& nType,
                    uint8_t* pData, uint32_t& nSize) override;
    long SetValue(ERegRoot eRoot, const std::string& strKeyPath, const std::string& strName, uint32_t nType,
                  const uint8_t* pData, uint32_t nSize) override;

    const std::string& FilePath(ERegRoot eRoot) const;

    /// Largest file read (bytes); larger files are refused rather than half rewritten.
    static constexpr size_t kMaxFileBytes = 16u << 20;
    /// Longest wait for another writer (ms).
    static constexpr int kLockWaitMs = 2000;

private:
    std::string m_strUserFile;
    std::string m_strMachineFile;
};
} // namespace os
