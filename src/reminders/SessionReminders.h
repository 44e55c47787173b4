#pragma once

#include <QObject>
#include <QString>

#include <QCoro/QCoroTask>

#include <functional>
#include <optional>

namespace oxle {

class Account;

// Keeps the pending reminder notifications in step with who is signed in. A sign-in (or another user in
// place of the last one) schedules that user's reminders; a sign-out withdraws the pending ones. A token
// refresh keeps the same user and starts nothing.
//
// The check runs from the event loop after the change, so several changes in one turn (sign-out then
// sign-in) start one pass, and a caller that starts a pass of its own for a change (the launch, after
// restoring the session) can say so with adoptCurrentSession() and have no second one.
class SessionReminders : public QObject
{
public:
    using Reschedule = std::function<QCoro::Task<void>()>;

    SessionReminders(Account &account, Reschedule reschedule, QObject *parent = nullptr);

    // The account's present user counts as seen: no pass is started for the changes so far.
    void adoptCurrentSession();

private:
    // Signed out: none; signed in: the user id (which may be empty).
    using Who = std::optional<QString>;
    Who current() const;
    void check();

    Account &m_account;
    Reschedule m_reschedule;
    Who m_seen;
    bool m_checkQueued = false;
};

} // namespace oxle
