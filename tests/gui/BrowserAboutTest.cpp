#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QTextBlock>
#include <QTextDocument>
#include <QTextFragment>
#include <QTextImageFormat>

#include "AboutDlg.h"
#include "ElfVersionReader.h"
#include "HtmlCtrl.h"
#include "VersionInfo.h"

namespace
{
class CRecordingHtmlCtrl : public CHtmlCtrl
{
public:
    QStringList listLinks;
    void OnAppLink(const QString& strText) override { listLinks << strText; }
};

QStringList ImageNames(QTextDocument* pDoc)
{
    QStringList list;
    for (QTextBlock b = pDoc->begin(); b != pDoc->end(); b = b.next())
        for (auto it = b.begin(); !it.atEnd(); ++it)
            if (it.fragment().charFormat().isImageFormat())
                list << it.fragment().charFormat().toImageFormat().name();
    return list;
}
} // namespace

TEST(HtmlCtrlTest, StartPageFromResourcesWithLatin1Texts)
{
    CHtmlCtrl browser;
    ASSERT_TRUE(browser.LoadFromResource(CHtmlCtrl::kStartPageId));
    EXPECT_FALSE(browser.LoadFromResource(131));
    QTextDocument* pDoc = browser.document();
    EXPECT_EQ(pDoc->metaInformation(QTextDocument::DocumentTitle), "Terminal Console");
    const QString strText = pDoc->toPlainText();
    EXPECT_TRUE(strText.contains(QString::fromUtf8(
        "Dieses Programm ermöglicht es Ihnen, alle Vantor SICCT-Kartenterminals und Keyboards für die "
        "elektronische Gesundheitskarte im Netzwerk zu finden und zu konfigurieren.")));
    EXPECT_TRUE(strText.contains(QString::fromUtf8(
        "Bitte Wählen sie ein SICCT Gerät aus der obigen Liste aus und wählen dann eine Aktion.")));
    // The three pictures resolve to compiled-in images of the stated sizes.
    const QStringList listImages = ImageNames(pDoc);
    ASSERT_EQ(listImages.size(), 3);
    const QSize aSizes[] = {QSize(168, 33), QSize(468, 269), QSize(350, 350)};
    for (int i = 0; i < 3; ++i)
    {
        const QVariant v = pDoc->resource(QTextDocument::ImageResource, QUrl(listImages[i]));
        QImage img = v.value<QImage>();
        if (img.isNull())
            img = QImage::fromData(v.toByteArray());
        EXPECT_EQ(img.size(), aSizes[i]) << listImages[i].toStdString();
    }
    EXPECT_EQ(browser.verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOff);
}

TEST(HtmlCtrlTest, AppLinksInAnyCaseAreNotNavigated)
{
    CRecordingHtmlCtrl browser;
    ASSERT_TRUE(browser.LoadFromResource(CHtmlCtrl::kStartPageId));
    const QUrl urlStart = browser.source();
    browser.setSource(QUrl(QStringLiteral("app:refresh")));
    browser.setSource(QUrl(QStringLiteral("APP:Search")));
    browser.setSource(QUrl(QStringLiteral("aPp:x")));
    EXPECT_EQ(browser.source(), urlStart);
    EXPECT_EQ(browser.listLinks, (QStringList{"refresh", "Search", "x"}));
    // Other addresses navigate as usual.
    browser.setSource(QUrl(QStringLiteral("qrc:/html/start.html#top")));
    EXPECT_EQ(browser.listLinks.size(), 3);
}

TEST(HtmlCtrlTest, CreateFromPlaceholderTakesItsPlace)
{
    QWidget parent;
    auto* pPlaceholder = new QWidget(&parent);
    pPlaceholder->setObjectName("1077");
    pPlaceholder->setGeometry(7, 146, 561, 300);
    auto* pBrowser = new CHtmlCtrl(&parent);
    ASSERT_TRUE(pBrowser->CreateFromPlaceholder(pPlaceholder));
    EXPECT_EQ(pBrowser->objectName(), "1077");
    EXPECT_EQ(pBrowser->geometry(), QRect(7, 146, 561, 300));
    EXPECT_EQ(parent.findChildren<QWidget*>("1077").size(), 1);
    CHtmlCtrl other;
    EXPECT_FALSE(other.CreateFromPlaceholder(nullptr));
}

// The test program carries a version record with a product name of 140 characters (see the
// CMake file), so the caption overflows the first 128-byte working buffer.
TEST(AboutDlgTest, TextsFromOwnVersionRecordWithLongCaption)
{
    os::CElfVersionReader reader;
    CVersionInfo info(reader);
    CAboutDlg dlg(info, QCoreApplication::applicationFilePath().toStdString());
    const QString strName(127, QLatin1Char('P'));  // values are cut to 127 characters
    EXPECT_EQ(dlg.windowTitle(), QString::fromUtf8("Info über ") + strName + " V2.3.2");
    EXPECT_GT(dlg.windowTitle().toUtf8().size(), 128);
    EXPECT_EQ(dlg.VersionLine(), "GUI-Test V2.3.2.1");
    EXPECT_EQ(dlg.CopyrightLine(), "Copyright (C) Test 100% sicher");
}

TEST(AboutDlgTest, FallbacksWithoutRecord)
{
    os::CElfVersionReader reader;
    CVersionInfo info(reader);
    CAboutDlg dlg(info, "/nonexistent/terminal-console");
    EXPECT_EQ(dlg.windowTitle(), "Info");
    EXPECT_TRUE(dlg.VersionLine().isEmpty());
    EXPECT_TRUE(dlg.CopyrightLine().isEmpty());
}
