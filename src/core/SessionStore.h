#pragma once

#include "core/OxleSession.h"

#include <QString>

#include <optional>

namespace oxle {

class Keychain;

// The two copies of the session: the application's own keychain item and the
// mirror that the share target and the add command read. Synchronous and silent:
// every failure reads as no session, a failed write leaves the previous state.
class SessionStore
{
public:
    static inline const QString keychainService = QStringLiteral("com.oxle.mac");
    static inline const QString sessionKey = QStringLiteral("supabase-session");
    static inline const QString groupName = QStringLiteral("group.com.oxle.mac");

    // keychain may be null (no secure store on this machine): it then reads as empty.
    // sharedDir is the application-group folder; empty means the default under the user's config folder.
    explicit SessionStore(Keychain *keychain, const QString &sharedDir = {});

    std::optional<OxleSession> loadKeychain() const;
    void saveKeychain(const OxleSession &session);
    void clearKeychain();

    std::optional<OxleSession> loadShared() const;
    void saveShared(const OxleSession &session);
    void clearShared();

    QString sharedFilePath() const;
    static QString defaultSharedDir();

private:
    Keychain *m_keychain;
    QString m_sharedDir;
};

} // namespace oxle
