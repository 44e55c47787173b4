#pragma once

#include "ui/OpenWindowCount.h"
#include "ui/UiContext.h"

#include <QMainWindow>
#include <QObject>
#include <QPointer>

#include <functional>

namespace oxle {

class RootView;

// The main window: closing only hides it, and its frame is remembered under its autosave name.
class ContentWindow : public QMainWindow
{
    Q_OBJECT
public:
    static inline const QString autosaveName = QStringLiteral("oxleContentWindow");

    ContentWindow(UiContext &context, std::function<void()> cancelSignIn, QWidget *parent = nullptr);
    RootView *rootView() const { return m_root; }
    void saveFrame();

Q_SIGNALS:
    void closing();

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    UiContext &m_context;
    RootView *m_root;
};

// Owns the one main window of the process: created on first use, kept after closing and shown again as it was.
// While it is shown it counts in the open-window count.
class NativeContentController : public QObject
{
    Q_OBJECT
public:
    NativeContentController(UiContext context, OpenWindowCount &windows, std::function<void()> cancelSignIn = {},
                            QObject *parent = nullptr);
    ~NativeContentController() override;

    UiContext &context() { return m_context; }
    // The window, or null before the first show.
    ContentWindow *window() const { return m_window; }
    bool isRegistered() const { return m_registration.isRegistered(); }

    // Creates the window when needed, brings it to the front and reloads the library without waiting.
    void show();

private:
    void windowClosing();

    UiContext m_context;
    WindowRegistration m_registration;
    std::function<void()> m_cancelSignIn;
    QPointer<ContentWindow> m_window;
};

} // namespace oxle
