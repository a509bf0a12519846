#include "ConsoleSink.h"

#include "ReportText.h"

namespace
{
constexpr int64_t kTextSending = 2004;
constexpr int64_t kTextWaiting = 2011;

// Erases the screen line the cursor is on.
constexpr const char* kEraseLine = "\r\033[K";
} // namespace

CConsoleSink::CConsoleSink(std::ostream& out, EStyle eStyle) : m_out(out), m_eStyle(eStyle)
{
}

std::string CConsoleSink::ReportText(const SWorkerMessage& msg)
{
    return wm::ReportText(msg, true);  // a number the table lacks stays visible
}

void CConsoleSink::Deliver(SWorkerMessage msg)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    switch (msg.eMessage)
    {
    case wm::WM_REPORT:
        HandleReport(msg);
        break;
    case wm::WM_PACKET_SIZE:
        if (msg.nWParam > 0)
            m_bar.SetStep(static_cast<uint64_t>(msg.nWParam));
        break;
    case wm::WM_PACKET_SENT:
        m_bar.PacketSent(msg.nLParam);
        if (m_bBarEnabled)
        {
            m_bBarShown = true;
            Redraw();
        }
        break;
    default:
        // Busy indicator, operation state and certificate dates show nothing in a log.
        break;
    }
}

void CConsoleSink::HandleReport(const SWorkerMessage& msg)
{
    if (msg.nWParam == wm::STATUS_ICON)
    {
        if (m_eStyle != EStyle::CertificateList && msg.nLParam >= wm::ICON_RED && msg.nLParam <= wm::ICON_YELLOW)
            m_optIcon = msg.nLParam;
        return;
    }
    const std::string strText = ReportText(msg);
    const bool bDotted = msg.nWParam == kTextWaiting || (msg.nWParam == kTextSending && m_eStyle != EStyle::Diagnosis);
    if (!bDotted)
    {
        m_nRunText = 0;
        AddLine(strText);
        return;
    }
    if (m_nRunText != msg.nWParam)
    {
        // A new run: the text itself, as a line.
        m_nRunText = msg.nWParam;
        m_nRunCount = 0;
        AddLine(strText);
        if (m_eStyle == EStyle::Firmware)
        {
            AppendText(".");
            m_nRunCount = 1;
        }
        return;
    }
    // A repeat: dots only, with a line break after a fixed number of them.
    const int nPerLine = m_eStyle == EStyle::Diagnosis ? 80 : 100;
    AppendText(m_eStyle == EStyle::CertificateList ? ".." : ".");
    ++m_nRunCount;
    if (m_nRunCount % nPerLine == 0)
        EndLine();
}

void CConsoleSink::AddLine(const std::string& strText)
{
    EndLine();
    AppendText(strText);
}

void CConsoleSink::AppendText(const std::string& strText)
{
    m_strOpenLine += strText;
    m_bLineOpen = true;
    if (m_bBarShown)
    {
        Redraw();
        return;
    }
    m_out << strText;
    m_out.flush();
}

void CConsoleSink::EndLine()
{
    if (!m_bLineOpen)
        return;
    if (m_bBarShown)
    {
        // The open line was kept back in front of the bar: print it whole above the bar.
        m_out << kEraseLine << m_strOpenLine << '\n';
        m_strOpenLine.clear();
        m_bLineOpen = false;
        Redraw();
        return;
    }
    m_out << '\n';
    m_out.flush();
    m_strOpenLine.clear();
    m_bLineOpen = false;
}

void CConsoleSink::Redraw()
{
    // The open line (the dots) goes in front of the bar, cut to at most half the width.
    std::string strPrefix;
    if (m_bLineOpen)
    {
        const size_t nMax = static_cast<size_t>(m_nWidth / 2);
        size_t nChars = 0, nBytes = 0;
        while (nBytes < m_strOpenLine.size() && nChars < nMax)
        {
            ++nBytes;
            while (nBytes < m_strOpenLine.size() && (static_cast<uint8_t>(m_strOpenLine[nBytes]) & 0xC0) == 0x80)
                ++nBytes;
            ++nChars;
        }
        strPrefix = m_strOpenLine.substr(0, nBytes) + "  ";
        const int nBarWidth = m_nWidth - static_cast<int>(nChars) - 2;
        m_out << kEraseLine << strPrefix << m_bar.Render(nBarWidth);
    }
    else
    {
        m_out << kEraseLine << m_bar.Render(m_nWidth);
    }
    m_out.flush();
}

void CConsoleSink::ClearBarLine()
{
    m_out << kEraseLine;
}

void CConsoleSink::EnableProgressBar(uint64_t nFileSize, int nWidth)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_bBarEnabled = true;
    m_nWidth = nWidth > 20 ? nWidth : 80;
    m_bar = CProgressBar(nFileSize);
}

void CConsoleSink::Finish()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_bBarShown)
    {
        ClearBarLine();
        if (m_bLineOpen)
            m_out << m_strOpenLine << '\n';
        m_out << m_bar.Render(m_nWidth) << '\n';
        m_bBarShown = false;
    }
    else if (m_bLineOpen)
    {
        m_out << '\n';
    }
    m_strOpenLine.clear();
    m_bLineOpen = false;
    m_nRunText = 0;
    m_out.flush();
}

std::optional<int64_t> CConsoleSink::LastIcon() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_optIcon;
}

uint64_t CConsoleSink::BytesSent() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_bar.BytesSent();
}
