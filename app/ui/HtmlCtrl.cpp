#include "HtmlCtrl.h"

#include <QLayout>

namespace
{
constexpr const char* kAppScheme = "app:";
} // namespace

CHtmlCtrl::CHtmlCtrl(QWidget* pParent) : QTextBrowser(pParent)
{
    setOpenExternalLinks(false);
    setOpenLinks(true);  // clicks come back through doSetSource and its filter
    // The start page fits the area and has no scroll bars.
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setFrameShape(QFrame::NoFrame);
}

bool CHtmlCtrl::CreateFromPlaceholder(QWidget* pPlaceholder)
{
    if (pPlaceholder == nullptr)
        return false;
    QWidget* pParent = pPlaceholder->parentWidget();
    setParent(pParent);
    setObjectName(pPlaceholder->objectName());
    setGeometry(pPlaceholder->geometry());
    if (pParent != nullptr && pParent->layout() != nullptr)
        delete pParent->layout()->replaceWidget(pPlaceholder, this);
    delete pPlaceholder;
    setVisible(true);
    return true;
}

QUrl CHtmlCtrl::ResourceUrl(int nResourceId)
{
    if (nResourceId == kStartPageId)
        return QUrl(QStringLiteral("qrc:/html/start.html"));
    return {};
}

bool CHtmlCtrl::LoadFromResource(int nResourceId)
{
    const QUrl url = ResourceUrl(nResourceId);
    if (url.isEmpty())
        return false;
    setSource(url, QTextDocument::HtmlResource);
    return true;
}

void CHtmlCtrl::OnAppLink(const QString&)
{
}

void CHtmlCtrl::doSetSource(const QUrl& url, QTextDocument::ResourceType type)
{
    // QUrl lower-cases the scheme, but test the original text as written as well.
    const QString strAddress = url.toString(QUrl::FullyEncoded);
    if (strAddress.left(4).compare(QLatin1String(kAppScheme), Qt::CaseInsensitive) == 0)
    {
        OnAppLink(url.toString().mid(4));
        return;  // navigation cancelled
    }
    QTextBrowser::doSetSource(url, type);
}
