#pragma once
#include <cstdint>
#include <mutex>
#include <optional>
#include <ostream>
#include <string>

#include "ProgressBar.h"
#include "WorkerSink.h"

/// CConsoleSink: terminalctl's receiver of a maintenance run's worker messages. It prints
/// each report text at once, in arrival order, exactly as the dialog of that run appends it
/// to its log pane (same German texts, same progress dots), and keeps the status icon the
/// run posted last.
///
/// Log styles (the three dialogs differ in their dotted progress runs, texts 2004 and 2011):
/// - Firmware: the first text of a run is a line followed by ".", each repeat adds ".", a
///   line break after every 100th dot; the status icon is kept.
/// - CertificateList: the first text is a line, each repeat adds "..", a line break after
///   every 100 repeats; status icons are ignored.
/// - Diagnosis: only 2011 runs: the first text is a line, each repeat adds ".", a line break
///   after every 80 dots.
/// A different text ends a run. Texts: by number from the string table; wParam 0 the text
/// payload; 125 "WSA Error: 0x%x" with lParam; 1030 the record's text followed by its bytes
/// as "%02X ".
///
/// Progress bar (firmware, on a terminal only): after EnableProgressBar the last screen line
/// shows the bar with the percentage and the byte count, redrawn in place; the unfinished
/// log line (the dots) is kept back and shown in front of the bar, and every finished line
/// is printed above it. Finish() prints the last state of the bar as a line of its own.
///
/// Threads: Deliver is called from the worker and the session's receive thread at once; all
/// printing happens under one mutex and returns at once. Ownership: the stream is borrowed
/// and must outlive the sink.
class CConsoleSink final : public CWorkerSink
{
public:
    enum class EStyle
    {
        Firmware,
        CertificateList,
        Diagnosis,
    };

    CConsoleSink(std::ostream& out, EStyle eStyle);

    void Deliver(SWorkerMessage msg) override;

    /// Turns the progress bar on for a file of nFileSize bytes, drawn nWidth columns wide.
    void EnableProgressBar(uint64_t nFileSize, int nWidth);
    /// Ends the output: the open line is finished and the bar (when shown) left as a line.
    void Finish();

    /// The status icon posted last (wm::ICON_*), if any.
    std::optional<int64_t> LastIcon() const;
    /// Bytes reported sent (sum of WM_PACKET_SENT) and the packet size in use.
    uint64_t BytesSent() const;

    /// The text a report message stands for (without dots); empty for messages that show
    /// no text. Exposed for tests.
    static std::string ReportText(const SWorkerMessage& msg);

private:
    void HandleReport(const SWorkerMessage& msg);
    void AddLine(const std::string& strText);
    void AppendText(const std::string& strText);
    void EndLine();
    void Redraw();
    void ClearBarLine();

    std::ostream& m_out;
    const EStyle m_eStyle;
    mutable std::mutex m_mutex;

    // Log state (under m_mutex).
    std::string m_strOpenLine;   // the current line, not yet ended by a line break
    bool m_bLineOpen = false;
    int64_t m_nRunText = 0;      // text number of the dotted run in progress, 0 = none
    int m_nRunCount = 0;         // dots (or repeats) in the run so far
    std::optional<int64_t> m_optIcon;

    // Progress bar (under m_mutex).
    bool m_bBarEnabled = false;
    bool m_bBarShown = false;
    int m_nWidth = 80;
    CProgressBar m_bar;
};
