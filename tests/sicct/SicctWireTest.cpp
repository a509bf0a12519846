// Byte layouts of the SICCT wire module: command texts, assembled commands, values read
// from answers, and the status-word tables.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "SicctStatus.h"
#include "SicctWire.h"
#include "Texts.h"

using namespace sicct;
using Bytes = std::vector<uint8_t>;

namespace
{
Bytes Range(size_t n, uint8_t nStart = 0)
{
    Bytes vec(n);
    for (size_t i = 0; i < n; ++i)
        vec[i] = static_cast<uint8_t>(nStart + i);
    return vec;
}
} // namespace

TEST(SicctWire, EnvelopeIsBigEndianAndRoundTrips)
{
    const Bytes vecBody = {0x80, 0x13, 0x00, 0x46, 0x00};
    const auto vec = BuildEnvelope(C_COMMAND, 0x0102, 0xA0B1, vecBody.data(), vecBody.size());
    const Bytes vecExpected = {0x6B, 0x01, 0x02, 0xA0, 0xB1, 0x00, 0x00, 0x00, 0x00, 0x05,
                               0x80, 0x13, 0x00, 0x46, 0x00};
    EXPECT_EQ(vec, vecExpected);

    SEnvelopeHeader header;
    ASSERT_TRUE(ParseEnvelopeHeader(vec.data(), vec.size(), header));
    EXPECT_EQ(header.nType, C_COMMAND);
    EXPECT_EQ(header.nAddress, 0x0102);
    EXPECT_EQ(header.nSequence, 0xA0B1);
    EXPECT_EQ(header.nBodyLength, 5u);

    const Bytes vecLong = {0x83, 0, 0, 0, 0, 0, 0x01, 0x02, 0x03, 0x04};
    ASSERT_TRUE(ParseEnvelopeHeader(vecLong.data(), vecLong.size(), header));
    EXPECT_EQ(header.nBodyLength, 0x01020304u);
    EXPECT_FALSE(ParseEnvelopeHeader(vecLong.data(), 9, header));
}

TEST(SicctWire, CommandTextsFollowTheBlankCountRule)
{
    Bytes vec;
    // The trailing blank of the close text is the Le byte.
    ASSERT_TRUE(CommandTextToBytes("80 29 00 00 ", {}, vec));
    EXPECT_EQ(vec, (Bytes{0x80, 0x29, 0x00, 0x00, 0x00}));
    ASSERT_TRUE(CommandTextToBytes("80 11 00 00", {}, vec));
    EXPECT_EQ(vec, (Bytes{0x80, 0x11, 0x00, 0x00}));
    // A blank within the first two characters is not counted.
    ASSERT_TRUE(CommandTextToBytes(" 0a 1b", {}, vec));
    EXPECT_EQ(vec, (Bytes{0x0A, 0x1B}));

    ASSERT_TRUE(BuildTableCommand(CMD_ICC_STATUS, "41", vec));
    EXPECT_EQ(vec, (Bytes{0x80, 0x13, 0x41, 0x80, 0x00}));
    ASSERT_TRUE(BuildTableCommand(CMD_RESET_CARD, "0A", vec));
    EXPECT_EQ(vec, (Bytes{0x80, 0x11, 0x0A, 0x01, 0x00}));
    ASSERT_TRUE(BuildTableCommand(CMD_SESSION_CLOSE, {}, vec));
    EXPECT_EQ(vec.size(), 5u);
    ASSERT_TRUE(BuildTableCommand(CMD_DIAGNOSIS_TEXT, {}, vec));
    ASSERT_EQ(vec.size(), 21u);
    EXPECT_EQ(vec[5], 0x50);
    EXPECT_EQ(vec[6], 14);
    EXPECT_EQ(vec[17], 0x7B);  // ä in DIN 66003

    EXPECT_FALSE(BuildTableCommand(999, {}, vec));
    EXPECT_FALSE(CommandTextToBytes("80 1G", {}, vec));
    EXPECT_FALSE(BuildTableCommand(CMD_DISPLAY, "4", vec));  // odd digit count
}

TEST(SicctWire, SessionOpenCarriesCredentialsAndRespectsTheLcLimit)
{
    Bytes vec;
    ASSERT_TRUE(BuildSessionOpen("admin", "12345678", SessionTag(1, 20), vec));
    const Bytes vecExpected = {0x80, 0x28, 0x00, 0x00, 21, 0x69, 19, 0x13, 5,   'a', 'd', 'm', 'i', 'n', 0x13,
                               8,    '1',  '2',  '3',  '4', '5', '6', '7', '8', 0x13, 0x00, 0x00};
    EXPECT_EQ(vec, vecExpected);
    EXPECT_EQ(vec.size(), 5u + 8u + 14u);

    ASSERT_TRUE(BuildSessionOpen("a", "b", SessionTag(1, 3), vec));
    EXPECT_EQ(vec[5], 0x73);
    EXPECT_EQ(SessionTag(1, 30), 0x69);
    EXPECT_EQ(SessionTag(2, 3), 0x69);

    ASSERT_TRUE(BuildSessionOpen(std::string(120, 'u'), std::string(121, 'p'), 0x69, vec));
    EXPECT_EQ(vec[4], 249);
    EXPECT_EQ(vec.size(), 241u + 14u);
    EXPECT_FALSE(BuildSessionOpen(std::string(121, 'u'), std::string(121, 'p'), 0x69, vec));
    EXPECT_TRUE(vec.empty());
}

TEST(SicctWire, SessionCloseLengthsFollowTheIdentifier)
{
    Bytes vec;
    ASSERT_TRUE(BuildSessionClose({}, 0x69, vec));
    EXPECT_EQ(vec, (Bytes{0x80, 0x29, 0x00, 0x00, 0x00}));

    // The usual 12-byte identifier: the bytes the terminals have always received.
    const Bytes vecId12 = Range(12, 0xA0);
    ASSERT_TRUE(BuildSessionClose(vecId12, 0x69, vec));
    ASSERT_EQ(vec.size(), 27u);
    EXPECT_EQ(vec[4], 0x15);
    EXPECT_EQ(vec[6], 0x12);
    EXPECT_EQ(Bytes(vec.begin() + 13, vec.begin() + 25), vecId12);
    EXPECT_EQ(vec[25], 0x00);
    EXPECT_EQ(vec[26], 0x00);

    // Same bytes as the text-based construction of the close command for 12 bytes:
    // "80 29 00 00 " + " %02x %s" with M and "69 12 13 00 13 00 13 %02x %s".
    std::string strId;
    for (uint8_t b : vecId12)
    {
        char sz[4];
        std::snprintf(sz, sizeof(sz), " %02x", b);
        strId += sz;
    }
    char szInner[128];
    std::snprintf(szInner, sizeof(szInner), "69 12 13 00 13 00 13 %02x %s", 12, strId.c_str());
    char szAll[256];
    std::snprintf(szAll, sizeof(szAll), "80 29 00 00  %02x %s", 8 + 12 + 1, szInner);
    Bytes vecText;
    ASSERT_TRUE(CommandTextToBytes(szAll, {}, vecText));
    EXPECT_EQ(vec, vecText);

    // A 5-byte identifier gets its own lengths instead of the fixed 0x12.
    ASSERT_TRUE(BuildSessionClose(Range(5, 1), 0x73, vec));
    const Bytes vecExpected5 = {0x80, 0x29, 0x00, 0x00, 14,   0x73, 11, 0x13, 0x00, 0x13,
                                0x00, 0x13, 5,    1,    2,    3,    4,  5,    0x00, 0x00};
    EXPECT_EQ(vec, vecExpected5);

    EXPECT_TRUE(BuildSessionClose(Range(MAX_SESSION_ID_BYTES), 0x69, vec));
    EXPECT_LT(vec[6], 0x80);
    EXPECT_FALSE(BuildSessionClose(Range(MAX_SESSION_ID_BYTES + 1), 0x69, vec));
}

TEST(SicctWire, FirmwarePacketsUseThreeLengthForms)
{
    struct SCase
    {
        size_t n;
        Bytes vecHead;  // bytes after 80 25 00 00
        size_t nTail;   // Le bytes
        size_t nBody;
    };
    const SCase aCases[] = {
        {1, {3, 0x73, 1}, 1, 9},
        {127, {129, 0x73, 127}, 1, 135},
        {128, {131, 0x73, 0x81, 128}, 1, 137},
        {252, {255, 0x73, 0x81, 252}, 1, 261},
        {253, {0x00, 0x01, 0x01, 0x73, 0x82, 0x00, 253}, 2, 266},
        {65531, {0x00, 0xFF, 0xFF, 0x73, 0x82, 0xFF, 0xFB}, 2, 65544},
    };
    for (const auto& c : aCases)
    {
        SCOPED_TRACE(c.n);
        const Bytes vecData = Range(c.n);
        Bytes vec;
        ASSERT_TRUE(BuildFirmwarePacket(vecData.data(), vecData.size(), false, vec));
        ASSERT_EQ(vec.size(), c.nBody);
        EXPECT_EQ(Bytes(vec.begin(), vec.begin() + 4), (Bytes{0x80, 0x25, 0x00, 0x00}));
        EXPECT_EQ(Bytes(vec.begin() + 4, vec.begin() + 4 + c.vecHead.size()), c.vecHead);
        const size_t nDataAt = 4 + c.vecHead.size();
        EXPECT_EQ(Bytes(vec.begin() + nDataAt, vec.begin() + nDataAt + c.n), vecData);
        const Bytes vecLe = c.nTail == 1 ? Bytes{0x00} : Bytes{0x01, 0x00};
        EXPECT_EQ(Bytes(vec.end() - c.nTail, vec.end()), vecLe);
    }
    const Bytes vecData = Range(70000);
    Bytes vec;
    ASSERT_TRUE(BuildFirmwarePacket(vecData.data(), 10, true, vec));
    EXPECT_EQ(vec[1], 0x26);
    EXPECT_FALSE(BuildFirmwarePacket(vecData.data(), 0, false, vec));
    EXPECT_FALSE(BuildFirmwarePacket(vecData.data(), 65532, false, vec));
}

TEST(SicctWire, CertificateListWriteKeepsBodyLengthEqualToBytesSent)
{
    const Bytes vecData = Range(70000);
    Bytes vec;
    for (size_t n : {size_t{1}, size_t{252}, size_t{253}, size_t{255}})
    {
        ASSERT_TRUE(BuildCertificateListWrite(vecData.data(), n, vec));
        EXPECT_EQ(vec.size(), n + 5);
        EXPECT_EQ(vec[4], n);
    }
    for (size_t n : {size_t{256}, size_t{65535}})
    {
        ASSERT_TRUE(BuildCertificateListWrite(vecData.data(), n, vec));
        EXPECT_EQ(vec.size(), n + 7);
        EXPECT_EQ(Bytes(vec.begin(), vec.begin() + 7),
                  (Bytes{0x80, 0x23, 0xC0, 0x05, 0x00, static_cast<uint8_t>(n >> 8), static_cast<uint8_t>(n)}));
        EXPECT_EQ(Bytes(vec.begin() + 7, vec.end()), Bytes(vecData.begin(), vecData.begin() + n));
    }
    EXPECT_FALSE(BuildCertificateListWrite(vecData.data(), 0, vec));
    EXPECT_FALSE(BuildCertificateListWrite(vecData.data(), 65536, vec));
    EXPECT_FALSE(BuildCertificateListWrite(nullptr, 10, vec));
}

TEST(SicctWire, SessionIdentifierIsTheThirdObject)
{
    // Echo of user and password, then the identifier.
    const Bytes vecAnswer = {0x69, 0x14, 0x13, 0x02, 'a', 'b', 0x13, 0x01, 'c', 0x13, 0x03, 0x0A, 0x1B, 0xFF, 0x90, 0x00};
    EXPECT_EQ(ExtractSessionId(vecAnswer.data(), vecAnswer.size()), " 0a 1b ff");
    EXPECT_EQ(SessionIdBytes(" 0a 1b ff"), (Bytes{0x0A, 0x1B, 0xFF}));

    // Empty first objects, as many terminals send them.
    const Bytes vecEmpty = {0x69, 0x12, 0x13, 0x00, 0x13, 0x00, 0x13, 0x02, 0x01, 0x02, 0x90, 0x00};
    EXPECT_EQ(ExtractSessionId(vecEmpty.data(), vecEmpty.size()), " 01 02");

    // A value byte 0x13 inside the identifier is not the start of another object.
    const Bytes vecInner = {0x69, 0x0C, 0x13, 0x00, 0x13, 0x00, 0x13, 0x04, 0x0A, 0x13, 0x02, 0xFF, 0x90, 0x00};
    EXPECT_EQ(ExtractSessionId(vecInner.data(), vecInner.size()), " 0a 13 02 ff");

    // Cut short inside the identifier: only the bytes present.
    const Bytes vecCut = {0x69, 0x12, 0x13, 0x00, 0x13, 0x00, 0x13, 0x0C, 0x01, 0x02};
    EXPECT_EQ(ExtractSessionId(vecCut.data(), vecCut.size()), " 01 02");
    EXPECT_EQ(ExtractSessionId(vecCut.data(), 7), "");
    EXPECT_EQ(ExtractSessionId(nullptr, 0), "");
}

TEST(SicctWire, MaxPacketSizeLayoutsAandB)
{
    const Bytes vecB = {0x73, 0x07, 0x04, 0x01, 0x00, 0x04, 0x02, 0x05, 0x00, 0x90, 0x00};
    const Bytes vecA = {0x73, 0x09, 0x80, 0x01, 0x00, 0x02, 0x02, 0x00, 0x05, 0x90, 0x00};
    EXPECT_EQ(ReadMaxPacketSize(vecB.data(), vecB.size()), 1280u);
    EXPECT_EQ(ReadMaxPacketSize(vecA.data(), vecA.size()), 1280u);

    const Bytes vecB1 = {0x73, 0x06, 0x04, 0x01, 0x00, 0x04, 0x01, 0xF0, 0x90, 0x00};
    EXPECT_EQ(ReadMaxPacketSize(vecB1.data(), vecB1.size()), 0xF0u);
    const Bytes vecBNoFirst = {0x73, 0x06, 0x99, 0x04, 0x02, 0x01, 0x00, 0x90, 0x00};
    EXPECT_EQ(ReadMaxPacketSize(vecBNoFirst.data(), vecBNoFirst.size()), 256u);
    const Bytes vecBLongFirst = {0x73, 0x08, 0x04, 0x02, 0x00, 0x00, 0x04, 0x02, 0x08, 0x00, 0x90, 0x00};
    EXPECT_EQ(ReadMaxPacketSize(vecBLongFirst.data(), vecBLongFirst.size()), 2048u);
    // A one-byte size in layout A stays one byte: the status word is not part of it.
    const Bytes vecA1 = {0x73, 0x08, 0x80, 0x01, 0x00, 0x02, 0x01, 0x40, 0x90, 0x00};
    EXPECT_EQ(ReadMaxPacketSize(vecA1.data(), vecA1.size()), 0x40u);

    const Bytes vecWrongOuter = {0x73, 0x05, 0x04, 0x01, 0x00, 0x04, 0x02, 0x05, 0x00, 0x90, 0x00};
    EXPECT_EQ(ReadMaxPacketSize(vecWrongOuter.data(), vecWrongOuter.size()), 0u);
    const Bytes vecNone = {0x73, 0x00, 0x90, 0x00};
    EXPECT_EQ(ReadMaxPacketSize(vecNone.data(), vecNone.size()), 0u);
    const Bytes vecOther = {0x90, 0x00};
    EXPECT_EQ(ReadMaxPacketSize(vecOther.data(), vecOther.size()), 0u);

    // Cut short before the size is complete: nothing is read beyond the answer.
    for (size_t n = 0; n < 9; ++n)
    {
        SCOPED_TRACE(n);
        const Bytes vecCutA(vecA.begin(), vecA.begin() + static_cast<long>(n));
        const Bytes vecCutB(vecB.begin(), vecB.begin() + static_cast<long>(n));
        EXPECT_EQ(ReadMaxPacketSize(vecCutA.data(), vecCutA.size()), 0u);
        EXPECT_EQ(ReadMaxPacketSize(vecCutB.data(), vecCutB.size()), 0u);
    }
}

TEST(SicctWire, AtrTextAfterRefusedReset)
{
    EXPECT_TRUE(ResetRefusedAsUnpaired(1, 20));
    EXPECT_TRUE(ResetRefusedAsUnpaired(2, 40));
    EXPECT_FALSE(ResetRefusedAsUnpaired(1, 19));
    EXPECT_FALSE(ResetRefusedAsUnpaired(0, 30));
}

TEST(SicctStatus, SuccessWordsAndCommonRowsFirst)
{
    for (uint16_t sw : {0x9000, 0x9001, 0x9002, 0x9003, 0x900F})
        EXPECT_TRUE(IsSuccessStatus(sw)) << std::hex << sw;
    for (uint16_t sw : {0x9004, 0x6100, 0x0000, 0x900E})
        EXPECT_FALSE(IsSuccessStatus(sw)) << std::hex << sw;

    // 0x9001 succeeds but has no text for a session open.
    auto r = EvaluateStatus(ECommandKind::SessionOpen, 0x9001);
    EXPECT_TRUE(r.bSuccess);
    EXPECT_TRUE(r.vecTextIds.empty());

    // The common rows win over every command table.
    for (auto eKind : {ECommandKind::CardResetOrCertificate, ECommandKind::StatusQuery, ECommandKind::SessionOpen,
                       ECommandKind::SessionClose, ECommandKind::DownloadInit, ECommandKind::DownloadData,
                       ECommandKind::DownloadFinish})
    {
        r = EvaluateStatus(eKind, 0x6F00);
        EXPECT_FALSE(r.bSuccess);
        EXPECT_EQ(r.vecTextIds, std::vector<int>{6026});
        EXPECT_EQ(EvaluateStatus(eKind, 0x6700).vecTextIds, std::vector<int>{6017});
        EXPECT_EQ(EvaluateStatus(eKind, 0x6941).vecTextIds, std::vector<int>{6019});
        EXPECT_EQ(EvaluateStatus(eKind, 0x6E00).vecTextIds, std::vector<int>{6025});
        // Unknown failure: no text, still a failure.
        r = EvaluateStatus(eKind, 0x6B00);
        EXPECT_FALSE(r.bSuccess);
        EXPECT_TRUE(r.vecTextIds.empty());
    }
    EXPECT_EQ(StatusWordOf(nullptr, 0), 0);
    const Bytes vec = {0x01, 0x64, 0xA1};
    EXPECT_EQ(StatusWordOf(vec.data(), vec.size()), 0x64A1);
}

TEST(SicctStatus, CommandTablesPickTheirOwnTexts)
{
    struct SRow
    {
        ECommandKind eKind;
        uint16_t sw;
        std::vector<int> vecTexts;
    };
    const SRow aRows[] = {
        {ECommandKind::SessionOpen, 0x6200, {6000}},     {ECommandKind::SessionOpen, 0x6400, {6001}},
        {ECommandKind::SessionOpen, 0x6401, {143}},      {ECommandKind::SessionOpen, 0x6402, {144}},
        {ECommandKind::SessionOpen, 0x6900, {6002}},     {ECommandKind::SessionOpen, 0x9000, {6003}},
        {ECommandKind::SessionClose, 0x6200, {6004}},    {ECommandKind::SessionClose, 0x6403, {6006}},
        {ECommandKind::SessionClose, 0x6900, {6007}},    {ECommandKind::SessionClose, 0x9000, {6008}},
        {ECommandKind::StatusQuery, 0x6400, {6030}},     {ECommandKind::StatusQuery, 0x64A1, {6031}},
        {ECommandKind::StatusQuery, 0x6900, {6032}},     {ECommandKind::StatusQuery, 0x9000, {}},
        {ECommandKind::CardResetOrCertificate, 0x6400, {6029}},
        {ECommandKind::CardResetOrCertificate, 0x6900, {6018}},
        {ECommandKind::CardResetOrCertificate, 0x9000, {6028}},
        {ECommandKind::CardResetOrCertificate, 0x64A1, {}},
        {ECommandKind::DownloadInit, 0x6900, {6002}},    {ECommandKind::DownloadInit, 0x9000, {6016}},
        {ECommandKind::DownloadInit, 0x6501, {6010}},    {ECommandKind::DownloadData, 0x6900, {6012}},
        {ECommandKind::DownloadData, 0x6400, {6009}},    {ECommandKind::DownloadData, 0x9000, {}},
        {ECommandKind::DownloadFinish, 0x9000, {6014, 139}},
        {ECommandKind::DownloadFinish, 0x6400, {140}},   {ECommandKind::DownloadFinish, 0x6900, {6012}},
        {ECommandKind::NoTexts, 0x6F00, {}},
    };
    for (const auto& row : aRows)
    {
        SCOPED_TRACE(testing::Message() << static_cast<int>(row.eKind) << " " << std::hex << row.sw);
        const auto r = EvaluateStatus(row.eKind, row.sw);
        EXPECT_EQ(r.vecTextIds, row.vecTexts);
        EXPECT_EQ(r.bSuccess, row.sw == 0x9000);
    }
}

TEST(SicctStatus, EveryReportedTextExistsInTheStringTable)
{
    for (auto eKind : {ECommandKind::CardResetOrCertificate, ECommandKind::StatusQuery, ECommandKind::SessionOpen,
                       ECommandKind::SessionClose, ECommandKind::DownloadInit, ECommandKind::DownloadData,
                       ECommandKind::DownloadFinish})
    {
        for (uint32_t sw = 0; sw <= 0xFFFF; ++sw)
            for (int nText : EvaluateStatus(eKind, static_cast<uint16_t>(sw)).vecTextIds)
                ASSERT_TRUE(texts::Has(nText)) << nText << " for " << std::hex << sw;
    }
}
