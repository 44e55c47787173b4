#include "app/CallbackBrowserSignIn.h"

#include <QCoro/QCoroSignal>

namespace oxle {

CallbackBrowserSignIn::CallbackBrowserSignIn(Opener opener, ShowUrl showUrl, QObject *parent)
    : QObject(parent)
    , m_opener(std::move(opener))
    , m_showUrl(std::move(showUrl))
{
}

QCoro::Task<QUrl> CallbackBrowserSignIn::start(QUrl url, QString callbackScheme)
{
    // A new sign-in replaces one still waiting, which ends as cancelled.
    if (m_waiting)
        finish(std::nullopt);

    const quint64 attempt = ++m_attempt;
    m_scheme = callbackScheme;
    m_waiting = true;
    Q_EMIT waitingChanged(true);

    if (!m_opener || !m_opener(url)) {
        if (m_showUrl)
            m_showUrl(url);
    }

    for (;;) {
        const auto [done, callback, completed] = co_await qCoro(this, &CallbackBrowserSignIn::finished);
        if (done != attempt)
            continue;
        if (!completed)
            throw SignInCancelled();
        co_return callback;
    }
}

bool CallbackBrowserSignIn::deliverCallback(const QUrl &url)
{
    if (!m_waiting || url.scheme() != m_scheme)
        return false;
    finish(url);
    return true;
}

void CallbackBrowserSignIn::cancel()
{
    if (m_waiting)
        finish(std::nullopt);
}

void CallbackBrowserSignIn::finish(std::optional<QUrl> url)
{
    m_waiting = false;
    Q_EMIT waitingChanged(false);
    Q_EMIT finished(m_attempt, url.value_or(QUrl()), url.has_value());
}

} // namespace oxle
