#include "AboutDlg.h"

#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QIcon>
#include <QLabel>
#include <QVBoxLayout>

#include "Texts.h"
#include "VersionInfo.h"

namespace
{
constexpr int kDialogId = 100;
constexpr int kTextInfo = 182;

std::string ControlText(int nControlId)
{
    return std::string(texts::ControlText(kDialogId, nControlId));
}

// The template text of a control with the named values filled in; empty on failure.
QString Filled(const CVersionInfo& info, int nControlId, const std::vector<std::string>& vecNames)
{
    std::string strText = ControlText(nControlId);
    if (!info.FormatWindowText(strText, -1, vecNames))
        return {};
    return QString::fromStdString(strText);
}
} // namespace

CAboutDlg::CAboutDlg(CVersionInfo& info, const std::string& strProgramPath, QWidget* pParent) : QDialog(pParent)
{
    (void)info.LoadFromFile(strProgramPath);  // a failed load leaves every text at its fallback

    QString strCaption = Filled(info, 0, {"ProductName", "ProductVersion"});
    if (strCaption.isEmpty())
        strCaption = QString::fromUtf8(texts::Get(kTextInfo).data(), static_cast<qsizetype>(texts::Get(kTextInfo).size()));
    setWindowTitle(strCaption);

    auto* pIcon = new QLabel(this);
    pIcon->setPixmap(QIcon(QStringLiteral(":/img/app_48.png")).pixmap(32, 32));
    pIcon->setAlignment(Qt::AlignTop | Qt::AlignHCenter);
    m_pVersion = new QLabel(Filled(info, 1074, {"FileDescription", "FileVersion"}), this);
    m_pVersion->setObjectName(QStringLiteral("1074"));
    m_pCopyright = new QLabel(Filled(info, 1075, {"LegalCopyright"}), this);
    m_pCopyright->setObjectName(QStringLiteral("1075"));
    m_pCopyright->setWordWrap(true);
    m_pCopyright->setMinimumHeight(2 * fontMetrics().lineSpacing());  // two lines high
    m_pCopyright->setAlignment(Qt::AlignLeft | Qt::AlignTop);

    auto* pTexts = new QVBoxLayout;
    pTexts->addWidget(m_pVersion);
    pTexts->addWidget(m_pCopyright);
    auto* pButtons = new QDialogButtonBox(this);
    pButtons->addButton(QString::fromStdString(ControlText(1)), QDialogButtonBox::AcceptRole);
    connect(pButtons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    pTexts->addWidget(pButtons);

    auto* pLayout = new QHBoxLayout(this);
    pLayout->addWidget(pIcon);
    pLayout->addLayout(pTexts, 1);
    setMinimumWidth(380);
}

QString CAboutDlg::VersionLine() const
{
    return m_pVersion->text();
}

QString CAboutDlg::CopyrightLine() const
{
    return m_pCopyright->text();
}
