#include "DotRun.h"

#include "Log.h"

namespace
{
constexpr int64_t kTextSending = 2004;
constexpr int64_t kTextWaiting = 2011;
} // namespace

void CDotRun::Dot(CLog& log)
{
    // The break goes before the dot after a full line, so a run that ends on a full line
    // leaves no empty line behind.
    if (m_nDotsPerLine > 0 && m_nDots > 0 && m_nDots % m_nDotsPerLine == 0)
        log.AddLine(m_strDot);
    else
        log.AppendText(m_strDot);
    ++m_nDots;
}

void CDotRun::Log(CLog& log, int64_t nTextId, const std::string& strText, bool bStartsWithDot)
{
    if (nTextId == kTextSending || nTextId == kTextWaiting)
    {
        if (m_nRunId == nTextId)
        {
            Dot(log);
            return;
        }
        m_nRunId = nTextId;
        m_nDots = 0;
        log.AddLine(strText);
        if (bStartsWithDot)
            Dot(log);
        return;
    }
    Reset();
    if (!strText.empty())
        log.AddLine(strText);
}
