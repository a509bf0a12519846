#pragma once
#include "Library.h"

namespace os
{
/// A shared object loaded with dlopen; dlclose when destroyed. Symbol() may be called from
/// any thread while the object lives.
class CLibraryLinux : public CLibrary
{
public:
    explicit CLibraryLinux(void* hHandle) : m_hHandle(hHandle) {}
    ~CLibraryLinux() override;
    CLibraryLinux(const CLibraryLinux&) = delete;
    CLibraryLinux& operator=(const CLibraryLinux&) = delete;

    void* Symbol(const std::string& strName) override;
    void* NativeHandle() override { return m_hHandle; }

private:
    void* m_hHandle;
};

/// dlopen with RTLD_NOW | RTLD_LOCAL: a library with unresolved symbols fails at load, not at
/// its first call. Stateless; any thread.
class CLibraryLoaderLinux : public CLibraryLoader
{
public:
    std::unique_ptr<CLibrary> Load(const std::string& strPath, std::string& strError) override;
};
} // namespace os
