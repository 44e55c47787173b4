#include "platform/linux/ModuleKeychain.h"

#include "platform/linux/Logging.h"

#include <QLibrary>
#include <QStringList>

#include <utility>

namespace oxle {

namespace {

using CreateKeychain = Keychain *(*)();

QStringList candidates(const QString &modulePath)
{
    if (!modulePath.isEmpty())
        return {modulePath};
    if (const QString path = qEnvironmentVariable("OXLE_KEYCHAIN_MODULE"); !path.isEmpty())
        return {path};
    return {QStringLiteral(OXLE_PLUGIN_INSTALL_DIR "/oxle_keychain_secret_service.so"),
            QStringLiteral(OXLE_PLUGIN_BUILD_DIR "/oxle_keychain_secret_service.so")};
}

} // namespace

ModuleKeychain::ModuleKeychain(QString modulePath)
    : m_modulePath(std::move(modulePath))
{
}

// The module stays loaded until the process ends (QLibrary does not unload it here), so the keychain it made
// can be deleted at any time.
ModuleKeychain::~ModuleKeychain() = default;

Keychain *ModuleKeychain::keychain()
{
    std::call_once(m_loading, [this] {
        QStringList problems;
        for (const QString &path : candidates(m_modulePath)) {
            QLibrary module(path);
            const auto create = reinterpret_cast<CreateKeychain>(module.resolve("oxle_create_secret_service_keychain"));
            if (create) {
                m_keychain.reset(create());
                return;
            }
            problems << module.errorString();
        }
        qCWarning(lcPlatformLinux) << "keychain: the Secret Service module could not be loaded; the session is not"
                                   << "kept:" << problems.join(QStringLiteral("; "));
    });
    return m_keychain.get();
}

std::optional<QByteArray> ModuleKeychain::read(const QString &service, const QString &account)
{
    Keychain *loaded = keychain();
    return loaded ? loaded->read(service, account) : std::nullopt;
}

void ModuleKeychain::write(const QString &service, const QString &account, const QByteArray &data)
{
    if (Keychain *loaded = keychain())
        loaded->write(service, account, data);
}

void ModuleKeychain::remove(const QString &service, const QString &account)
{
    if (Keychain *loaded = keychain())
        loaded->remove(service, account);
}

} // namespace oxle
