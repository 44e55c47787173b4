#pragma once

#include "core/OxleSession.h"

#include <QCoro/QCoroTask>
#include <QList>
#include <QString>

namespace oxle {

class Transport;

namespace ItemReader {

// One entry of the status menu's Up Next list.
struct Brief
{
    QString id;
    QString title;
    QString url;
    QString contentType;

    bool operator==(const Brief &) const = default;
};

// The newest items still waiting to be read, newest first, at most `limit` of them.
// Best effort by design: an HTTP error or a body that is not an array of objects answers
// an empty list. Only the client's own failure (no HTTP answer) is thrown.
// The transport is borrowed: it must outlive the returned task.
QCoro::Task<QList<Brief>> fetchUpNext(Transport *transport, OxleSession session, int limit);

// The Briefs of one answer body; empty unless the body is a JSON array of objects.
QList<Brief> parseUpNext(const QByteArray &body);

} // namespace ItemReader

} // namespace oxle
