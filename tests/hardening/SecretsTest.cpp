// The administrator's password must never reach the debug file or the system log: a login
// against the simulated terminal with every trace output on, successful and refused, then
// the password is searched for in the file, the system log reports and the debugger lines,
// as raw bytes and in the hex forms the trace uses for data.
// (That the settings file is created with mode 0600 is tested with the settings store, in
// tests/platform/RegFileStoreTest.cpp.)
#include <gtest/gtest.h>

#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "ClockLinux.h"
#include "FakeSystemLog.h"
#include "Logging.h"
#include "RecordingSink.h"
#include "SicctSession.h"
#include "TerminalSim.h"

namespace
{
// Distinctive, and long enough that no chance match in a log is possible.
const std::string kPassword = "Qx7!vR2#pL9@wZ4$";

std::vector<std::string> SecretForms(const std::string& strSecret)
{
    std::string strUpper, strLower, strUpperNoGap, strLowerNoGap;
    char sz[4];
    for (unsigned char c : strSecret)
    {
        std::snprintf(sz, sizeof sz, "%02X", c);
        strUpper += std::string(sz) + " ";
        strUpperNoGap += sz;
        std::snprintf(sz, sizeof sz, "%02x", c);
        strLower += std::string(sz) + " ";
        strLowerNoGap += sz;
    }
    // A fragment is enough to give the secret away: search for its first half too.
    const std::string strHalf = strSecret.substr(0, strSecret.size() / 2);
    strUpper.pop_back();
    strLower.pop_back();
    return {strSecret, strHalf, strUpper, strLower, strUpperNoGap, strLowerNoGap};
}

void ExpectFree(const std::string& strWhere, const std::string& strText)
{
    for (const std::string& strForm : SecretForms(kPassword))
        EXPECT_EQ(strText.find(strForm), std::string::npos) << strWhere << " holds the password as \"" << strForm << "\"";
}

std::string ReadAll(const std::string& strPath)
{
    std::ifstream in(strPath, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

std::string SinkText(const CRecordingSink& sink)
{
    std::string strAll;
    for (const SWorkerMessage& msg : sink.Messages())
    {
        if (const auto* pText = std::get_if<std::string>(&msg.payload))
            strAll += *pText + "\n";
        if (const auto* pRecord = std::get_if<WorkerLogRecord>(&msg.payload))
            strAll += pRecord->strText + std::string(pRecord->vecData.begin(), pRecord->vecData.end()) + "\n";
    }
    return strAll;
}

class SecretsTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        m_strLogPath = ::testing::TempDir() + "tc_secrets_" + std::to_string(::getpid()) + ".log";
        std::remove(m_strLogPath.c_str());
        std::remove((m_strLogPath + ".old").c_str());
    }
    void TearDown() override
    {
        std::remove(m_strLogPath.c_str());
        std::remove((m_strLogPath + ".old").c_str());
    }

    /// One connect / login / logout / disconnect with every trace output on.
    void RunLogin(const std::string& strTerminalPassword, bool bExpectLogin, uint8_t nProtocol)
    {
        sim::TerminalConfig config = sim::MakeDemoTerminal();
        config.strPassword = strTerminalPassword;
        config.nProtocolCode = nProtocol;
        config.bAllowAnonymous = false;
        sim::CTerminalSim terminal(config);
        std::string strError;
        ASSERT_EQ(terminal.Start(&strError), sim::SIM_OK) << strError;

        os::CClockLinux clock;
        CLogging logging(clock, m_systemLog, m_debugOutput, m_strLogPath, true, true);
        ASSERT_TRUE(logging.IsProcessInstance());

        CRecordingSink sink;
        SSessionTiming timing;
        timing.nCloseDelayMs = 0;
        timing.nWaitSliceMs = 100;
        timing.nMaxSlices = 50;
        CSicctSession session(sink, nullptr, timing);
        session.SetCredentials("admin", kPassword);
        session.SetSicctVersion(1, 20);
        std::atomic<bool> bCancel{false};
        uint8_t nCode = nProtocol;
        ASSERT_TRUE(session.Connect("127.0.0.1", terminal.GetPort(), nCode))
            << ::testing::PrintToString(sink.Texts()) << " " << ::testing::PrintToString(terminal.GetLog());
        EXPECT_EQ(session.OpenCtSession(bCancel), bExpectLogin);
        if (bExpectLogin)
        {
            EXPECT_TRUE(session.CloseCtSession(bCancel));
        }
        session.Disconnect();

        // The terminal did receive the password: the check below is not vacuous.
        const std::vector<std::string> vecAttempts = terminal.GetLoginAttempts();
        ASSERT_EQ(vecAttempts.size(), 1u);
        EXPECT_EQ(vecAttempts[0], "admin:" + kPassword);
        terminal.Stop();
        m_strSinkText += SinkText(sink);
    }

    std::string m_strLogPath;
    CFakeSystemLog m_systemLog;
    CFakeDebugOutput m_debugOutput;
    std::string m_strSinkText;
};

TEST_F(SecretsTest, LoginLeavesNoPasswordInDebugFileSystemLogOrDebugger)
{
    RunLogin(kPassword, true, 0x30);     // accepted, TLS 1.2
    RunLogin("other-password", false, 0x10); // refused, TLS 1.0: the error path traces more

    const std::string strFile = ReadAll(m_strLogPath);
    // The facility did write the session's steps, so the search covered a real trace.
    ASSERT_NE(strFile.find("(Connect) entering"), std::string::npos) << strFile.substr(0, 400);
    ExpectFree("debug file", strFile);

    std::string strSystemLog;
    for (const auto& [strSource, strText] : m_systemLog.Reports())
        strSystemLog += strSource + ": " + strText + "\n";
    ExpectFree("system log", strSystemLog);

    std::string strDebugger;
    for (const std::string& strLine : m_debugOutput.Lines())
        strDebugger += strLine;
    ASSERT_FALSE(strDebugger.empty());
    ExpectFree("debugger output", strDebugger);

    // What the dialog's log pane shows is written to screen and export: no password there either.
    ExpectFree("worker messages", m_strSinkText);
}
} // namespace
