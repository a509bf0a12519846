#pragma once
#include <QLineEdit>

/// The password field of the login dialogs: takes only ASCII letters, digits and control
/// characters (Backspace, Enter, the clipboard shortcuts), and at most the set number of
/// characters when typing. Pasted text is neither filtered nor limited (the login checks it).
/// Masking comes from the echo mode the dialog sets, not from this class.
/// User-interface thread only.
class CPwdEdit : public QLineEdit
{
    Q_OBJECT
public:
    explicit CPwdEdit(QWidget* pParent = nullptr);

    /// Sets the typing limit (0 = none). The line edit itself keeps no limit, so pasting
    /// still works past it.
    void SetLimitText(int nLimit) { m_nLimit = nLimit; }
    int GetLimitText() const { return m_nLimit; }

    /// Whether one typed character (its code) is taken with the current text and selection.
    bool AcceptChar(char32_t ch) const;

protected:
    void keyPressEvent(QKeyEvent* pEvent) override;

private:
    int m_nLimit = 0;
};
