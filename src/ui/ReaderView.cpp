#include "ui/ReaderView.h"

#include "ui/ReaderPage.h"
#include "ui/Symbols.h"
#include "ui/UiStyle.h"

#include <QCoreApplication>
#include <QDir>
#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QPluginLoader>
#include <QPushButton>
#include <QVBoxLayout>

namespace oxle {

namespace {

// A URL the reader can show: it parses and names a scheme and a host (a bare word is not a page).
std::optional<QUrl> readableUrl(const QString &text)
{
    const QUrl url(text, QUrl::StrictMode);
    if (text.isEmpty() || !url.isValid() || url.scheme().isEmpty())
        return std::nullopt;
    return url;
}

} // namespace

namespace ReaderPages {

ReaderPageFactory *factory()
{
    static ReaderPageFactory *loaded = [] () -> ReaderPageFactory * {
        // OXLE_READER_PLUGIN names the one plugin file to try ("none": no web view).
        QStringList candidates;
        if (const QString path = qEnvironmentVariable("OXLE_READER_PLUGIN"); !path.isEmpty()) {
            if (path != QLatin1String("none"))
                candidates << path;
        } else {
            candidates << QCoreApplication::applicationDirPath() + QStringLiteral("/../lib/oxle/oxle_reader_webengine")
                       << QStringLiteral(OXLE_PLUGIN_INSTALL_DIR "/oxle_reader_webengine")
                       << QStringLiteral(OXLE_PLUGIN_BUILD_DIR "/oxle_reader_webengine");
        }
        for (const QString &candidate : std::as_const(candidates)) {
            QPluginLoader loader(QDir::cleanPath(candidate));
            if (auto *factory = qobject_cast<ReaderPageFactory *>(loader.instance()))
                return factory;
        }
        return nullptr;
    }();
    return loaded;
}

} // namespace ReaderPages

ReaderView::ReaderView(const QString &urlString, const QString &title, std::function<bool(const QUrl &)> openUrl,
                       QWidget *parent)
    : QDialog(parent)
{
    setWindowTitle(title);
    setWindowModality(Qt::WindowModal);
    setMinimumSize(720, 560);
    setAccessibleName(QStringLiteral("Reader"));
    const std::optional<QUrl> url = readableUrl(urlString);

    auto *heading = new QLabel(title, this);
    heading->setFont(UiStyle::font(UiStyle::Headline));
    heading->setTextFormat(Qt::PlainText);
    heading->setAccessibleName(QStringLiteral("Title"));
    heading->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);

    auto *header = new QHBoxLayout;
    header->setContentsMargins(8, 8, 8, 8);
    header->setSpacing(8);
    header->addWidget(heading, 1);
    if (url) {
        m_openInBrowser = new QPushButton(Symbols::icon(QStringLiteral("safari")), QStringLiteral("Open in browser"), this);
        m_openInBrowser->setAccessibleName(QStringLiteral("Open in browser"));
        m_openInBrowser->setAutoDefault(false);
        connect(m_openInBrowser, &QPushButton::clicked, this, [openUrl, url] {
            if (openUrl)
                openUrl(*url);
        });
        header->addWidget(m_openInBrowser);
    }
    auto *done = new QPushButton(QStringLiteral("Done"), this);
    done->setAccessibleName(QStringLiteral("Done"));
    done->setAutoDefault(false);
    connect(done, &QPushButton::clicked, this, &QDialog::reject); // Escape does the same
    header->addWidget(done);

    auto *divider = new QFrame(this);
    divider->setFrameShape(QFrame::HLine);
    divider->setFrameShadow(QFrame::Sunken);

    ReaderPageFactory *pages = url ? ReaderPages::factory() : nullptr;
    if (pages) {
        m_content = pages->createPage(*url, this);
    } else {
        auto *text = new QLabel(url ? noWebViewText() : noLinkText(), this);
        text->setAlignment(Qt::AlignCenter);
        text->setWordWrap(true);
        UiStyle::setSecondary(text);
        m_content = text;
    }
    m_content->setAccessibleName(QStringLiteral("Page"));

    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addLayout(header);
    layout->addWidget(divider);
    layout->addWidget(m_content, 1);
}

} // namespace oxle
