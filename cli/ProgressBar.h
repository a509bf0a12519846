#pragma once
#include <cstdint>
#include <string>

/// CProgressBar: the firmware dialog's progress display without a window. The bar's range is
/// 0 .. file size; every sent packet moves the position by the packet size in use (not by the
/// bytes the packet held), and the position snaps to the end once a further step would pass
/// it. The percentage is shown from the position, the byte count from the packets' sizes, as
/// the dialog shows them ("Gesendete Bytes:" and "45 %").
///
/// Threads: a plain value; the owner serialises access (CConsoleSink holds it under its lock).
class CProgressBar
{
public:
    /// nRange: the file size in bytes (the upper end of the bar).
    explicit CProgressBar(uint64_t nRange = 0) : m_nRange(nRange) {}

    /// WM_PACKET_SIZE: the step of the bar; 0 is ignored.
    void SetStep(uint64_t nStep);
    /// WM_PACKET_SENT: nBytes went out in one packet.
    void PacketSent(int64_t nBytes);

    uint64_t Range() const { return m_nRange; }
    uint64_t Position() const { return m_nPosition; }
    uint64_t BytesSent() const { return m_nBytes; }
    /// "0 %" before the first packet, "100 %" at the end, else the position in percent
    /// rounded to a whole number.
    const std::string& PercentText() const { return m_strPercent; }

    /// One line of at most nWidth columns: "[#####-----] 45 %  Gesendete Bytes: 46080".
    std::string Render(int nWidth) const;

private:
    uint64_t m_nRange;
    uint64_t m_nStep = 0;
    uint64_t m_nPosition = 0;
    uint64_t m_nBytes = 0;
    std::string m_strPercent = "0 %";
};
