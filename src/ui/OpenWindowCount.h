#pragma once

// How many of the application's windows (the main window, settings) are open. On Linux it stands for "a window
// is open": the shell listens to anyOpenChanged instead of switching an activation policy.

#include <QObject>
#include <QPointer>

namespace oxle {

// One per process, created in main and handed to the window controllers.
class OpenWindowCount : public QObject
{
    Q_OBJECT

public:
    explicit OpenWindowCount(QObject *parent = nullptr);

    int count() const { return m_count; }
    bool anyOpen() const { return m_count > 0; }

Q_SIGNALS:
    // Only when the count moves between 0 and above 0.
    void anyOpenChanged(bool anyOpen);

private:
    friend class WindowRegistration;
    void enter();
    // Never goes below 0.
    void leave();

    int m_count = 0;
};

// One window's membership in the count. Showing an already shown window does not count it again, and closing a
// window that was never counted leaves the count alone. A registration destroyed while counted leaves, so a
// window torn down without a close event does not keep the count up.
class WindowRegistration
{
public:
    explicit WindowRegistration(OpenWindowCount &count);
    ~WindowRegistration();
    WindowRegistration(const WindowRegistration &) = delete;
    WindowRegistration &operator=(const WindowRegistration &) = delete;

    void shown();
    void closed();
    bool isRegistered() const { return m_registered; }

private:
    // Guarded: at exit the count may go before the window that holds this.
    QPointer<OpenWindowCount> m_count;
    bool m_registered = false;
};

} // namespace oxle
