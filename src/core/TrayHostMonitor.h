#pragma once

#include <QObject>

namespace oxle {

// Whether the desktop has somewhere to show a status icon: a status-notifier host or an XEmbed tray.
// Desktops without either exist (plain window managers, some Wayland shells), and one may start after
// us, so this is watched rather than asked once. Confined to the main thread.
class TrayHostMonitor : public QObject
{
    Q_OBJECT
public:
    using QObject::QObject;

    virtual bool isHostAvailable() const = 0;
    // Whether the first answer is in; until then "no host" may mean "not known yet". A monitor that knows at
    // once is settled from the start; one that asks emits settled when the answer arrives.
    virtual bool isSettled() const { return true; }

Q_SIGNALS:
    void hostAvailabilityChanged(bool available);
    void settled();
};

} // namespace oxle
