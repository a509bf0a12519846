#include <gtest/gtest.h>

#include <QApplication>
#include <QBuffer>
#include <QKeyEvent>
#include <QFile>
#include <QTest>
#include <chrono>

#include "GifEncoder.h"
#include "LogEdit.h"
#include "PictureEx.h"
#include "PwdEdit.h"

TEST(LogEditTest, FirstLineWithoutBreakDotsStayOnLine)
{
    CLogEdit edit;
    edit.AddLine("Verbindung wird aufgebaut");
    EXPECT_EQ(edit.toPlainText(), "Verbindung wird aufgebaut");
    edit.AppendText(".");
    edit.AppendText(".");
    edit.AddLine("Fertig");
    EXPECT_EQ(edit.toPlainText(), "Verbindung wird aufgebaut..\nFertig");
    // A user's selection at the top never receives log text.
    QTextCursor cursor = edit.textCursor();
    cursor.setPosition(0);
    cursor.setPosition(5, QTextCursor::KeepAnchor);
    edit.setTextCursor(cursor);
    edit.AddLine("Ende");
    EXPECT_EQ(edit.toPlainText(), "Verbindung wird aufgebaut..\nFertig\nEnde");
    EXPECT_FALSE(edit.document()->isUndoAvailable());
    edit.ClearLog();
    EXPECT_TRUE(edit.toPlainText().isEmpty());
    edit.AddLine("Neu");
    EXPECT_EQ(edit.toPlainText(), "Neu");
    // Through the interface the workers' dialogs use.
    CLog& log = edit;
    log.AppendText("ä");
    EXPECT_EQ(edit.toPlainText(), QString::fromUtf8("Neuä"));
}

TEST(PwdEditTest, OnlyAsciiLettersDigitsAndControls)
{
    CPwdEdit edit;
    QTest::keyClicks(&edit, "ab1");
    QTest::keyClick(&edit, ' ');
    QTest::keyClick(&edit, '!');
    QKeyEvent umlaut(QEvent::KeyPress, Qt::Key_Adiaeresis, Qt::NoModifier, QString::fromUtf8("ä"));
    QApplication::sendEvent(&edit, &umlaut);
    QTest::keyClicks(&edit, "Z9");
    EXPECT_EQ(edit.text(), "ab1Z9");
    QTest::keyClick(&edit, Qt::Key_Backspace);
    EXPECT_EQ(edit.text(), "ab1Z");
    EXPECT_FALSE(edit.AcceptChar(U'ä'));
    EXPECT_FALSE(edit.AcceptChar(0x80));
    EXPECT_TRUE(edit.AcceptChar(0x03));  // Ctrl+C
    EXPECT_TRUE(edit.AcceptChar(0x16));  // Ctrl+V
}

TEST(PwdEditTest, LimitOfTwelve)
{
    CPwdEdit edit;
    EXPECT_EQ(edit.GetLimitText(), 0);
    edit.SetLimitText(12);
    EXPECT_EQ(edit.GetLimitText(), 12);
    QTest::keyClicks(&edit, "abcdefghijkl");
    EXPECT_EQ(edit.text().size(), 12);
    QTest::keyClick(&edit, 'm');  // the 13th letter is refused
    EXPECT_EQ(edit.text(), "abcdefghijkl");
    // Replacing a selected letter keeps the length: allowed at 12.
    edit.setSelection(0, 1);
    QTest::keyClick(&edit, 'X');
    EXPECT_EQ(edit.text(), "Xbcdefghijkl");
    // Control characters and Backspace still work at the limit.
    EXPECT_TRUE(edit.AcceptChar(0x08));
    EXPECT_TRUE(edit.AcceptChar(0x03));
    // Pasting is neither filtered nor limited; typing over the limit then still refuses.
    edit.setText("abcdefghijklmnop");
    edit.end(false);
    EXPECT_FALSE(edit.AcceptChar('q'));
    EXPECT_FALSE(edit.AcceptChar(0x08));  // 16 - 1 = 15 is still above 12
    edit.setSelection(0, 5);
    EXPECT_TRUE(edit.AcceptChar(0x08));   // 16 - 5 = 11
    EXPECT_EQ(edit.maxLength(), 32767);   // the line edit itself keeps no limit
}

namespace
{
QByteArray ToBytes(const std::vector<uint8_t>& v)
{
    return QByteArray(reinterpret_cast<const char*>(v.data()), static_cast<qsizetype>(v.size()));
}

std::vector<uint8_t> TwoFrames(uint16_t nDelayCs)
{
    gifenc::SFrame a{0, 0, 4, 4, std::vector<uint8_t>(16, 1), true, nDelayCs, 1, -1};
    gifenc::SFrame b{2, 2, 2, 2, std::vector<uint8_t>(4, 2), true, nDelayCs, 2, -1};
    return gifenc::Encode(4, 4, {0x000000, 0xFF0000, 0x00FF00, 0x0000FF}, {a, b}, true);
}
} // namespace

TEST(PictureExTest, BusyResourcePlaysAndStopsWithinOneFrame)
{
    CPictureEx picture;
    ASSERT_TRUE(picture.LoadFromResource(CPictureEx::kBusyResourceId, CPictureEx::kBusyResourceType));
    EXPECT_TRUE(picture.IsGif());
    EXPECT_EQ(picture.FrameCount(), 8);
    EXPECT_EQ(picture.PictureSize(), QSize(16, 16));
    EXPECT_EQ(picture.size(), QSize(16, 16));
    EXPECT_FALSE(picture.LoadFromResource(167, "GIF"));
    EXPECT_FALSE(picture.IsLoaded());
    ASSERT_TRUE(picture.LoadFromResource(166, "GIF"));
    ASSERT_TRUE(picture.StartShow());
    EXPECT_TRUE(picture.IsPlaying());
    // 10/100 s per frame: a few frames within a second, and it loops past frame 7.
    QTRY_VERIFY_WITH_TIMEOUT(picture.FramesDrawn() >= 10, 3000);
    const auto tpStart = std::chrono::steady_clock::now();
    picture.StopAnimation();
    const auto nMs = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - tpStart).count();
    EXPECT_LT(nMs, 150);
    EXPECT_FALSE(picture.IsPlaying());
    const int nDrawn = picture.FramesDrawn();
    QTest::qWait(250);
    EXPECT_EQ(picture.FramesDrawn(), nDrawn);
    // Starting again after a stop works; release stops, too.
    ASSERT_TRUE(picture.StartShow());
    QTRY_VERIFY_WITH_TIMEOUT(picture.FramesDrawn() >= 2, 2000);
    picture.ReleasePicture();
    EXPECT_FALSE(picture.IsPlaying());
    EXPECT_FALSE(picture.IsLoaded());
    EXPECT_FALSE(picture.StartShow());
}

TEST(PictureExTest, FramesAreDrawnAtTheirOffsetsWithDisposal)
{
    CPictureEx picture;
    ASSERT_TRUE(picture.LoadFromData(ToBytes(TwoFrames(50))));
    ASSERT_EQ(picture.FrameCount(), 2);
    ASSERT_TRUE(picture.StartShow());
    QTRY_VERIFY_WITH_TIMEOUT(picture.FramesDrawn() >= 1, 1000);
    QImage img = picture.CurrentImage();
    EXPECT_EQ(img.pixelColor(0, 0), QColor(255, 0, 0));
    QTRY_VERIFY_WITH_TIMEOUT(picture.CurrentFrame() == 1, 2000);
    img = picture.CurrentImage();
    EXPECT_EQ(img.pixelColor(3, 3), QColor(0, 255, 0));  // second frame at (2,2)
    EXPECT_EQ(img.pixelColor(0, 0), QColor(255, 0, 0));  // first frame kept (disposal 1)
    picture.StopAnimation();
}

TEST(PictureExTest, SingleImageIsStillWithoutThread)
{
    gifenc::SFrame a{0, 0, 3, 2, std::vector<uint8_t>(6, 1), false, 0, 0, -1};
    CPictureEx picture;
    ASSERT_TRUE(picture.LoadFromData(ToBytes(gifenc::Encode(3, 2, {0, 0x0000FF}, {a}, false))));
    EXPECT_EQ(picture.FrameCount(), 0);
    ASSERT_TRUE(picture.StartShow());
    EXPECT_FALSE(picture.IsPlaying());
    EXPECT_EQ(picture.CurrentImage().pixelColor(2, 1), QColor(0, 0, 255));
    // A still picture of another format loads the same way.
    QImage png(5, 7, QImage::Format_RGB32);
    png.fill(Qt::green);
    QByteArray data;
    QBuffer buffer(&data);
    buffer.open(QIODevice::WriteOnly);
    png.save(&buffer, "PNG");
    ASSERT_TRUE(picture.LoadFromData(data));
    EXPECT_FALSE(picture.IsGif());
    EXPECT_EQ(picture.PictureSize(), QSize(5, 7));
}

TEST(PictureExTest, TruncatedGifKeepsCompleteFramesOrFails)
{
    const auto vec = TwoFrames(10);
    CPictureEx picture;
    // Cut inside the second image: one complete image is left, shown still.
    ASSERT_TRUE(picture.LoadFromData(ToBytes(std::vector<uint8_t>(vec.begin(), vec.end() - 6))));
    EXPECT_TRUE(picture.IsLoaded());
    EXPECT_EQ(picture.FrameCount(), 0);
    // Cut inside the first image, or only a header: nothing to show.
    EXPECT_FALSE(picture.LoadFromData(ToBytes(std::vector<uint8_t>(vec.begin(), vec.begin() + 40))));
    EXPECT_FALSE(picture.LoadFromData(ToBytes(std::vector<uint8_t>(vec.begin(), vec.begin() + 13))));
    EXPECT_FALSE(picture.LoadFromData(QByteArray("GIF89a")));
    EXPECT_FALSE(picture.IsLoaded());
}

TEST(ResourcesTest, StatusIconsAndUnitStrip)
{
    for (const char* psz : {":/img/status_green_152.png", ":/img/status_red_154.png", ":/img/status_yellow_163.png"})
        EXPECT_FALSE(QImage(QString::fromLatin1(psz)).isNull()) << psz;
    const QImage strip(QStringLiteral(":/img/units_164.png"));
    EXPECT_EQ(strip.size(), QSize(256, 16));
    EXPECT_EQ(strip.pixelColor(0, 0), QColor(255, 0, 255));  // mask colour around the images
}
