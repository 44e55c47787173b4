#pragma once

#include "reminders/NotificationCenter.h"

#include <QList>
#include <QSet>

namespace oxle::test {

// Keeps requests in memory the way the platform does: one per identifier, a re-add replaces.
class FakeNotificationCenter : public NotificationCenter
{
public:
    QList<NotificationRequest> pending;
    QList<NotificationRequest> added; // every successful add, in order
    QSet<QString> failingIdentifiers; // adds of these throw
    bool failListing = false;

    QStringList pendingIds() const
    {
        QStringList ids;
        for (const auto &request : pending)
            ids.append(request.identifier);
        return ids;
    }

    void seed(const QStringList &identifiers)
    {
        for (const QString &identifier : identifiers)
            pending.append({ identifier, {}, {}, false, TimeIntervalTrigger { 60 } });
    }

    QCoro::Task<QStringList> pendingIdentifiers() override
    {
        if (failListing)
            throw NotificationError(QStringLiteral("listing failed"));
        co_return pendingIds();
    }

    void removePending(const QStringList &identifiers) override
    {
        pending.removeIf([&](const NotificationRequest &r) { return identifiers.contains(r.identifier); });
    }

    void removeDelivered(const QStringList &) override { }

    QCoro::Task<void> add(NotificationRequest request) override
    {
        if (failingIdentifiers.contains(request.identifier))
            throw NotificationError(QStringLiteral("add failed"));
        pending.removeIf([&](const NotificationRequest &r) { return r.identifier == request.identifier; });
        pending.append(request);
        added.append(request);
        co_return;
    }

    QCoro::Task<void> requestAuthorization() override { co_return; }
};

} // namespace oxle::test
