#pragma once
#include "DlgLogin.h"

/// The password-only login dialog (template 180, "Login"): the user name is always "admin".
/// Chosen when the setting "SetAdminName" is zero or absent. Same use as CDlgLogin.
class CDlgSimpleLogin : public CDlgLogin
{
    Q_OBJECT
public:
    static constexpr int kDialogId = 180;

    explicit CDlgSimpleLogin(QWidget* pParent = nullptr);
    CDlgSimpleLogin(const std::string& strPassword, QWidget* pParent = nullptr);
};
