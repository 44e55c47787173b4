#pragma once

#include <QString>
#include <QUrl>

namespace oxle {

// Where the backend lives. The build fixes the defaults; OXLE_BACKEND_URL and
// OXLE_ANON_KEY override them for development, tests and self-hosted backends.
struct BackendConfig
{
    QString baseUrl; // scheme and host, no trailing slash
    QString anonKey;
    int timeoutMs = 60'000;

    static BackendConfig fromEnvironment();

    QString restRoot() const { return baseUrl + QStringLiteral("/rest/v1/"); }
};

} // namespace oxle
