#pragma once

#include <QDialog>
#include <QUrl>

#include <functional>

class QPushButton;

namespace oxle {

// The in-app reader: the item's page in an embedded web view, with "Open in browser" and "Done". Without the
// web view plugin it says that pages cannot be shown here and offers the browser instead.
class ReaderView : public QDialog
{
    Q_OBJECT
public:
    ReaderView(const QString &urlString, const QString &title, std::function<bool(const QUrl &)> openUrl,
               QWidget *parent = nullptr);

    // The page widget, or the text shown instead of it.
    QWidget *content() const { return m_content; }
    QPushButton *openInBrowserButton() const { return m_openInBrowser; }

    static QString noLinkText() { return QStringLiteral("This item has no link to read."); }
    static QString noWebViewText()
    {
        return QStringLiteral("Pages cannot be shown inside oxle on this computer. Open the page in your browser instead.");
    }

private:
    QWidget *m_content = nullptr;
    QPushButton *m_openInBrowser = nullptr;
};

} // namespace oxle
