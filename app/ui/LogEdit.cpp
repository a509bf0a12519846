#include "LogEdit.h"

#include <QTextCursor>

CLogEdit::CLogEdit(QWidget* pParent) : QPlainTextEdit(pParent)
{
    setReadOnly(true);
    setUndoRedoEnabled(false);
}

void CLogEdit::InsertAtEnd(const QString& strText)
{
    // Select the end first: a user's selection elsewhere must never receive log text.
    QTextCursor cursor = textCursor();
    cursor.movePosition(QTextCursor::End);
    setTextCursor(cursor);
    ensureCursorVisible();
    cursor.insertText(strText);
    setTextCursor(cursor);
    ensureCursorVisible();
}

void CLogEdit::AppendText(const std::string& strText)
{
    InsertAtEnd(QString::fromStdString(strText));
}

void CLogEdit::AddLine(const std::string& strText)
{
    if (document()->isEmpty())
        InsertAtEnd(QString::fromStdString(strText));
    else
        InsertAtEnd(QLatin1Char('\n') + QString::fromStdString(strText));
}

void CLogEdit::ClearLog()
{
    clear();
}
