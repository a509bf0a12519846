#include "DlgLogin.h"

#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "DialogKit.h"
#include "PwdEdit.h"

namespace
{
constexpr const char* kUserLabel = "&Benutzername:";
constexpr const char* kPasswordLabel = "&Kennwort:";
} // namespace

CDlgLogin::CDlgLogin(QWidget* pParent) : CDlgLogin(kDialogId, kDefaultUser, std::string(), pParent)
{
}

CDlgLogin::CDlgLogin(const std::string& strUser, QWidget* pParent)
    : CDlgLogin(kDialogId, strUser, std::string(), pParent)
{
}

CDlgLogin::CDlgLogin(const std::string& strUser, const std::string& strPassword, QWidget* pParent)
    : CDlgLogin(kDialogId, strUser, strPassword, pParent)
{
}

CDlgLogin::CDlgLogin(int nDialogId, const std::string& strUser, const std::string& strPassword, QWidget* pParent)
    : QDialog(pParent), m_strUserName(strUser), m_strPassword(strPassword)
{
    Build(nDialogId);
}

void CDlgLogin::Build(int nDialogId)
{
    setWindowTitle(dlgkit::ControlText(nDialogId, 0));
    setModal(true);
    auto* pLayout = new QVBoxLayout(this);
    auto* pForm = new QFormLayout;
    pLayout->addLayout(pForm);
    if (nDialogId == kDialogId)
    {
        m_pUserEdit = new QLineEdit(this);
        m_pUserEdit->setObjectName(QString::number(IDC_USER));
        m_pUserEdit->setText(dlgkit::Utf8(m_strUserName));
        auto* pLabel = new QLabel(QString::fromUtf8(kUserLabel), this);
        pLabel->setBuddy(m_pUserEdit);
        pForm->addRow(pLabel, m_pUserEdit);
    }
    m_pPwdEdit = new CPwdEdit(this);
    m_pPwdEdit->setObjectName(QString::number(IDC_PASSWORD));
    m_pPwdEdit->setEchoMode(QLineEdit::Password);
    m_pPwdEdit->setText(dlgkit::Utf8(m_strPassword));
    m_pPwdEdit->SetLimitText(kPasswordLimit);
    auto* pLabel = new QLabel(QString::fromUtf8(kPasswordLabel), this);
    pLabel->setBuddy(m_pPwdEdit);
    pForm->addRow(pLabel, m_pPwdEdit);

    auto* pButtons = new QHBoxLayout;
    pButtons->addStretch();
    auto* pOk = new QPushButton(dlgkit::ControlText(nDialogId, 1), this);
    pOk->setObjectName(QStringLiteral("1"));
    pOk->setDefault(true);
    auto* pCancel = new QPushButton(dlgkit::ControlText(nDialogId, 2), this);
    pCancel->setObjectName(QStringLiteral("2"));
    pButtons->addWidget(pOk);
    pButtons->addWidget(pCancel);
    pLayout->addLayout(pButtons);
    connect(pOk, &QPushButton::clicked, this, &CDlgLogin::accept);
    connect(pCancel, &QPushButton::clicked, this, &CDlgLogin::reject);
    // The password is what is asked for: start there when the user name is preset.
    if (m_pUserEdit == nullptr || !m_strUserName.empty())
        m_pPwdEdit->setFocus();
}

void CDlgLogin::accept()
{
    if (m_pUserEdit != nullptr)
        m_strUserName = dlgkit::ToStd(m_pUserEdit->text());
    m_strPassword = dlgkit::ToStd(m_pPwdEdit->text());
    QDialog::accept();
}
