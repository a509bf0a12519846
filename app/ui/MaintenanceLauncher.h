#pragma once
#include <QString>
#include <cstdint>

#include "DeviceInfo.h"
#include "MaintenanceArgs.h"

class QWidget;

/// Opens the maintenance dialogs of the main window's four actions, one operation per
/// action, each modal on the user-interface thread with the arguments derived from the
/// focused row. The main window does not own the launcher.
class CMaintenanceLauncher
{
public:
    virtual ~CMaintenanceLauncher() = default;
    /// "&Diagnose": the diagnosis dialog.
    virtual void OpenDiagnosis(QWidget* pParent, const search::SDiagnosisArgs& args) = 0;
    /// "&Firmware Download": the firmware download dialog.
    virtual void OpenFirmwareDownload(QWidget* pParent, const search::SDownloadArgs& args) = 0;
    /// "&Zertifikate Download": the certificate list download dialog.
    virtual void OpenCertificateDownload(QWidget* pParent, const search::SDownloadArgs& args) = 0;
    /// "Zertifikat-Gültig&keit": the certificate validity dialog with the web-interface port.
    virtual void OpenCertificateValidity(QWidget* pParent, const CDeviceInfo& device, uint16_t nWebPort) = 0;
};

/// Stands in for the maintenance dialogs until they exist: each action shows a plain modal
/// dialog that names the missing dialog and the terminal it was asked for.
class CPlaceholderLauncher : public CMaintenanceLauncher
{
public:
    void OpenDiagnosis(QWidget* pParent, const search::SDiagnosisArgs& args) override;
    void OpenFirmwareDownload(QWidget* pParent, const search::SDownloadArgs& args) override;
    void OpenCertificateDownload(QWidget* pParent, const search::SDownloadArgs& args) override;
    void OpenCertificateValidity(QWidget* pParent, const CDeviceInfo& device, uint16_t nWebPort) override;

    /// The text the placeholder shows for a dialog and terminal.
    static QString PlaceholderText(const QString& strDialog, const QString& strTerminal);

private:
    static void Show(QWidget* pParent, const QString& strCaption, const QString& strText);
};
