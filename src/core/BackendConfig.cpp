#include "core/BackendConfig.h"

#include <QProcessEnvironment>

#ifndef OXLE_DEFAULT_BACKEND_URL
#define OXLE_DEFAULT_BACKEND_URL "http://127.0.0.1:54321"
#endif
#ifndef OXLE_DEFAULT_ANON_KEY
#define OXLE_DEFAULT_ANON_KEY ""
#endif

namespace oxle {

BackendConfig BackendConfig::fromEnvironment()
{
    const auto env = QProcessEnvironment::systemEnvironment();
    BackendConfig config;
    config.baseUrl = env.value(QStringLiteral("OXLE_BACKEND_URL"), QStringLiteral(OXLE_DEFAULT_BACKEND_URL));
    config.anonKey = env.value(QStringLiteral("OXLE_ANON_KEY"), QStringLiteral(OXLE_DEFAULT_ANON_KEY));
    while (config.baseUrl.endsWith(QLatin1Char('/')))
        config.baseUrl.chop(1);
    return config;
}

} // namespace oxle
