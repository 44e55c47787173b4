#include "core/PrefetchingKeychain.h"

#include <QScopeGuard>

namespace oxle {

PrefetchingKeychain::PrefetchingKeychain(Keychain &inner)
    : m_inner(inner)
{
}

// The worker still uses the keychain underneath: it must be done before that goes.
PrefetchingKeychain::~PrefetchingKeychain()
{
    if (m_pending.valid())
        m_pending.wait();
}

void PrefetchingKeychain::prefetch(const QString &service, const QString &account, std::function<void()> done)
{
    settle();
    m_answer.reset();
    m_service = service;
    m_account = account;
    m_pending = std::async(std::launch::async, [this, service, account, done = std::move(done)] {
        // Told even if the read throws: whoever waits for `done` must not wait forever.
        const auto notify = qScopeGuard([&done] {
            if (done)
                done();
        });
        return m_inner.read(service, account);
    });
}

void PrefetchingKeychain::settle()
{
    if (!m_pending.valid())
        return;
    auto pending = std::move(m_pending);
    // The keychain never throws; should one, the early read counts as not made and the next read asks again.
    try {
        m_answer = pending.get();
    } catch (...) {
        m_answer.reset();
    }
}

bool PrefetchingKeychain::isPrefetched(const QString &service, const QString &account) const
{
    return service == m_service && account == m_account;
}

std::optional<QByteArray> PrefetchingKeychain::read(const QString &service, const QString &account)
{
    settle();
    if (m_answer && isPrefetched(service, account)) {
        std::optional<QByteArray> answer = std::move(*m_answer);
        m_answer.reset();
        return answer;
    }
    return m_inner.read(service, account);
}

void PrefetchingKeychain::write(const QString &service, const QString &account, const QByteArray &data)
{
    settle();
    if (isPrefetched(service, account))
        m_answer.reset();
    m_inner.write(service, account, data);
}

void PrefetchingKeychain::remove(const QString &service, const QString &account)
{
    settle();
    if (isPrefetched(service, account))
        m_answer.reset();
    m_inner.remove(service, account);
}

} // namespace oxle
