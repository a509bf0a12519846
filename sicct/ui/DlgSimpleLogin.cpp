#include "DlgSimpleLogin.h"

CDlgSimpleLogin::CDlgSimpleLogin(QWidget* pParent) : CDlgLogin(kDialogId, kDefaultUser, std::string(), pParent)
{
}

CDlgSimpleLogin::CDlgSimpleLogin(const std::string& strPassword, QWidget* pParent)
    : CDlgLogin(kDialogId, kDefaultUser, strPassword, pParent)
{
}
