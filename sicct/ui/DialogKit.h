#pragma once
#include <QLabel>
#include <QPixmap>
#include <QString>
#include <string>

#include "DialogServices.h"
#include "PictureEx.h"
#include "WorkerMessages.h"

class CLog;

/// Helpers shared by the maintenance dialogs (user-interface thread only).
namespace dlgkit
{
/// Text of a dialog template's control (0 = caption) as a QString.
QString ControlText(int nDialogId, int nControlId);
/// A string-table text as a QString.
QString Text(int nTextId);
inline QString Utf8(const std::string& str) { return QString::fromStdString(str); }
inline std::string ToStd(const QString& str) { return str.toStdString(); }

/// Icon numbers of the three status pictures.
constexpr int kIconRed = 154;
constexpr int kIconGreen = 152;
constexpr int kIconYellow = 163;
/// The status picture of a worker icon code (wm::ICON_RED / GREEN / YELLOW); null otherwise.
QPixmap StatusPixmap(int64_t nIconCode);
/// Puts the picture of a status icon code into the icon label (hidden while the busy
/// animation runs); false, and nothing changed, for a code without a picture.
bool ShowStatusIcon(QLabel& icon, int64_t nIconCode, bool bBusy);
/// Switches the status place between the busy animation and the status icon.
void ShowBusy(CPictureEx& busy, QLabel& icon, bool bBusy);
/// The function-unit image strip 164: image nIndex (16 x 16), magenta as transparent.
QPixmap UnitImage(int nIndex);

/// The standard hooks where a service left them empty.
QString OpenFile(const SDialogServices& services, QWidget* pParent, const QString& strCaption,
                 const QString& strFilters, const QString& strSelectedFilter, const QString& strStart);
QString SaveFile(const SDialogServices& services, QWidget* pParent, const QString& strCaption,
                 const QString& strFilters, const QString& strDefaultName, const QString& strSuffix);
bool Login(const SDialogServices& services, QWidget* pParent, bool bWithUserName, std::string& strUser,
           std::string& strPassword);
void Message(const SDialogServices& services, QWidget* pParent, QMessageBox::Icon eIcon, const QString& strText);
/// Whether a file can be opened for reading.
bool Readable(const std::string& strPath);
} // namespace dlgkit
