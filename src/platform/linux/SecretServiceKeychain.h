#pragma once

#include "core/Keychain.h"

namespace oxle {

// Keychain items in the desktop's Secret Service (through libsecret), stored with
// the attributes "service" and "account". Without a Secret Service every read is
// empty and writes are dropped; nothing falls back to plain files.
class SecretServiceKeychain : public Keychain
{
public:
    std::optional<QByteArray> read(const QString &service, const QString &account) override;
    void write(const QString &service, const QString &account, const QByteArray &data) override;
    void remove(const QString &service, const QString &account) override;
};

} // namespace oxle
