// The console sink prints the runs' texts as the three dialogs log them (dotted progress
// runs differ per dialog), and the firmware progress follows the dialog's bar arithmetic.
#include <gtest/gtest.h>

#include <functional>
#include <sstream>
#include <thread>

#include "ConsoleSink.h"
#include "ProgressBar.h"

namespace
{
void Text(CConsoleSink& sink, int nId, int nRepeat = 1)
{
    for (int i = 0; i < nRepeat; ++i)
        sink.Report(nId);
}

std::string Render(CConsoleSink::EStyle eStyle, const std::function<void(CConsoleSink&)>& fnPost)
{
    std::ostringstream out;
    CConsoleSink sink(out, eStyle);
    fnPost(sink);
    sink.Finish();
    return out.str();
}
} // namespace

TEST(ConsoleSink, FirmwareRunsStartWithADotAndBreakAfterEveryHundredthDot)
{
    EXPECT_EQ(Render(CConsoleSink::EStyle::Firmware,
                  [](CConsoleSink& s) {
                      Text(s, 2003);
                      Text(s, 2004, 3);
                      Text(s, 2011, 2);
                      Text(s, 2004);
                      Text(s, 2005);
                  }),
              "Downloadsitzung wird geöffnet\n"
              "Sende Daten...\n"
              "Warte auf Antwort vom Terminal..\n"
              "Sende Daten.\n"
              "Downloadsitzung wird geschlossen\n");
    // 150 packets: the first line holds 100 dots, the next 50.
    EXPECT_EQ(Render(CConsoleSink::EStyle::Firmware, [](CConsoleSink& s) { Text(s, 2004, 150); }),
              "Sende Daten" + std::string(100, '.') + "\n" + std::string(50, '.') + "\n");
}

TEST(ConsoleSink, CertificateListRepeatsAddTwoDotsAndIgnoreIcons)
{
    std::ostringstream out;
    CConsoleSink sink(out, CConsoleSink::EStyle::CertificateList);
    Text(sink, 2011, 3);
    sink.Post(wm::WM_REPORT, wm::STATUS_ICON, wm::ICON_RED);
    Text(sink, 139);
    sink.Finish();
    EXPECT_EQ(out.str(), "Warte auf Antwort vom Terminal....\nSignatur OK\n");
    EXPECT_FALSE(sink.LastIcon().has_value());
}

TEST(ConsoleSink, DiagnosisDotsOnlyWaitsAndBreaksAfterEightyDots)
{
    EXPECT_EQ(Render(CConsoleSink::EStyle::Diagnosis,
                  [](CConsoleSink& s) {
                      Text(s, 2004, 2);  // not a progress run in this dialog
                      Text(s, 2011, 82);
                  }),
              "Sende Daten\nSende Daten\nWarte auf Antwort vom Terminal" + std::string(80, '.') + "\n.\n");
}

TEST(ConsoleSink, SpecialReportsAndTheLastIcon)
{
    std::ostringstream out;
    CConsoleSink sink(out, CConsoleSink::EStyle::Firmware);
    sink.Post(wm::WM_REPORT, wm::REPORT_PAYLOAD_TEXT, WorkerPayload{std::string("CT Firmware Version: 1.2.3")});
    sink.Post(wm::WM_REPORT, wm::TEXT_WSA_ERROR, 10054);
    sink.Post(wm::WM_REPORT, wm::TEXT_LOG_RECORD, WorkerPayload{WorkerLogRecord{{0x01, 0xAB}, "Antwort: "}});
    sink.Post(wm::WM_REPORT, wm::STATUS_ICON, wm::ICON_YELLOW);
    sink.Post(wm::WM_REPORT, wm::STATUS_ICON, 7);  // not an icon: nothing changes
    sink.Post(wm::WM_BUSY, 1);
    sink.Report(1999);
    sink.Finish();
    EXPECT_EQ(out.str(),
              "CT Firmware Version: 1.2.3\n"
              "WSA Error: 0x2746\n"
              "Antwort: 01 AB \n"
              "[WARNUNG]: Ausführung durch den Benutzer abgebrochen.\n");
    ASSERT_TRUE(sink.LastIcon().has_value());
    EXPECT_EQ(*sink.LastIcon(), wm::ICON_YELLOW);
}

TEST(ConsoleSink, TextsOfManyThreadsStayWholeLines)
{
    std::ostringstream out;
    CConsoleSink sink(out, CConsoleSink::EStyle::Diagnosis);
    std::vector<std::thread> vecThreads;
    for (int t = 0; t < 4; ++t)
        vecThreads.emplace_back([&sink, t] {
            for (int i = 0; i < 200; ++i)
                sink.Post(wm::WM_REPORT, wm::REPORT_PAYLOAD_TEXT, WorkerPayload{"thread " + std::to_string(t) + " line"});
        });
    for (auto& th : vecThreads)
        th.join();
    sink.Finish();
    std::istringstream in(out.str());
    int nLines = 0;
    for (std::string strLine; std::getline(in, strLine); ++nLines)
        ASSERT_TRUE(strLine.size() == 13 && strLine.rfind("thread ", 0) == 0 && strLine.substr(8) == " line") << strLine;
    EXPECT_EQ(nLines, 800);
}

TEST(ProgressBar, StepsByThePacketSizeAndSnapsToTheEnd)
{
    // 3000 bytes in packets of 1024: the bar moves 1024, 2048, then snaps to 3000.
    CProgressBar bar(3000);
    EXPECT_EQ(bar.PercentText(), "0 %");
    bar.SetStep(1024);
    bar.SetStep(0);  // ignored
    bar.PacketSent(1024);
    EXPECT_EQ(bar.Position(), 1024u);
    EXPECT_EQ(bar.PercentText(), "34 %");
    bar.PacketSent(1024);
    EXPECT_EQ(bar.PercentText(), "68 %");
    bar.PacketSent(952);
    EXPECT_EQ(bar.Position(), 3000u);
    EXPECT_EQ(bar.PercentText(), "100 %");
    EXPECT_EQ(bar.BytesSent(), 3000u);
    EXPECT_EQ(bar.Render(60).find("Gesendete Bytes: 3000") != std::string::npos, true);
    // An exact multiple reaches 100 % with the last step, not before.
    CProgressBar exact(2048);
    exact.SetStep(1024);
    exact.PacketSent(1024);
    EXPECT_EQ(exact.PercentText(), "50 %");
    exact.PacketSent(1024);
    EXPECT_EQ(exact.PercentText(), "100 %");
}

TEST(ConsoleSink, ProgressBarKeepsTheDotsInFrontAndLeavesTheLastStateAsALine)
{
    std::ostringstream out;
    CConsoleSink sink(out, CConsoleSink::EStyle::Firmware);
    sink.EnableProgressBar(2000, 80);
    sink.Post(wm::WM_PACKET_SIZE, 1000);
    sink.Report(2004);
    sink.Post(wm::WM_PACKET_SENT, 1, 1000);
    sink.Report(2004);
    sink.Post(wm::WM_PACKET_SENT, 2, 1000);
    sink.Report(139);
    sink.Finish();
    const std::string str = out.str();
    // The finished lines are printed whole; the screen ends with the bar at 100 %.
    EXPECT_NE(str.find("\r\033[KSende Daten..\n"), std::string::npos) << str;
    EXPECT_NE(str.find("Signatur OK"), std::string::npos);
    const std::string strLast = str.substr(str.rfind('\r') + 1);
    EXPECT_EQ(strLast.substr(0, 3), "\033[K");
    EXPECT_NE(str.rfind("] 100 %  Gesendete Bytes: 2000\n"), std::string::npos) << str;
    EXPECT_EQ(sink.BytesSent(), 2000u);
}
