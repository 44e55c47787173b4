#pragma once

// Reading what a python3-dbusmock object on the session bus was asked (its org.freedesktop.DBus.Mock interface).

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QList>
#include <QVariantList>

namespace oxle::test {

inline QDBusMessage mockCall(const QString &service, const QString &path, const QString &method,
                             const QVariantList &args = {})
{
    QDBusMessage message =
        QDBusMessage::createMethodCall(service, path, QStringLiteral("org.freedesktop.DBus.Mock"), method);
    message.setArguments(args);
    return QDBusConnection::sessionBus().call(message, QDBus::Block, 5000);
}

// The arguments of every call of `method` the mock recorded, oldest first.
inline QList<QVariantList> mockedCalls(const QString &service, const QString &path, const QString &method)
{
    QList<QVariantList> result;
    const QDBusMessage reply = mockCall(service, path, QStringLiteral("GetCalls"));
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty())
        return result;
    const auto array = reply.arguments().constFirst().value<QDBusArgument>();
    array.beginArray();
    while (!array.atEnd()) {
        quint64 timestamp = 0;
        QString name;
        QVariantList args;
        array.beginStructure();
        array >> timestamp >> name >> args;
        array.endStructure();
        if (name == method)
            result.append(args);
    }
    array.endArray();
    return result;
}

} // namespace oxle::test
