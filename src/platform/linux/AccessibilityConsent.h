#pragma once

#include <QDBusConnection>
#include <QObject>
#include <QString>

namespace oxle {

// Asks once per run, in a desktop notification with an action, whether to turn on the desktop's
// accessibility interface (org.a11y.Status.IsEnabled) so that the front tab can be read. The setting belongs
// to the whole desktop, so it is changed only when the user chooses the action; the screen reader setting is
// never touched.
class AccessibilityConsent : public QObject
{
    Q_OBJECT
public:
    static inline const QString actionKey = QStringLiteral("turn-on-accessibility");

    explicit AccessibilityConsent(QDBusConnection session = QDBusConnection::sessionBus(), QObject *parent = nullptr);

    // Posts the question unless it was asked before in this run.
    void ask(const QString &browserName);
    bool asked() const { return m_asked; }

    static QString title();
    static QString body(const QString &browserName);

Q_SIGNALS:
    // The question is on screen (its notification id), or could not be shown (0).
    void posted(uint notificationId);
    // The user chose to turn accessibility on and the setting was written (or the write failed).
    void turnedOn(bool ok);

private Q_SLOTS:
    // String-based slots: QtDBus connects bus signals only by signature.
    void onActionInvoked(uint id, const QString &actionKey);
    void onNotificationClosed(uint id, uint reason);

private:
    void enable();

    QDBusConnection m_session;
    bool m_asked = false;
    uint m_notificationId = 0;
};

} // namespace oxle
