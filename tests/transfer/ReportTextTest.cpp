// The log text of a worker report, as the dialogs and the command line show it.
#include <gtest/gtest.h>

#include "ReportText.h"

namespace
{
SWorkerMessage Report(int64_t nWParam, int64_t nLParam = 0, WorkerPayload payload = {})
{
    return SWorkerMessage{wm::WM_REPORT, nWParam, nLParam, std::move(payload)};
}
} // namespace

TEST(ReportText, EveryKindOfReportAndTheMarkForUnknownNumbers)
{
    EXPECT_EQ(wm::ReportText(Report(2004)), "Sende Daten");
    EXPECT_EQ(wm::ReportText(Report(wm::TEXT_WSA_ERROR, 0x2746)), "WSA Error: 0x2746");
    EXPECT_EQ(wm::ReportText(Report(wm::TEXT_LOG_RECORD, 0, WorkerLogRecord{{0x90, 0x00, 0x0A}, "Antwort: "})),
              "Antwort: 90 00 0A ");
    EXPECT_EQ(wm::ReportText(Report(wm::REPORT_PAYLOAD_TEXT, 0, std::string("frei"))), "frei");

    // No text: the status icon, other messages, a log record without its payload.
    EXPECT_EQ(wm::ReportText(Report(wm::STATUS_ICON, wm::ICON_GREEN), true), "");
    EXPECT_EQ(wm::ReportText(SWorkerMessage{wm::WM_BUSY, 1, 0, {}}, true), "");
    EXPECT_EQ(wm::ReportText(Report(wm::TEXT_LOG_RECORD), true), "");

    // A number the table lacks: nothing in a dialog, marked on the command line.
    EXPECT_EQ(wm::ReportText(Report(9999)), "");
    EXPECT_EQ(wm::ReportText(Report(9999), true), "#9999");
    EXPECT_EQ(wm::ReportText(Report(0x10000), true), "#65536");
    EXPECT_EQ(wm::ReportText(Report(2004), true), "Sende Daten");
}
