#ifndef KORVO_CORE_PLATFORM_POSIX_SECRET_SERVICE_H_
#define KORVO_CORE_PLATFORM_POSIX_SECRET_SERVICE_H_

#include <string>

namespace secret_service {

// The desktop's Secret Service (GNOME Keyring, KWallet) through libsecret,
// which is loaded on first use so that the library starts without it. One
// item of our own schema holds the master key as text. Calls are serialised
// process-wide and block on D-Bus; none of them prompts the user, because
// each first checks that the default keyring is unlocked.

// True when a session bus, the service and an unlocked default keyring
// answer. Otherwise stores why not in |*error|.
bool Available(std::string* error);

// Reads the key text. True with |*found| false when there is no item yet.
bool LookupKey(std::string* key_text, bool* found, std::string* error);

// Stores |key_text| in the default keyring, replacing an item of ours.
bool StoreKey(const std::string& key_text, std::string* error);

}  // namespace secret_service

#endif  // KORVO_CORE_PLATFORM_POSIX_SECRET_SERVICE_H_
