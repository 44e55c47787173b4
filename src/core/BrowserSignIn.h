#pragma once

#include "core/Errors.h"

#include <QString>
#include <QUrl>

#include <QCoro/QCoroTask>

namespace oxle {

// The platform's browser sign-in: shows the authorize page and completes with the
// callback URL once the browser is sent to callbackScheme. Completes with an empty
// URL when the flow ended without one; throws SignInCancelled when the user cancels.
class BrowserSignIn
{
public:
    virtual ~BrowserSignIn() = default;
    virtual QCoro::Task<QUrl> start(QUrl url, QString callbackScheme) = 0;
};

// The platform's own cancellation of the browser flow (the user closed the window or pressed Cancel).
class SignInCancelled : public Error
{
public:
    QString description() const override { return QStringLiteral("The sign-in was cancelled before it finished."); }
};

} // namespace oxle
