#pragma once

#include "core/Keychain.h"

#include <functional>
#include <future>

namespace oxle {

// A keychain that can read one item on a worker thread before anybody asks for it, so that the wait for the
// secure store holds up no other work (the running instance's start). The first read of that item takes the
// early answer; every other call goes to the keychain underneath, once the early read has finished, so the
// keychain is never used by two threads at once. A write or removal of the item drops the early answer.
// Without a prefetch it passes every call straight through.
class PrefetchingKeychain : public Keychain
{
public:
    explicit PrefetchingKeychain(Keychain &inner);
    ~PrefetchingKeychain() override;

    PrefetchingKeychain(const PrefetchingKeychain &) = delete;
    PrefetchingKeychain &operator=(const PrefetchingKeychain &) = delete;

    // Starts reading service/account now, on a worker thread; `done` (if given) is called on that thread once
    // the answer is there, so a read no longer waits. A prefetch still under way or unused is replaced.
    void prefetch(const QString &service, const QString &account, std::function<void()> done = {});

    std::optional<QByteArray> read(const QString &service, const QString &account) override;
    void write(const QString &service, const QString &account, const QByteArray &data) override;
    void remove(const QString &service, const QString &account) override;

private:
    // Waits for the early read, if one runs.
    void settle();
    bool isPrefetched(const QString &service, const QString &account) const;

    Keychain &m_inner;
    QString m_service;
    QString m_account;
    std::future<std::optional<QByteArray>> m_pending;
    // The early answer until it is read; empty once taken or dropped.
    std::optional<std::optional<QByteArray>> m_answer;
};

} // namespace oxle
