#pragma once

#include "core/BrowserSignIn.h"

#include <QObject>

#include <functional>

namespace oxle {

// Browser sign-in through the user's own browser: the authorize page is opened
// there, and the browser hands the "oxle://auth-callback" URL to `oxle URL`, which
// forwards it to this process. Only a callback that arrives while a sign-in is
// waiting is taken; anything else is ignored.
class CallbackBrowserSignIn : public QObject, public BrowserSignIn
{
    Q_OBJECT
public:
    // opener answers false when no browser could be started; showUrl then tells the user where to go.
    using Opener = std::function<bool(const QUrl &)>;
    using ShowUrl = std::function<void(const QUrl &)>;

    CallbackBrowserSignIn(Opener opener, ShowUrl showUrl, QObject *parent = nullptr);

    QCoro::Task<QUrl> start(QUrl url, QString callbackScheme) override;

    bool isWaiting() const { return m_waiting; }
    // Answers whether the URL was taken.
    bool deliverCallback(const QUrl &url);
    // The user gave up: the waiting sign-in fails with SignInCancelled.
    void cancel();

Q_SIGNALS:
    void waitingChanged(bool waiting);
    void finished(quint64 attempt, const QUrl &url, bool completed);

private:
    void finish(std::optional<QUrl> url);

    Opener m_opener;
    ShowUrl m_showUrl;
    QString m_scheme;
    bool m_waiting = false;
    quint64 m_attempt = 0;
};

} // namespace oxle
