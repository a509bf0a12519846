#pragma once
#include <QPlainTextEdit>
#include <string>

#include "Log.h"

/// The multi-line log pane of the maintenance dialogs. Every insertion goes to the very end
/// of the text and is scrolled into view, whatever the user has selected; insertions are not
/// undoable. Lines are separated by a line break; the first line has none before it.
/// User-interface thread only (workers reach it through their dialog's sink).
class CLogEdit : public QPlainTextEdit, public CLog
{
    Q_OBJECT
public:
    explicit CLogEdit(QWidget* pParent = nullptr);

    /// Appends the text on the current line (progress dots).
    void AppendText(const std::string& strText) override;
    /// The text becomes the whole content of an empty pane, else a new line at the end.
    void AddLine(const std::string& strText) override;
    /// Empties the pane.
    void ClearLog() override;

private:
    void InsertAtEnd(const QString& strText);
};
