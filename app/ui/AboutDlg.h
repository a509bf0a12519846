#pragma once
#include <QDialog>
#include <string>

class CVersionInfo;
class QLabel;

/// The About dialog: product name, version and legal notice, all read from the program
/// file's own version record, never from constants. Each text falls back on its own when the
/// record or a value is missing: the caption to "Info", the two lines to empty.
/// Modal, user-interface thread only; the version info object is borrowed for the constructor.
class CAboutDlg : public QDialog
{
    Q_OBJECT
public:
    /// Loads the record of strProgramPath into info and fills the texts.
    CAboutDlg(CVersionInfo& info, const std::string& strProgramPath, QWidget* pParent = nullptr);

    QString VersionLine() const;    // control 1074
    QString CopyrightLine() const;  // control 1075

private:
    QLabel* m_pVersion = nullptr;
    QLabel* m_pCopyright = nullptr;
};
