#include "DialogLauncher.h"

#include "CertDownload.h"
#include "CertValid.h"
#include "DiagnosticsDialog.h"
#include "FWDownloadDlg.h"

void CDialogLauncher::OpenDiagnosis(QWidget* pParent, const search::SDiagnosisArgs& args)
{
    CDiagnosticsDialog dlg(args, m_services, pParent);
    dlg.exec();
}

void CDialogLauncher::OpenFirmwareDownload(QWidget* pParent, const search::SDownloadArgs& args)
{
    CFWDownloadDlg dlg(args, m_services, pParent);
    dlg.exec();
}

void CDialogLauncher::OpenCertificateDownload(QWidget* pParent, const search::SDownloadArgs& args)
{
    CCertDownload dlg(args, m_services, pParent);
    dlg.exec();
}

void CDialogLauncher::OpenCertificateValidity(QWidget* pParent, const CDeviceInfo& device, uint16_t nWebPort)
{
    CCertValid dlg(device, nWebPort, m_services, pParent);
    dlg.exec();
}
