#pragma once

#include <QLoggingCategory>
#include <QString>
#include <QUrl>

// The core's log categories. None is to carry a token, a key, a password, an Authorization header or a
// session: a URL that may hold one (a sign-in callback, a key in the query) is logged through redactedUrl().
namespace oxle {

Q_DECLARE_LOGGING_CATEGORY(lcTransport)
Q_DECLARE_LOGGING_CATEGORY(lcAuth)
Q_DECLARE_LOGGING_CATEGORY(lcSession)

// Scheme, host, port and path only: user info, query and fragment are left out.
QString redactedUrl(const QUrl &url);

// `text` with `url`, as the network stack quotes it in its error texts, replaced by its redacted form.
QString redactUrlIn(QString text, const QUrl &url);

} // namespace oxle
