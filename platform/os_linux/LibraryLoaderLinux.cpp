#include "LibraryLoaderLinux.h"

#include <dlfcn.h>

namespace os
{
CLibraryLinux::~CLibraryLinux()
{
    if (m_hHandle)
        ::dlclose(m_hHandle);
}

void* CLibraryLinux::Symbol(const std::string& strName)
{
    return ::dlsym(m_hHandle, strName.c_str());
}

std::unique_ptr<CLibrary> CLibraryLoaderLinux::Load(const std::string& strPath, std::string& strError)
{
    strError.clear();
    if (strPath.empty())
    {
        // dlopen(nullptr) would hand back the program itself
        strError = "empty library path";
        return nullptr;
    }
    void* hHandle = ::dlopen(strPath.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!hHandle)
    {
        const char* pszError = ::dlerror();
        strError = pszError ? pszError : "dlopen failed";
        return nullptr;
    }
    return std::make_unique<CLibraryLinux>(hHandle);
}
} // namespace os
