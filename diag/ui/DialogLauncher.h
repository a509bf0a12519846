#pragma once
#include "DialogServices.h"
#include "MaintenanceLauncher.h"

/// Opens the real maintenance dialogs for the main window's four actions: each modal, with
/// the arguments the main window derived from the focused row, and the services given here.
/// User-interface thread only. The services (settings store, library loader, clock) are
/// borrowed and must live to the end of the program: a dialog may leave behind a worker that
/// overran its bounded join, and that worker still uses them.
class CDialogLauncher : public CMaintenanceLauncher
{
public:
    explicit CDialogLauncher(SDialogServices services) : m_services(std::move(services)) {}

    void OpenDiagnosis(QWidget* pParent, const search::SDiagnosisArgs& args) override;
    void OpenFirmwareDownload(QWidget* pParent, const search::SDownloadArgs& args) override;
    void OpenCertificateDownload(QWidget* pParent, const search::SDownloadArgs& args) override;
    void OpenCertificateValidity(QWidget* pParent, const CDeviceInfo& device, uint16_t nWebPort) override;

private:
    SDialogServices m_services;
};
