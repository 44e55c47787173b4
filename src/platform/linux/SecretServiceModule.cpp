// The Secret Service keychain as a module of its own, loaded the first time a program reads or writes a secret
// (ModuleKeychain): libsecret and the GLib libraries it brings are not loaded at every start of the command line.
#include "platform/linux/SecretServiceKeychain.h"

#include <QtGlobal>

extern "C" Q_DECL_EXPORT oxle::Keychain *oxle_create_secret_service_keychain()
{
    return new oxle::SecretServiceKeychain;
}
