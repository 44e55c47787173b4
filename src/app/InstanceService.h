#pragma once

#include "app/InstanceProtocol.h"

#include <QLocalSocket>
#include <QObject>
#include <QPointer>

#include <QCoro/QCoroTask>

#include <functional>

namespace oxle {

class Account;
class CallbackBrowserSignIn;

// What the running instance does with the requests of later oxle processes:
// sign-in and sign-out happen here, so this process's account changes at once,
// and browser callbacks reach the sign-in that waits for them.
class InstanceService : public QObject
{
    Q_OBJECT
public:
    InstanceService(Account &account, CallbackBrowserSignIn &browser, QObject *parent = nullptr);

    // Never throws: a request that fails in any way is answered with exit code 2 and the error.
    QCoro::Task<InstanceReply> handle(InstanceRequest request, QPointer<QLocalSocket> asker);

    // Sign in and describe the outcome as the command line prints it.
    QCoro::Task<InstanceReply> signIn(QString provider);

    // What `oxle --save-tab` runs; until one is set, the request is refused.
    using SaveTabHandler = std::function<QCoro::Task<InstanceReply>()>;
    void setSaveTabHandler(SaveTabHandler handler) { m_saveTab = std::move(handler); }

Q_SIGNALS:
    // An invitation link ("oxle://join/CODE") for the library to redeem.
    void joinRequested(const QUrl &url);
    // Another process asked for the main window, the settings window, the capture panel, or the end.
    void showRequested();
    void settingsRequested();
    void captureRequested();
    void quitRequested();

private:
    QCoro::Task<InstanceReply> carryOut(InstanceRequest request, QPointer<QLocalSocket> asker);

    Account &m_account;
    CallbackBrowserSignIn &m_browser;
    SaveTabHandler m_saveTab;
};

} // namespace oxle
