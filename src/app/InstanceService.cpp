#include "app/InstanceService.h"

#include "app/CallbackBrowserSignIn.h"
#include "app/Logging.h"
#include "app/UrlRoute.h"
#include "core/Account.h"
#include "core/Errors.h"
#include "core/Logging.h"

#include <optional>

namespace oxle {

InstanceService::InstanceService(Account &account, CallbackBrowserSignIn &browser, QObject *parent)
    : QObject(parent)
    , m_account(account)
    , m_browser(browser)
{
}

QCoro::Task<InstanceReply> InstanceService::signIn(QString provider)
{
    if (provider != QLatin1String("google") && provider != QLatin1String("apple"))
        co_return InstanceReply{1, {}, QStringLiteral("Unknown sign-in provider \"%1\": use google or apple.").arg(provider)};
    try {
        co_await m_account.signIn(provider);
        const auto &session = m_account.session();
        const QString who = session && session->email ? *session->email : QStringLiteral("(no e-mail address)");
        co_return InstanceReply{0, QStringLiteral("Signed in as %1.").arg(who), {}};
    } catch (const Error &error) {
        co_return InstanceReply{1, {}, error.description()};
    }
}

QCoro::Task<InstanceReply> InstanceService::handle(InstanceRequest request, QPointer<QLocalSocket> asker)
{
    // The asker waits for a reply, some without a time limit: a request that throws is answered too.
    std::optional<QString> failure;
    try {
        QCoro::Task<InstanceReply> task = carryOut(std::move(request), std::move(asker));
        co_return co_await std::move(task);
    } catch (...) {
        failure = describeCurrentException();
    }
    co_return InstanceReply{2, {},
                            failure->isEmpty() ? QStringLiteral("oxle could not carry out the request.")
                                               : QStringLiteral("oxle could not carry out the request: %1").arg(failure->left(2000))};
}

QCoro::Task<InstanceReply> InstanceService::carryOut(InstanceRequest request, QPointer<QLocalSocket> asker)
{
    switch (request.kind) {
    case InstanceRequest::Kind::OpenUrl: {
        const auto route = UrlRoute::parse(request.argument);
        if (!route)
            co_return InstanceReply{1, {}, QStringLiteral("Ignored an address oxle does not handle.")};
        if (route->kind == UrlRoute::Kind::AuthCallback) {
            // The callback's fragment holds the session's tokens.
            if (!m_browser.deliverCallback(route->url)) {
                qCInfo(lcApp).noquote() << "sign-in callback" << redactedUrl(route->url) << "ignored: no sign-in is waiting";
                co_return InstanceReply{0, {}, QStringLiteral("No sign-in is waiting; the address was ignored.")};
            }
            qCDebug(lcApp).noquote() << "sign-in callback" << redactedUrl(route->url) << "handed to the waiting sign-in";
            co_return InstanceReply{};
        }
        qCDebug(lcApp) << "invitation link received"; // the link's path is the invitation's code
        Q_EMIT joinRequested(route->url);
        co_return InstanceReply{};
    }
    case InstanceRequest::Kind::SignIn: {
        // The asker left (Ctrl+C): nobody waits for this sign-in any more.
        QMetaObject::Connection gone;
        if (asker)
            gone = connect(asker.data(), &QLocalSocket::disconnected, &m_browser, &CallbackBrowserSignIn::cancel);
        InstanceReply reply;
        try {
            reply = co_await signIn(request.argument);
        } catch (...) {
            disconnect(gone);
            throw;
        }
        disconnect(gone);
        co_return reply;
    }
    case InstanceRequest::Kind::SignOut:
        m_account.signOut();
        co_return InstanceReply{0, QStringLiteral("Signed out."), {}};
    case InstanceRequest::Kind::Show:
        Q_EMIT showRequested();
        co_return InstanceReply{};
    case InstanceRequest::Kind::SaveTab:
        if (m_saveTab) {
            QCoro::Task<InstanceReply> task = m_saveTab();
            co_return co_await std::move(task);
        }
        co_return InstanceReply{1, {}, QStringLiteral("This oxle cannot save tabs.")};
    case InstanceRequest::Kind::Capture:
        Q_EMIT captureRequested();
        co_return InstanceReply{};
    case InstanceRequest::Kind::Settings:
        Q_EMIT settingsRequested();
        co_return InstanceReply{};
    case InstanceRequest::Kind::Quit:
        // After the reply has gone out: the asker learns that the request arrived.
        QMetaObject::invokeMethod(this, &InstanceService::quitRequested, Qt::QueuedConnection);
        co_return InstanceReply{};
    }
    co_return InstanceReply{1, {}, QStringLiteral("Unknown request.")};
}

} // namespace oxle
