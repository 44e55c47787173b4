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

    static constexpr qsizetype maxLength = qsizetype(8) * 1024;
    static std::optional<UrlRoute> parse(const QString &text);
    // The code of an invitation link "oxle://join/CODE", unchanged: its last path component. None for a link
    // without one ("oxle://join", "oxle://join/") and for any other address.
    static std::optional<QString> inviteCode(const QUrl &url);
};

} // namespace oxle
