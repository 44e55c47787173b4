#pragma once

#include "capture/FrontTab.h"

#include <QObject>
#include <QThread>

namespace oxle {

class AtspiReader;

// The front browser tab on Linux, read over the accessibility (AT-SPI) bus with QtDBus. On X11 the active
// window names the browser and its process; only that process's accessibility application is asked, and its
// window titled like the active one (else its ACTIVE one) is read. On Wayland the supported browser whose
// window is ACTIVE answers. The URL and title come from the document the
// active window embeds (the shown tab; background tabs and frames are never looked at).
//
// Every call has a short time-out and a whole reading ends within about a second, on a thread of its own: a
// slow or hung browser never holds up the caller.
class AtspiFrontTab : public QObject, public FrontTab
{
    Q_OBJECT
public:
    struct Limits
    {
        int callMs = 250; // one accessibility call
        int overallMs = 1000; // a whole reading
        int retryPauseMs = 60; // before the one retry when the page is not described yet
    };

    explicit AtspiFrontTab(QObject *parent = nullptr);
    explicit AtspiFrontTab(Limits limits, QObject *parent = nullptr);
    ~AtspiFrontTab() override;

    QCoro::Task<std::optional<BrowserTab>> current() override;

Q_SIGNALS:
    // A supported browser is in front but the desktop's accessibility interface is off, so it cannot tell.
    void accessibilityNeeded(const QString &browserName);

private:
    QThread m_thread;
    AtspiReader *m_reader; // lives on m_thread
};

} // namespace oxle
