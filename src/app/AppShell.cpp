#include "app/AppShell.h"

#include "app/CallbackBrowserSignIn.h"
#include "app/InstanceService.h"
#include "app/UrlRoute.h"
#include "platform/linux/SystemBrowser.h"
#include "ui/ThumbnailCache.h"

namespace oxle {

AppShell::AppShell(QNetworkAccessManager &network, const BackendConfig &config, Account &account,
                   CallbackBrowserSignIn &browser, InstanceService &service, QObject *parent)
    : QObject(parent)
    , m_transport(&network, config)
    , m_api(m_transport)
    , m_data(account, m_api)
    , m_thumbnails(std::make_unique<ThumbnailCache>(&network))
{
    UiContext context{m_data, account, m_defaults, m_thumbnails.get(), &openInSystemBrowser};
    m_content = std::make_unique<NativeContentController>(context, m_windows, [&browser] { browser.cancel(); });
    connect(&service, &InstanceService::showRequested, this, [this] { m_content->show(); });
    connect(&service, &InstanceService::joinRequested, this, &AppShell::openInvite);
}

AppShell::~AppShell() = default;

void AppShell::openInvite(const QUrl &url)
{
    const std::optional<QString> code = UrlRoute::inviteCode(url);
    if (!code)
        return;
    m_content->show();
    m_data.redeemInvite(*code);
}

} // namespace oxle
