#include "ProgressBar.h"

#include <algorithm>
#include <cstdio>

void CProgressBar::SetStep(uint64_t nStep)
{
    if (nStep != 0)
        m_nStep = nStep;
}

void CProgressBar::PacketSent(int64_t nBytes)
{
    if (nBytes > 0)
        m_nBytes += static_cast<uint64_t>(nBytes);
    // The dialog steps its bar by the packet size and snaps to the end when the next step
    // would pass it; the percentage follows the bar, not the byte count.
    if (m_nRange < m_nPosition + m_nStep)
    {
        m_nPosition = m_nRange;
        m_strPercent = "100 %";
        return;
    }
    m_nPosition += m_nStep;
    char sz[32];
    const double dPercent = m_nRange == 0 ? 100.0 : static_cast<double>(m_nPosition) / static_cast<double>(m_nRange) * 100.0;
    std::snprintf(sz, sizeof sz, "%.0f %%", dPercent);
    m_strPercent = sz;
}

std::string CProgressBar::Render(int nWidth) const
{
    const std::string strTail = " " + m_strPercent + "  Gesendete Bytes: " + std::to_string(m_nBytes);
    // The bar takes what is left of the line, between 10 and 40 cells.
    const int nCells = std::clamp(nWidth - static_cast<int>(strTail.size()) - 2, 10, 40);
    const uint64_t nFilled =
        m_nRange == 0 ? static_cast<uint64_t>(nCells) : m_nPosition * static_cast<uint64_t>(nCells) / m_nRange;
    std::string strLine = "[";
    strLine.append(static_cast<size_t>(nFilled), '#');
    strLine.append(static_cast<size_t>(nCells) - static_cast<size_t>(nFilled), '-');
    strLine += "]";
    strLine += strTail;
    return strLine;
}
