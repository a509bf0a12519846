#pragma once
#include <memory>
#include <string>

namespace os
{
/// A loaded shared object (dlopen/dlsym). Unloaded when destroyed.
class CLibrary
{
public:
    virtual ~CLibrary() = default;
    /// Address of an exported symbol, or nullptr when it is missing.
    virtual void* Symbol(const std::string& strName) = 0;
    /// The system's handle of the loaded object (dlopen), for CVersionReader::ModuleFileName;
    /// null when there is none (fakes).
    virtual void* NativeHandle() { return nullptr; }
};

/// Loads shared objects; tests may pass a fake. Any thread.
class CLibraryLoader
{
public:
    virtual ~CLibraryLoader() = default;
    /// The loaded library (all symbols bound at once), or nullptr (strError then says why).
    virtual std::unique_ptr<CLibrary> Load(const std::string& strPath, std::string& strError) = 0;
};
} // namespace os
