#pragma once

#include <QtPlugin>
#include <QUrl>

class QWidget;

namespace oxle {

// The reader's page: an embedded web view, built as a plugin so that only a user who opens the reader loads the
// web engine; start-up time and idle memory never pay for it.
class ReaderPageFactory
{
public:
    virtual ~ReaderPageFactory() = default;
    // A widget showing the page at url, loading it at once.
    virtual QWidget *createPage(const QUrl &url, QWidget *parent) = 0;
};

namespace ReaderPages {
// The web view plugin, loaded on the first call; none when it is not installed or does not load.
ReaderPageFactory *factory();
} // namespace ReaderPages

} // namespace oxle

#define OxleReaderPageFactory_iid "org.oxle.ReaderPageFactory/1"
Q_DECLARE_INTERFACE(oxle::ReaderPageFactory, OxleReaderPageFactory_iid)
