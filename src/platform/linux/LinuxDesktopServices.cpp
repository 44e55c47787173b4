// The running instance's part of platform/Platform.h (see LinuxPlatform.cpp for the command line's).
#include "platform/Platform.h"

#include "platform/linux/AccessibilityConsent.h"
#include "platform/linux/AtspiFrontTab.h"
#include "platform/linux/DesktopSearchProviders.h"
#include "platform/linux/FreedesktopNotificationCenter.h"
#include "platform/linux/Fts5SearchIndex.h"
#include "platform/linux/LinuxTrayHostMonitor.h"
#include "platform/linux/XdgAutostart.h"

namespace oxle::platform {

namespace {

// The accessibility bus answers only once the desktop's accessibility is on; the first reading that finds it
// off asks the user, in a notification, to turn it on.
class ConsentingFrontTab final : public FrontTab
{
public:
    ConsentingFrontTab()
    {
        QObject::connect(&m_reader, &AtspiFrontTab::accessibilityNeeded, &m_consent, &AccessibilityConsent::ask);
    }

    QCoro::Task<std::optional<BrowserTab>> current() override { return m_reader.current(); }

private:
    AtspiFrontTab m_reader;
    AccessibilityConsent m_consent;
};

} // namespace

std::unique_ptr<NotificationCenter> createNotificationCenter()
{
    return std::make_unique<FreedesktopNotificationCenter>();
}

std::unique_ptr<LoginItem> createLoginItem(const QString &program)
{
    return std::make_unique<XdgAutostart>(program);
}

std::unique_ptr<TrayHostMonitor> createTrayHostMonitor()
{
    return std::make_unique<LinuxTrayHostMonitor>();
}

std::unique_ptr<FrontTab> createFrontTab()
{
    return std::make_unique<ConsentingFrontTab>();
}

std::unique_ptr<SearchIndex> createSearchIndex()
{
    return std::make_unique<Fts5SearchIndex>();
}

std::unique_ptr<DesktopSearch> createDesktopSearch(DesktopSearchActions actions)
{
    return std::make_unique<DesktopSearchProviders>(std::move(actions));
}

} // namespace oxle::platform
