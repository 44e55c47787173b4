#pragma once

#include "app/CallbackBrowserSignIn.h"
#include "app/InstanceService.h"
#include "app/SingleInstance.h"
#include "core/Account.h"
#include "core/AuthService.h"
#include "core/BackendConfig.h"
#include "core/PrefetchingKeychain.h"
#include "core/SessionStore.h"
#include "platform/Platform.h"

#include <QNetworkAccessManager>

#include <memory>

namespace oxle {

// Everything the account needs, over the real keychain and backend, and the single-instance socket through
// which later oxle processes reach this one.
struct AccountStack
{
    AccountStack();

    QNetworkAccessManager network;
    BackendConfig config = BackendConfig::fromEnvironment();
    std::unique_ptr<Keychain> secretService = platform::createKeychain();
    // The running instance reads the session on a worker thread at start; otherwise calls pass straight through.
    PrefetchingKeychain keychain{*secretService};
    SessionStore store{&keychain};
    CallbackBrowserSignIn browser;
    AuthService auth{&network, config, &browser};
    Account account{&store, &auth};
    InstanceService service{account, browser};
    InstanceServer server{defaultInstanceSocketPath(), &platform::peerIsCurrentUser};
};

} // namespace oxle
