#pragma once

#include <QString>
#include <QUrl>

#include <optional>

namespace oxle {

// URLs reach the application from the browser and the desktop: untrusted input.
// Only the "oxle" scheme with the hosts the application handles passes.
struct UrlRoute
{
    enum class Kind { AuthCallback, Join };

    Kind kind;
    QUrl url;

    static constexpr qsizetype maxLength = 8 * 1024;
    static std::optional<UrlRoute> parse(const QString &text);
};

} // namespace oxle
