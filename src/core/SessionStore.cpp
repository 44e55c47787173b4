#include "core/SessionStore.h"

#include "core/Keychain.h"

#include <QDir>
#include <QFile>
#include <QSaveFile>
#include <QStandardPaths>

namespace oxle {

namespace {

// The mirror holds a session and nothing else; anything larger is not ours.
constexpr qint64 maxMirrorBytes = qint64(64) * 1024;

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
    const auto bytes = file.read(maxMirrorBytes + 1);
    if (bytes.size() > maxMirrorBytes)
        return std::nullopt;
    return OxleSession::fromJson(bytes);
}

void SessionStore::saveShared(const OxleSession &session)
{
    const auto permissionsDir = QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner;
    QDir dir(m_sharedDir);
    if (!dir.exists() && !QDir().mkpath(m_sharedDir))
        return;
    // The folder holds a token: only the owner may list or enter it.
    QFile::setPermissions(m_sharedDir, permissionsDir);

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
