// Command and response objects: SetData's checks and the status word with its trace lines.
#include <cstdint>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "BCSCommand.h"
#include "BCSResponse.h"
#include "FakeClock.h"
#include "FakeSystemLog.h"
#include "Logging.h"

namespace
{
class BcsTest : public ::testing::Test
{
protected:
    // The trace lines of GetStatusWord go through the process-wide facility to the debugger.
    BcsTest() : m_log(m_clock, m_systemLog, m_debug) {}

    std::vector<std::string> Lines() const { return m_debug.Lines(); }

    CFakeClock m_clock;
    CFakeSystemLog m_systemLog;
    CFakeDebugOutput m_debug;
    CLogging m_log;
};

TEST_F(BcsTest, NewObjectAddressesTheTerminalWithoutData)
{
    CBCSCommand cmd;
    EXPECT_EQ(cmd.GetDestination(), 1);
    EXPECT_EQ(cmd.GetSource(), 0);
    EXPECT_EQ(cmd.GetData(), nullptr);
    EXPECT_EQ(cmd.GetDataLen(), 0);
}

TEST_F(BcsTest, SetDataTakesTheValuesAndKeepsThePointer)
{
    uint8_t abApdu[] = {0x20, 0x12, 0x01, 0x00, 0x00};
    const uint8_t nDest = 1, nSrc = 2;
    const uint16_t nLen = sizeof abApdu;
    CBCSCommand cmd;
    EXPECT_EQ(cmd.SetData(&nDest, &nSrc, abApdu, &nLen), bcs::BCS_OK);
    EXPECT_EQ(cmd.GetDestination(), 1);
    EXPECT_EQ(cmd.GetSource(), 2);
    EXPECT_EQ(cmd.GetData(), abApdu);
    EXPECT_EQ(cmd.GetDataLen(), 5);
}

TEST_F(BcsTest, SetDataWithZeroLengthOrMissingPointerChangesNothing)
{
    uint8_t abFirst[] = {0x20, 0x11, 0x00, 0x00};
    uint8_t abSecond[] = {0x00};
    const uint8_t nDest = 0, nSrc = 2;
    const uint16_t nLen = sizeof abFirst;
    const uint16_t nZero = 0;
    CBCSCommand cmd;
    ASSERT_EQ(cmd.SetData(&nDest, &nSrc, abFirst, &nLen), bcs::BCS_OK);

    const uint8_t nOtherDest = 1, nOtherSrc = 0;
    const uint16_t nOtherLen = 1;
    EXPECT_EQ(cmd.SetData(&nOtherDest, &nOtherSrc, abSecond, &nZero), bcs::BCS_ERR_PARAM);
    EXPECT_EQ(cmd.SetData(nullptr, &nOtherSrc, abSecond, &nOtherLen), bcs::BCS_ERR_PARAM);
    EXPECT_EQ(cmd.SetData(&nOtherDest, nullptr, abSecond, &nOtherLen), bcs::BCS_ERR_PARAM);
    EXPECT_EQ(cmd.SetData(&nOtherDest, &nOtherSrc, nullptr, &nOtherLen), bcs::BCS_ERR_PARAM);
    EXPECT_EQ(cmd.SetData(&nOtherDest, &nOtherSrc, abSecond, nullptr), bcs::BCS_ERR_PARAM);

    EXPECT_EQ(cmd.GetDestination(), 0);
    EXPECT_EQ(cmd.GetSource(), 2);
    EXPECT_EQ(cmd.GetData(), abFirst);
    EXPECT_EQ(cmd.GetDataLen(), 4);
}

TEST_F(BcsTest, TwoByteResponseIsTheStatusWordAndIsTraced)
{
    uint8_t abRes[] = {0x90, 0x00};
    const uint8_t nDest = 2, nSrc = 1;
    const uint16_t nLen = 2;
    CBCSResponse res;
    ASSERT_EQ(res.SetData(&nDest, &nSrc, abRes, &nLen), bcs::BCS_OK);
    EXPECT_EQ(res.GetStatusWord(), 0x9000);

    const auto vecLines = Lines();
    ASSERT_EQ(vecLines.size(), 3u);
    EXPECT_NE(vecLines[0].find(";CtApi;apRes->GetDataLen();0x2;"), std::string::npos) << vecLines[0];
    EXPECT_NE(vecLines[1].find(";CtApi;apRes->GetData()[apRes->GetDataLen() - 2];0x90;"), std::string::npos);
    EXPECT_NE(vecLines[2].find(";CtApi;apRes->GetData()[apRes->GetDataLen() - 1];0x0;"), std::string::npos);
    for (const auto& strLine : vecLines)
    {
        EXPECT_EQ(strLine.substr(0, 7), "0x0004;");
        EXPECT_NE(strLine.find(";bcs/BCSResponse.cpp;"), std::string::npos) << strLine;
    }
}

TEST_F(BcsTest, StatusWordComesFromTheLastTwoBytesOfTheLength)
{
    // A receive buffer larger than the answer: only GetDataLen bytes count.
    uint8_t abRes[8] = {0x3B, 0x8F, 0x63, 0xC1, 0xEE, 0xEE, 0xEE, 0xEE};
    CBCSResponse res;
    const uint8_t nDest = 2, nSrc = 0;
    const uint16_t nCapacity = sizeof abRes;
    ASSERT_EQ(res.SetData(&nDest, &nSrc, abRes, &nCapacity), bcs::BCS_OK);
    res.SetDataLen(4);
    EXPECT_EQ(res.GetStatusWord(), 0x63C1);
    ASSERT_EQ(Lines().size(), 3u);
    EXPECT_NE(Lines()[0].find(";apRes->GetDataLen();0x4;"), std::string::npos);
}

TEST_F(BcsTest, ShortOrMissingResponseGivesFFFFWithoutTrace)
{
    uint8_t abRes[] = {0x90};
    CBCSResponse res;
    const uint8_t nDest = 2, nSrc = 1;
    const uint16_t nLen = 1;
    ASSERT_EQ(res.SetData(&nDest, &nSrc, abRes, &nLen), bcs::BCS_OK);
    EXPECT_EQ(res.GetStatusWord(), bcs::SW_NONE);

    CBCSResponse empty;
    EXPECT_EQ(empty.GetStatusWord(), bcs::SW_NONE);
    empty.SetDataLen(256);  // a length without a buffer must not be read
    EXPECT_EQ(empty.GetStatusWord(), bcs::SW_NONE);
    EXPECT_TRUE(Lines().empty());
}
} // namespace
