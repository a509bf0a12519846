#pragma once
#include <QDialog>
#include <string>

class QLineEdit;
class CPwdEdit;

/// The login dialog before a CT session is opened on a terminal (template 148, "Login"): user
/// name (preset "admin") and password. The password field takes at most 12 letters and
/// digits when typed. After exec() returned QDialog::Accepted (IDOK) the caller reads
/// UserName and Password; on Cancel it starts nothing.
/// User-interface thread only; modal.
class CDlgLogin : public QDialog
{
    Q_OBJECT
public:
    static constexpr int kDialogId = 148;
    static constexpr int IDC_USER = 1078;
    static constexpr int IDC_PASSWORD = 1041;
    static constexpr int kPasswordLimit = 12;
    static constexpr const char* kDefaultUser = "admin";

    explicit CDlgLogin(QWidget* pParent = nullptr);
    CDlgLogin(const std::string& strUser, QWidget* pParent = nullptr);
    CDlgLogin(const std::string& strUser, const std::string& strPassword, QWidget* pParent = nullptr);

    const std::string& UserName() const { return m_strUserName; }
    const std::string& Password() const { return m_strPassword; }

    QLineEdit* UserEdit() const { return m_pUserEdit; }
    CPwdEdit* PasswordEdit() const { return m_pPwdEdit; }

    /// OK: takes the texts of the fields, then closes with Accepted.
    void accept() override;

protected:
    /// For the password-only form (template 180): no user-name field.
    CDlgLogin(int nDialogId, const std::string& strUser, const std::string& strPassword, QWidget* pParent);

private:
    void Build(int nDialogId);

    std::string m_strUserName;
    std::string m_strPassword;
    QLineEdit* m_pUserEdit = nullptr;  // null in the password-only form
    CPwdEdit* m_pPwdEdit = nullptr;
};
