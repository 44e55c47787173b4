#include "app/UrlRoute.h"

namespace oxle {

std::optional<UrlRoute> UrlRoute::parse(const QString &text)
{
    if (text.isEmpty() || text.size() > maxLength)
        return std::nullopt;
    for (const QChar c : text)
        if (c.unicode() < 0x21 || c.unicode() > 0x7e) // no spaces, controls or raw non-ASCII
            return std::nullopt;
    const QUrl url(text, QUrl::StrictMode);
    if (!url.isValid() || url.scheme() != QStringLiteral("oxle") || !url.userInfo().isEmpty() || url.port() != -1)
        return std::nullopt;
    const QString host = url.host();
    if (host == QStringLiteral("auth-callback"))
        return UrlRoute{Kind::AuthCallback, url};
    if (host == QStringLiteral("join"))
        return UrlRoute{Kind::Join, url};
    return std::nullopt;
}

std::optional<QString> UrlRoute::inviteCode(const QUrl &url)
{
    if (url.scheme() != QStringLiteral("oxle") || url.host() != QStringLiteral("join"))
        return std::nullopt;
    // The last path component, as a file path's: a trailing "/" does not make an empty one.
    QString path = url.path();
    while (path.size() > 1 && path.endsWith(QLatin1Char('/')))
        path.chop(1);
    const QString code = path == QStringLiteral("/") ? path : path.section(QLatin1Char('/'), -1);
    if (code.isEmpty() || code == QStringLiteral("join") || code == QStringLiteral("/"))
        return std::nullopt;
    return code;
}

} // namespace oxle
