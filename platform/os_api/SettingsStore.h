#pragma once
#include <cstdint>
#include <string>

namespace os
{
/// The two registry roots. On Linux each is one .reg file; TC_SETTINGS_ROOT=<dir> moves them to
/// <dir>/user/user.reg and <dir>/machine/system.reg (see CRegFileStore).
enum class ERegRoot
{
    CurrentUser,   // HKEY_CURRENT_USER: $XDG_CONFIG_HOME/terminal-console/user.reg (0600)
    LocalMachine,  // HKEY_LOCAL_MACHINE: /etc/terminal-console/system.reg
};

// Value types and result codes with their Windows registry numbers, so that callers keep
// the registry's rules (a .reg file exported on Windows can be dropped in).
constexpr uint32_t REG_TYPE_NONE = 0;
constexpr uint32_t REG_TYPE_SZ = 1;
constexpr uint32_t REG_TYPE_EXPAND_SZ = 2;
constexpr uint32_t REG_TYPE_BINARY = 3;
constexpr uint32_t REG_TYPE_DWORD = 4;
constexpr uint32_t REG_TYPE_MULTI_SZ = 7;
constexpr uint32_t REG_TYPE_QWORD = 11;

constexpr long REG_OK = 0;
constexpr long REG_ERR_FILE_NOT_FOUND = 2;  // key or value missing
constexpr long REG_ERR_ACCESS_DENIED = 5;
constexpr long REG_ERR_INVALID_DATA = 13;
constexpr long REG_ERR_WRITE_FAULT = 29;    // the file could not be written or replaced
constexpr long REG_ERR_INVALID_PARAMETER = 87;
constexpr long REG_ERR_BUFFER_OVERFLOW = 111;
constexpr long REG_ERR_BUSY = 170;          // another writer held the store past the wait limit
constexpr long REG_ERR_MORE_DATA = 234;     // value larger than the caller's buffer

/// A typed key/value store with the semantics of the Windows registry. Each call opens,
/// reads or writes and closes; nothing is cached. Safe to call from any thread.
///
/// Key paths are given without the root ("SOFTWARE\Vantor\SICCT-Config"); key and value
/// names compare case-insensitively. Values keep their exact bytes and size: a REG_SZ may be
/// stored with or without its terminating zero, and QueryValue reports the size as stored.
/// Text is passed in the program's narrow encoding (UTF-8 on Linux).
class CSettingsStore
{
public:
    virtual ~CSettingsStore() = default;
    /// Queries one value. On entry nSize is the buffer size; on success it is the value's size
    /// in bytes and nType its type. A value larger than the buffer gives REG_ERR_MORE_DATA
    /// with nSize set to the size needed (nType set too). pData may be null to ask for the
    /// size only. Codes: REG_OK, REG_ERR_FILE_NOT_FOUND (key or value missing),
    /// REG_ERR_ACCESS_DENIED, REG_ERR_MORE_DATA.
    virtual long QueryValue(ERegRoot eRoot, const std::string& strKeyPath, const std::string& strName,
                            uint32_t& nType, uint8_t* pData, uint32_t& nSize) = 0;
    /// Creates the key when missing and stores one value, replacing a value of the same name
    /// whatever its type; every other value is kept. Codes: REG_OK, REG_ERR_ACCESS_DENIED,
    /// REG_ERR_BUSY (another writer did not finish in time), REG_ERR_WRITE_FAULT,
    /// REG_ERR_INVALID_PARAMETER (pData null with nSize > 0).
    virtual long SetValue(ERegRoot eRoot, const std::string& strKeyPath, const std::string& strName,
                          uint32_t nType, const uint8_t* pData, uint32_t nSize) = 0;
};
} // namespace os
