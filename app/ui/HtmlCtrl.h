#pragma once
#include <QString>
#include <QTextBrowser>
#include <QUrl>

/// The embedded browser of the main window: shows the built-in start page (HTML and pictures
/// compiled into the program, nothing read from disk). Every navigation passes a filter
/// first: an address starting with "app:" in any letter case is not navigated to, its rest
/// goes to OnAppLink instead. Terminal web interfaces are never shown here.
/// User-interface thread only; owned by its parent window.
class CHtmlCtrl : public QTextBrowser
{
    Q_OBJECT
public:
    /// Resource number of the start page.
    static constexpr int kStartPageId = 130;

    explicit CHtmlCtrl(QWidget* pParent = nullptr);

    /// Takes the placeholder's place: same parent, object name, geometry and place in a
    /// layout; the placeholder is deleted. False when there is no placeholder.
    bool CreateFromPlaceholder(QWidget* pPlaceholder);
    /// Shows an HTML resource by number (130: the start page). False for an unknown number.
    bool LoadFromResource(int nResourceId);
    /// The address of an HTML resource, empty for an unknown number.
    static QUrl ResourceUrl(int nResourceId);

    /// Receives the text after "app:" of a filtered address. Does nothing in this program.
    virtual void OnAppLink(const QString& strText);

protected:
    void doSetSource(const QUrl& url, QTextDocument::ResourceType type) override;
};
