// The reader's web view: a plugin so the web engine is loaded only when a page is first read.

#include "ui/ReaderPage.h"

#include <QObject>
#include <QWebEngineView>

#include <unistd.h>

namespace oxle {

class WebEngineReaderPages : public QObject, public ReaderPageFactory
{
    Q_OBJECT
    Q_PLUGIN_METADATA(IID OxleReaderPageFactory_iid)
    Q_INTERFACES(oxle::ReaderPageFactory)
public:
    QWidget *createPage(const QUrl &url, QWidget *parent) override
    {
        // The engine's own sandbox refuses to start for root (development containers); it is needed for nobody
        // else.
        if (geteuid() == 0 && qEnvironmentVariableIsEmpty("QTWEBENGINE_DISABLE_SANDBOX"))
            qputenv("QTWEBENGINE_DISABLE_SANDBOX", "1");
        auto *view = new QWebEngineView(parent);
        view->load(url);
        return view;
    }
};

} // namespace oxle

#include "WebEngineReaderPage.moc"
