#include "app/InstanceProtocol.h"

#include <QDataStream>
#include <QIODevice>
#include <QtEndian>

namespace oxle::InstanceProtocol {

namespace {

enum class MessageType : quint8 { Request = 1, Reply = 2 };

constexpr qsizetype maxTextChars = qsizetype(16) * 1024;

QByteArray frame(const QByteArray &payload)
{
    QByteArray out(4, Qt::Uninitialized);
    qToBigEndian<quint32>(quint32(payload.size()), out.data());
    return out + payload;
}

QDataStream &header(QDataStream &stream, MessageType type)
{
    stream.setVersion(QDataStream::Qt_6_0);
    stream << magic << version << quint8(type);
    return stream;
}

bool readHeader(QDataStream &stream, MessageType expected)
{
    stream.setVersion(QDataStream::Qt_6_0);
    quint32 m = 0;
    quint16 v = 0;
    quint8 t = 0;
    stream >> m >> v >> t;
    return stream.status() == QDataStream::Ok && m == magic && v == version && t == quint8(expected);
}

bool sane(const QString &text)
{
    return text.size() <= maxTextChars;
}

} // namespace

QByteArray encode(const InstanceRequest &request)
{
    QByteArray payload;
    QDataStream stream(&payload, QIODevice::WriteOnly);
    header(stream, MessageType::Request) << quint8(request.kind) << request.argument;
    return frame(payload);
}

QByteArray encode(const InstanceReply &reply)
{
    QByteArray payload;
    QDataStream stream(&payload, QIODevice::WriteOnly);
    header(stream, MessageType::Reply) << reply.exitCode << reply.output << reply.error;
    return frame(payload);
}

std::optional<QByteArray> takeFrame(QByteArray &buffer, bool &broken)
{
    broken = false;
    if (buffer.size() < 4)
        return std::nullopt;
    const quint32 length = qFromBigEndian<quint32>(buffer.constData());
    if (length > maxFrameBytes) {
        broken = true;
        return std::nullopt;
    }
    if (buffer.size() < 4 + qsizetype(length))
        return std::nullopt;
    QByteArray payload = buffer.mid(4, length);
    buffer.remove(0, 4 + length);
    return payload;
}

std::optional<InstanceRequest> decodeRequest(const QByteArray &payload)
{
    QDataStream stream(payload);
    if (!readHeader(stream, MessageType::Request))
        return std::nullopt;
    quint8 kind = 0;
    InstanceRequest request;
    stream >> kind >> request.argument;
    if (stream.status() != QDataStream::Ok || !stream.atEnd() || !sane(request.argument))
        return std::nullopt;
    if (kind < quint8(InstanceRequest::Kind::OpenUrl) || kind > quint8(InstanceRequest::Kind::Quit))
        return std::nullopt;
    request.kind = InstanceRequest::Kind(kind);
    return request;
}

std::optional<InstanceReply> decodeReply(const QByteArray &payload)
{
    QDataStream stream(payload);
    if (!readHeader(stream, MessageType::Reply))
        return std::nullopt;
    InstanceReply reply;
    stream >> reply.exitCode >> reply.output >> reply.error;
    if (stream.status() != QDataStream::Ok || !stream.atEnd() || !sane(reply.output) || !sane(reply.error))
        return std::nullopt;
    return reply;
}

} // namespace oxle::InstanceProtocol

namespace oxle {

bool startedByBusActivation()
{
    return !qEnvironmentVariableIsEmpty("DBUS_STARTER_BUS_TYPE");
}

} // namespace oxle
