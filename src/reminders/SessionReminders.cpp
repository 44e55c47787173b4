#include "reminders/SessionReminders.h"

#include "core/Account.h"

#include <QTimer>

namespace oxle {

namespace {

// Awaited by nobody: the pass itself never throws, and anything else ends here.
QCoro::Task<void> startPass(SessionReminders::Reschedule reschedule)
{
    try {
        co_await reschedule();
    } catch (...) {
    }
}

} // namespace

SessionReminders::SessionReminders(Account &account, Reschedule reschedule, QObject *parent)
    : QObject(parent)
    , m_account(account)
    , m_reschedule(std::move(reschedule))
    , m_seen(current())
{
    connect(&m_account, &Account::sessionChanged, this, [this] {
        if (m_checkQueued)
            return;
        m_checkQueued = true;
        QTimer::singleShot(0, this, [this] { check(); });
    });
}

SessionReminders::Who SessionReminders::current() const
{
    const auto &session = m_account.session();
    return session ? Who(session->userId) : Who();
}

void SessionReminders::adoptCurrentSession()
{
    m_seen = current();
}

void SessionReminders::check()
{
    m_checkQueued = false;
    const Who now = current();
    if (now == m_seen)
        return;
    m_seen = now;
    if (m_reschedule)
        startPass(m_reschedule);
}

} // namespace oxle
