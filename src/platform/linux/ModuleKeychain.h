#pragma once

#include "core/Keychain.h"

#include <QString>

#include <memory>
#include <mutex>

namespace oxle {

// The Secret Service keychain, loaded from its module (oxle_keychain_secret_service.so, beside the reader's
// plugin) the first time a secret is read or written. A module that cannot be loaded behaves as a keychain
// without a Secret Service: reads are empty and writes are dropped, with one warning in the log.
class ModuleKeychain : public Keychain
{
public:
    // modulePath: the module to load; empty for the installed one, or the build tree's.
    explicit ModuleKeychain(QString modulePath = {});
    ~ModuleKeychain() override;
    ModuleKeychain(const ModuleKeychain &) = delete;
    ModuleKeychain &operator=(const ModuleKeychain &) = delete;

    std::optional<QByteArray> read(const QString &service, const QString &account) override;
    void write(const QString &service, const QString &account, const QByteArray &data) override;
    void remove(const QString &service, const QString &account) override;

    // Whether the module has been loaded (for tests: nothing is loaded before the first secret is needed).
    bool isLoaded() const { return m_keychain != nullptr; }

private:
    Keychain *keychain();

    QString m_modulePath;
    std::once_flag m_loading;
    std::unique_ptr<Keychain> m_keychain;
};

} // namespace oxle
