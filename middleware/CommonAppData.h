#pragma once
#include <string>

namespace os
{
class CSettingsStore;
}

/// Where the middleware's XML files live: the "Common AppData" folder. It is the machine
/// value "Common AppData" under "SOFTWARE\Microsoft\Windows\CurrentVersion\Explorer\Shell
/// Folders" when that is set in the machine settings, else "/etc". The settings store is
/// handed in by the front end's main (not owned, must outlive every use); tests set a folder
/// override instead. All operations are safe from any thread.
class CCommonAppData
{
public:
    /// The store to read the machine value from; nullptr forgets it.
    static void SetSettingsStore(os::CSettingsStore* pStore);
    /// A folder that replaces the rule (tests); empty clears the override.
    static void SetFolderOverride(const std::string& strFolder);
    /// The folder, read fresh at each call; nBufferSize bounds the machine value as the
    /// callers' fixed buffers did (the value must be shorter).
    static std::string Folder(unsigned nBufferSize = 512);
    /// Folder + "/Vantor/CtApi/" + strFile.
    static std::string CtApiFile(const std::string& strFile, unsigned nBufferSize = 512);
};
