#include "MaintenanceLauncher.h"

#include <QDialog>
#include <QDialogButtonBox>
#include <QLabel>
#include <QVBoxLayout>

QString CPlaceholderLauncher::PlaceholderText(const QString& strDialog, const QString& strTerminal)
{
    return QStringLiteral("Der Dialog \"%1\" fehlt in dieser Version noch.\nTerminal: %2").arg(strDialog, strTerminal);
}

void CPlaceholderLauncher::Show(QWidget* pParent, const QString& strCaption, const QString& strText)
{
    QDialog dlg(pParent);
    dlg.setWindowTitle(strCaption);
    auto* pLayout = new QVBoxLayout(&dlg);
    pLayout->addWidget(new QLabel(strText, &dlg));
    auto* pButtons = new QDialogButtonBox(QDialogButtonBox::Ok, &dlg);
    QObject::connect(pButtons, &QDialogButtonBox::accepted, &dlg, &QDialog::accept);
    pLayout->addWidget(pButtons);
    dlg.exec();
}

void CPlaceholderLauncher::OpenDiagnosis(QWidget* pParent, const search::SDiagnosisArgs& args)
{
    Show(pParent, QStringLiteral("SICCT Diagnose"),
         PlaceholderText(QStringLiteral("SICCT Diagnose"),
                         QString::fromStdString(args.record.Name()) + QStringLiteral(", Port ") +
                             QString::number(args.nPort)));
}

void CPlaceholderLauncher::OpenFirmwareDownload(QWidget* pParent, const search::SDownloadArgs& args)
{
    Show(pParent, QStringLiteral("Firmware Download"),
         PlaceholderText(QStringLiteral("Firmware Download"),
                         QString::fromStdString(args.strIp) + QLatin1Char(':') + QString::number(args.nPort)));
}

void CPlaceholderLauncher::OpenCertificateDownload(QWidget* pParent, const search::SDownloadArgs& args)
{
    Show(pParent, QStringLiteral("Zertifikate Download"),
         PlaceholderText(QStringLiteral("Zertifikate Download"),
                         QString::fromStdString(args.strIp) + QLatin1Char(':') + QString::number(args.nPort)));
}

void CPlaceholderLauncher::OpenCertificateValidity(QWidget* pParent, const CDeviceInfo& device, uint16_t nWebPort)
{
    Show(pParent, QStringLiteral("Zertifikat-Gültigkeit"),
         PlaceholderText(QStringLiteral("Zertifikat-Gültigkeit"),
                         QString::fromStdString(device.GetIpAddress()) + QLatin1Char(':') + QString::number(nWebPort)));
}
