#pragma once
#include <QMessageBox>
#include <QString>
#include <functional>
#include <string>

#include "SessionTiming.h"

class QWidget;

namespace os
{
class CClock;
class CLibraryLoader;
class CSettingsStore;
} // namespace os

/// What the maintenance dialogs need from outside, handed in by their opener (the launcher of
/// the main window, or a test). The pointers are borrowed and must outlive the dialog; the
/// platform services also any worker a dialog had to abandon, so the opener keeps them to
/// the end of the program. Every hook left empty uses the standard Qt dialog; tests replace
/// them so that no modal dialog ever waits for a user.
struct SDialogServices
{
    os::CSettingsStore* pStore = nullptr;    // required: the settings of "SICCT-Config"
    os::CLibraryLoader* pLoader = nullptr;   // firmware download and diagnosis (CT-API way)
    os::CClock* pClock = nullptr;            // certificate validity
    SSessionTiming timing;                   // the session worker's time constants
    /// How the CT-API way waits for the terminal's reset after a good signature (called on
    /// the worker thread with the wait in ms; true when waited out). Empty: the real wait.
    std::function<bool(int)> fnCtApiResetWait;

    /// Open-file dialog: caption, filter list (";;"-separated Qt form), preselected filter,
    /// start path. Returns the chosen path, empty on cancel.
    std::function<QString(QWidget*, const QString&, const QString&, const QString&, const QString&)> fnOpenFile;
    /// Save-file dialog: caption, filter list, default file name, default suffix. Asks before
    /// overwriting an existing file. Returns the chosen path, empty on cancel.
    std::function<QString(QWidget*, const QString&, const QString&, const QString&, const QString&)> fnSaveFile;
    /// Credentials: bWithUserName chooses the user-name-and-password dialog (else password
    /// only, user "admin"). Fills strUser and strPassword; false on cancel.
    std::function<bool(QWidget*, bool bWithUserName, std::string& strUser, std::string& strPassword)> fnLogin;
    /// A message box with an icon and a text.
    std::function<void(QWidget*, QMessageBox::Icon, const QString&)> fnMessage;
};
