#pragma once

#include <QByteArray>
#include <QString>

#include <optional>

namespace oxle {

// What a later `oxle` process asks of the running one. Typed and versioned: a
// peer speaking another version is refused rather than misread.
struct InstanceRequest
{
    enum class Kind : quint8 {
        OpenUrl = 1, // argument: the URL handed to `oxle URL` (already checked by UrlRoute)
        SignIn = 2,  // argument: the provider
        SignOut = 3,
        Capture = 4,
        SaveTab = 5,
        Show = 6, // bring up the main window
        Settings = 7,
        Quit = 8,
    };

    Kind kind = Kind::OpenUrl;
    QString argument;

    bool operator==(const InstanceRequest &) const = default;
};

struct InstanceReply
{
    qint32 exitCode = 0;
    QString output; // for stdout
    QString error;  // for stderr

    bool operator==(const InstanceReply &) const = default;
};

namespace InstanceProtocol {

inline constexpr quint32 magic = 0x4f584c45; // "OXLE"
inline constexpr quint16 version = 1;
// A frame is a 32-bit big-endian length and that many payload bytes.
inline constexpr qint64 maxFrameBytes = qint64(64) * 1024;

QByteArray encode(const InstanceRequest &request);
QByteArray encode(const InstanceReply &reply);

// Takes one complete frame off the front of buffer, if there is one. A frame
// that is too large or malformed makes `broken` true: the peer is to be dropped.
std::optional<QByteArray> takeFrame(QByteArray &buffer, bool &broken);
std::optional<InstanceRequest> decodeRequest(const QByteArray &payload);
std::optional<InstanceReply> decodeReply(const QByteArray &payload);

} // namespace InstanceProtocol

// Whether the session bus started this process for the service it offers (the desktop's search asking before
// oxle runs): the bus sets DBUS_STARTER_BUS_TYPE for the programs it activates. Such a start opens no window.
bool startedByBusActivation();

} // namespace oxle
