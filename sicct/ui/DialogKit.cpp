#include "DialogKit.h"

#include <QFileDialog>
#include <QImage>
#include <fstream>

#include "DlgLogin.h"
#include "DlgSimpleLogin.h"
#include "Texts.h"

namespace dlgkit
{
QString ControlText(int nDialogId, int nControlId)
{
    const std::string_view sv = texts::ControlText(nDialogId, nControlId);
    return QString::fromUtf8(sv.data(), static_cast<qsizetype>(sv.size()));
}

QString Text(int nTextId)
{
    const std::string_view sv = texts::Get(nTextId);
    return QString::fromUtf8(sv.data(), static_cast<qsizetype>(sv.size()));
}

QPixmap StatusPixmap(int64_t nIconCode)
{
    switch (nIconCode)
    {
    case wm::ICON_RED: return QPixmap(QStringLiteral(":/img/status_red_154.png"));
    case wm::ICON_GREEN: return QPixmap(QStringLiteral(":/img/status_green_152.png"));
    case wm::ICON_YELLOW: return QPixmap(QStringLiteral(":/img/status_yellow_163.png"));
    default: return {};
    }
}

bool ShowStatusIcon(QLabel& icon, int64_t nIconCode, bool bBusy)
{
    const QPixmap pixmap = StatusPixmap(nIconCode);
    if (pixmap.isNull())
        return false;
    icon.setPixmap(pixmap);
    icon.setVisible(!bBusy);
    return true;
}

void ShowBusy(CPictureEx& busy, QLabel& icon, bool bBusy)
{
    if (bBusy)
    {
        busy.StartShow();
        icon.hide();
        busy.show();
    }
    else
    {
        if (busy.IsPlaying())
            busy.StopAnimation();
        busy.hide();
        icon.show();
    }
}

QPixmap UnitImage(int nIndex)
{
    static const QImage s_strip = [] {
        QImage img(QStringLiteral(":/img/units_164.png"));
        img = img.convertToFormat(QImage::Format_ARGB32);
        // Magenta marks the transparent pixels of the strip.
        for (int y = 0; y < img.height(); ++y)
            for (int x = 0; x < img.width(); ++x)
                if ((img.pixel(x, y) & 0xFFFFFF) == 0xFF00FF)
                    img.setPixel(x, y, 0);
        return img;
    }();
    if (nIndex < 0 || (nIndex + 1) * 16 > s_strip.width())
        return {};
    return QPixmap::fromImage(s_strip.copy(nIndex * 16, 0, 16, 16));
}

QString OpenFile(const SDialogServices& services, QWidget* pParent, const QString& strCaption,
                 const QString& strFilters, const QString& strSelectedFilter, const QString& strStart)
{
    if (services.fnOpenFile)
        return services.fnOpenFile(pParent, strCaption, strFilters, strSelectedFilter, strStart);
    QString strSelected = strSelectedFilter;
    return QFileDialog::getOpenFileName(pParent, strCaption, strStart, strFilters, &strSelected);
}

QString SaveFile(const SDialogServices& services, QWidget* pParent, const QString& strCaption,
                 const QString& strFilters, const QString& strDefaultName, const QString& strSuffix)
{
    if (services.fnSaveFile)
        return services.fnSaveFile(pParent, strCaption, strFilters, strDefaultName, strSuffix);
    QFileDialog dlg(pParent, strCaption, QString(), strFilters);
    dlg.setAcceptMode(QFileDialog::AcceptSave);
    dlg.setFileMode(QFileDialog::AnyFile);
    dlg.setDefaultSuffix(strSuffix);
    dlg.selectFile(strDefaultName);
    // Overwriting asks first (the dialog's default; kept explicit).
    dlg.setOption(QFileDialog::DontConfirmOverwrite, false);
    if (dlg.exec() != QDialog::Accepted || dlg.selectedFiles().isEmpty())
        return {};
    return dlg.selectedFiles().first();
}

bool Login(const SDialogServices& services, QWidget* pParent, bool bWithUserName, std::string& strUser,
           std::string& strPassword)
{
    if (services.fnLogin)
        return services.fnLogin(pParent, bWithUserName, strUser, strPassword);
    if (bWithUserName)
    {
        CDlgLogin dlg(pParent);
        if (dlg.exec() != QDialog::Accepted)
            return false;
        strUser = dlg.UserName();
        strPassword = dlg.Password();
        return true;
    }
    CDlgSimpleLogin dlg(pParent);
    if (dlg.exec() != QDialog::Accepted)
        return false;
    strUser = dlg.UserName();
    strPassword = dlg.Password();
    return true;
}

void Message(const SDialogServices& services, QWidget* pParent, QMessageBox::Icon eIcon, const QString& strText)
{
    if (services.fnMessage)
    {
        services.fnMessage(pParent, eIcon, strText);
        return;
    }
    QMessageBox box(eIcon, pParent ? pParent->windowTitle() : QString(), strText, QMessageBox::Ok, pParent);
    box.exec();
}

bool Readable(const std::string& strPath)
{
    if (strPath.empty())
        return false;
    std::ifstream file(strPath, std::ios::binary);
    return file.is_open();
}
} // namespace dlgkit
