#pragma once

#include <QObject>
#include <memory>

class QSocketNotifier;
struct xcb_connection_t;

namespace oxle {

// Watches the XEmbed system tray of the default screen: the owner of the _NET_SYSTEM_TRAY_Sn selection.
// A tray announces itself with a MANAGER client message on the root window; one that goes away destroys
// its window. Events arrive on our own X connection through a socket notifier, so nothing polls.
// Without an X display (Wayland, offscreen) there is never a tray.
class X11TraySelection : public QObject
{
    Q_OBJECT
public:
    explicit X11TraySelection(QObject *parent = nullptr);
    ~X11TraySelection() override;

    bool hasOwner() const { return m_owner != 0; }

Q_SIGNALS:
    void ownerChanged(bool present);

private:
    void readEvents();
    void setOwner(unsigned window);

    xcb_connection_t *m_connection = nullptr;
    std::unique_ptr<QSocketNotifier> m_notifier;
    unsigned m_root = 0;
    unsigned m_selection = 0;
    unsigned m_managerAtom = 0;
    unsigned m_owner = 0;
};

} // namespace oxle
