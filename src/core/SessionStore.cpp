#include "core/SessionStore.h"

#include "core/Keychain.h"
#include "core/Logging.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStandardPaths>

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace oxle {

namespace {

// The mirror holds a session and nothing else; anything larger is not ours.
constexpr qint64 maxMirrorBytes = qint64(64) * 1024;

// Why an open mirror file is not to be trusted, or empty when it is: it must be a regular file of this
// user that nobody else may read or write (anyone who could write it could plant a session).
QString distrustReason(const QFile &file)
{
    struct stat info {};
    if (::fstat(file.handle(), &info) != 0)
        return QStringLiteral("its owner and mode cannot be read");
    if (!S_ISREG(info.st_mode))
        return QStringLiteral("it is not a regular file");
    if (info.st_uid != ::geteuid())
        return QStringLiteral("it belongs to another user");
    if ((info.st_mode & (S_IRWXG | S_IRWXO)) != 0)
        return QStringLiteral("other users may read or write it (mode %1)")
            .arg(QString::number(info.st_mode & 0777, 8).rightJustified(4, QLatin1Char('0')));
    return {};
}

// Creates the group folder private from its first moment: made with mode 0700, so no listing of it is
// ever possible for others (the umask can only take bits away). Its parents get the usual mode.
bool makePrivateFolder(const QString &path)
{
    if (QFileInfo(path).isDir())
        return true;
    const QString parent = QFileInfo(path).absolutePath();
    if (!QFileInfo(parent).isDir() && !QDir().mkpath(parent))
        return false;
    if (::mkdir(QFile::encodeName(path).constData(), S_IRWXU) == 0)
        return true;
    return errno == EEXIST && QFileInfo(path).isDir();
}

} // namespace

SessionStore::SessionStore(Keychain *keychain, const QString &sharedDir)
    : m_keychain(keychain)
    , m_sharedDir(sharedDir.isEmpty() ? defaultSharedDir() : sharedDir)
{
}

QString SessionStore::defaultSharedDir()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) + QLatin1Char('/') + groupName;
}

QString SessionStore::sharedFilePath() const
{
    return m_sharedDir + QLatin1Char('/') + sessionKey;
}

std::optional<OxleSession> SessionStore::loadKeychain() const
{
    if (!m_keychain)
        return std::nullopt;
    const auto data = m_keychain->read(keychainService, sessionKey);
    if (!data)
        return std::nullopt;
    return OxleSession::fromJson(*data);
}

void SessionStore::saveKeychain(const OxleSession &session)
{
    if (m_keychain)
        m_keychain->write(keychainService, sessionKey, session.toJson());
}

void SessionStore::clearKeychain()
{
    if (m_keychain)
        m_keychain->remove(keychainService, sessionKey);
}

std::optional<OxleSession> SessionStore::loadShared() const
{
    QFile file(sharedFilePath());
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    if (const QString reason = distrustReason(file); !reason.isEmpty()) {
        // Names the file and the reason only: its content may be somebody's token.
        qCWarning(lcSession).noquote() << "ignoring the session file" << file.fileName() << "because" << reason;
        return std::nullopt;
    }
    const auto bytes = file.read(maxMirrorBytes + 1);
    if (bytes.size() > maxMirrorBytes)
        return std::nullopt;
    return OxleSession::fromJson(bytes);
}

void SessionStore::saveShared(const OxleSession &session)
{
    // The folder holds a token: only the owner may list or enter it.
    if (!makePrivateFolder(m_sharedDir))
        return;
    // A folder left by an earlier version may be more open; tightening it exposes nothing.
    QFile::setPermissions(m_sharedDir, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);

    QSaveFile file(sharedFilePath());
    // QSaveFile writes a temporary file and renames it over the old one, so a
    // reader sees the old or the new session, never a torn one.
    if (!file.open(QIODevice::WriteOnly))
        return;
    if (!file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner)) {
        file.cancelWriting();
        return;
    }
    file.write(session.toJson());
    file.commit();
}

void SessionStore::clearShared()
{
    QFile::remove(sharedFilePath());
}

} // namespace oxle
