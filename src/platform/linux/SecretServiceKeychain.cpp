#include "platform/linux/SecretServiceKeychain.h"

#include <QLoggingCategory>

#include <libsecret/secret.h>

namespace oxle {

namespace {

// Built into a module of its own (SecretServiceModule.cpp), so it names its category itself.
Q_LOGGING_CATEGORY(lcKeychain, "oxle.platform.linux.keychain", QtWarningMsg)

const SecretSchema *schema()
{
    static const SecretSchema s = {
        "com.oxle.mac.Session",
        SECRET_SCHEMA_NONE,
        {
            {"service", SECRET_SCHEMA_ATTRIBUTE_STRING},
            {"account", SECRET_SCHEMA_ATTRIBUTE_STRING},
            {nullptr, SecretSchemaAttributeType(0)},
        },
        0, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
    };
    return &s;
}

void logError(const char *what, GError *error)
{
    // The message names the failing call only; it never carries the secret.
    qCDebug(lcKeychain) << what << "failed:" << (error ? error->message : "unknown");
    if (error)
        g_error_free(error);
}

} // namespace

std::optional<QByteArray> SecretServiceKeychain::read(const QString &service, const QString &account)
{
    GError *error = nullptr;
    const auto s = service.toUtf8();
    const auto a = account.toUtf8();
    gchar *password = secret_password_lookup_sync(schema(), nullptr, &error, "service", s.constData(), "account",
                                                  a.constData(), nullptr);
    if (error) {
        logError("lookup", error);
        return std::nullopt;
    }
    if (!password)
        return std::nullopt;
    QByteArray data(password);
    secret_password_free(password);
    return data;
}

void SecretServiceKeychain::write(const QString &service, const QString &account, const QByteArray &data)
{
    const auto s = service.toUtf8();
    const auto a = account.toUtf8();
    // One step: storing with the same attributes updates the earlier item in place (the Secret Service's
    // CreateItem with "replace"), so exactly one remains and there is never a moment without a session.
    // Never clear first: a crash between a clear and the store would lose the session.
    GError *error = nullptr;
    const auto label = QByteArray("oxle session");
    secret_password_store_sync(schema(), SECRET_COLLECTION_DEFAULT, label.constData(), data.constData(), nullptr,
                               &error, "service", s.constData(), "account", a.constData(), nullptr);
    if (error)
        logError("store", error);
}

void SecretServiceKeychain::remove(const QString &service, const QString &account)
{
    const auto s = service.toUtf8();
    const auto a = account.toUtf8();
    GError *error = nullptr;
    secret_password_clear_sync(schema(), nullptr, &error, "service", s.constData(), "account", a.constData(),
                               nullptr);
    if (error)
        logError("clear", error);
}

} // namespace oxle
