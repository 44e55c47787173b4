#pragma once

#include "core/Transport.h"
#include "library/AppData.h"
#include "library/OxleAPI.h"
#include "reminders/UserDefaults.h"
#include "ui/NativeContentController.h"
#include "ui/OpenWindowCount.h"

#include <QObject>

#include <memory>

class QNetworkAccessManager;

namespace oxle {

class Account;
class CallbackBrowserSignIn;
class InstanceService;
class ThumbnailCache;

// The running instance's windows and library: one store for the process, the main window's controller, and
// the routes by which other processes and links reach them.
class AppShell : public QObject
{
    Q_OBJECT
public:
    AppShell(QNetworkAccessManager &network, const BackendConfig &config, Account &account,
             CallbackBrowserSignIn &browser, InstanceService &service, QObject *parent = nullptr);
    ~AppShell() override;

    AppData &data() { return m_data; }
    NativeContentController &content() { return *m_content; }
    OpenWindowCount &windows() { return m_windows; }

    // An invitation link: the main window opens and the list is joined with the code as given.
    void openInvite(const QUrl &url);

private:
    Transport m_transport;
    OxleAPI m_api;
    AppData m_data;
    UserDefaults m_defaults;
    OpenWindowCount m_windows;
    std::unique_ptr<ThumbnailCache> m_thumbnails;
    std::unique_ptr<NativeContentController> m_content;
};

} // namespace oxle
