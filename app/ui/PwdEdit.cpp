#include "PwdEdit.h"

#include <QKeyEvent>

namespace
{
constexpr char32_t kBackspace = 8;
constexpr char32_t kDelete = 127;

bool IsControl(char32_t ch)
{
    return ch < 0x20 || ch == kDelete;
}

bool IsAsciiAlnum(char32_t ch)
{
    return (ch >= '0' && ch <= '9') || (ch >= 'A' && ch <= 'Z') || (ch >= 'a' && ch <= 'z');
}
} // namespace

CPwdEdit::CPwdEdit(QWidget* pParent) : QLineEdit(pParent)
{
}

bool CPwdEdit::AcceptChar(char32_t ch) const
{
    if (m_nLimit > 0)
    {
        const long nSelected = selectedText().size();
        long nRemoved;
        if (ch == kBackspace || ch == kDelete)
            nRemoved = nSelected > 0 ? nSelected : 1;
        else
            nRemoved = IsControl(ch) ? nSelected : nSelected - 1;  // a printable one adds a character
        const long nNewLength = static_cast<long>(text().size()) - nRemoved;
        if (nNewLength >= 0 && nNewLength > m_nLimit)
            return false;
    }
    return ch < 0x80 && (IsAsciiAlnum(ch) || IsControl(ch));
}

void CPwdEdit::keyPressEvent(QKeyEvent* pEvent)
{
    const QString strText = pEvent->text();
    // Keys without a character (arrows, Home, End) move the caret as usual.
    for (const char32_t ch : strText.toUcs4())
    {
        if (!AcceptChar(ch))
        {
            pEvent->accept();  // dropped silently, no beep
            return;
        }
    }
    QLineEdit::keyPressEvent(pEvent);
}
