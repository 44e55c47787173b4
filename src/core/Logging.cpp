#include "core/Logging.h"

namespace oxle {

// Debug lines are off unless asked for (QT_LOGGING_RULES="oxle.*.debug=true").
Q_LOGGING_CATEGORY(lcTransport, "oxle.core.transport", QtInfoMsg)
Q_LOGGING_CATEGORY(lcAuth, "oxle.core.auth", QtInfoMsg)
Q_LOGGING_CATEGORY(lcSession, "oxle.core.session", QtInfoMsg)

QString redactedUrl(const QUrl &url)
{
    return url.adjusted(QUrl::RemoveUserInfo | QUrl::RemoveQuery | QUrl::RemoveFragment).toString();
}

QString redactUrlIn(QString text, const QUrl &url)
{
    if (!url.hasQuery() && !url.hasFragment() && url.userInfo().isEmpty())
        return text;
    const QString safe = redactedUrl(url);
    for (const QString &form : {url.toString(), url.toString(QUrl::FullyEncoded), url.toDisplayString()}) {
        if (!form.isEmpty())
            text.replace(form, safe);
    }
    return text;
}

} // namespace oxle
