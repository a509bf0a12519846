#pragma once
#include <string>

class CLog;

/// The progress dots of a log pane: a progress text (2004 "Sende Daten", 2011 waiting) is
/// written once as a line; each repeat of the same number appends a dot string instead, and
/// after every n-th dot the next one starts a new line. Any other text ends the run.
/// User-interface thread only; one per log pane.
class CDotRun
{
public:
    /// nDotsPerLine: dots before a line break (0 = never); strDot: appended per repeat.
    CDotRun(int nDotsPerLine, std::string strDot) : m_nDotsPerLine(nDotsPerLine), m_strDot(std::move(strDot)) {}

    /// Writes one report of text number nTextId with its text. bStartsWithDot: the first line
    /// of a run is followed by one dot at once (the firmware dialog's form).
    void Log(CLog& log, int64_t nTextId, const std::string& strText, bool bStartsWithDot);
    /// Ends the current run (the next progress text starts a new line).
    void Reset() { m_nRunId = 0; m_nDots = 0; }
    int Dots() const { return m_nDots; }

private:
    void Dot(CLog& log);

    int m_nDotsPerLine;
    std::string m_strDot;
    int64_t m_nRunId = 0;
    int m_nDots = 0;
};
