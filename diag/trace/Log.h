#pragma once
#include <string>

/// A log text sink: the log pane of a dialog (CLogEdit) or any other receiver of log texts.
/// The three operations keep this slot order; CLoggable forwards to them. Implementations
/// say which thread may call them (a window's pane: only its own thread).
class CLog
{
public:
    virtual ~CLog() = default;
    /// Appends the text at the end without a line break (progress dots).
    virtual void AppendText(const std::string& strText) = 0;
    /// Appends the text as a line of its own.
    virtual void AddLine(const std::string& strText) = 0;
    /// Removes all text.
    virtual void ClearLog() = 0;
};
