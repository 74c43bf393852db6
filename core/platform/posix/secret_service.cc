#include "core/platform/posix/secret_service.h"

#include <dlfcn.h>
#include <sys/stat.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <type_traits>

namespace secret_service {

namespace {

// The parts of libsecret's and GLib's ABI used here, declared by hand: the
// library is loaded at run time and its headers are not needed to build.
struct GError {
  uint32_t domain;
  int code;
  char* message;
};

struct SchemaAttribute {
  const char* name;
  int type;  // SECRET_SCHEMA_ATTRIBUTE_STRING is 0.
};

struct Schema {
  const char* name;
  int flags;  // SECRET_SCHEMA_NONE
  SchemaAttribute attributes[32];
  int reserved;
  void* reserved1;
  void* reserved2;
  void* reserved3;
  void* reserved4;
  void* reserved5;
  void* reserved6;
  void* reserved7;
};

constexpr int kServiceOpenSession = 1 << 1;  // SECRET_SERVICE_OPEN_SESSION
constexpr int kCollectionNone = 0;           // SECRET_COLLECTION_NONE

const Schema kSchema = {"org.korvo.SecretsKey", 0, {{"application", 0}, {nullptr, 0}}};
constexpr const char* kApplication = "korvo";
constexpr const char* kLabel = "Korvo: key of the secrets kept in its settings";

struct Api {
  void* (*service_get_sync)(int flags, void* cancellable, GError** error);
  void* (*collection_for_alias_sync)(void* service, const char* alias, int flags,
                                     void* cancellable, GError** error);
  int (*collection_get_locked)(void* collection);
  char* (*password_lookup_sync)(const Schema* schema, void* cancellable, GError** error, ...);
  int (*password_store_sync)(const Schema* schema, const char* collection, const char* label,
                             const char* password, void* cancellable, GError** error, ...);
  void (*password_free)(char* password);
  void (*error_free)(GError* error);
  void (*object_unref)(void* object);
};

std::mutex g_mutex;

// Loaded once and never unloaded: GLib does not support being unloaded.
const Api* LoadApi(std::string* error) {
  static std::string load_error;
  static const Api* const api = []() -> const Api* {
    void* handle = dlopen("libsecret-1.so.0", RTLD_NOW | RTLD_LOCAL);
    if (handle == nullptr) {
      load_error = "libsecret is not installed";
      return nullptr;
    }
    static Api loaded;
    bool ok = true;
    auto bind = [&](auto& slot, const char* name) {
      void* symbol = dlsym(handle, name);
      if (symbol == nullptr) ok = false;
      slot = reinterpret_cast<std::remove_reference_t<decltype(slot)>>(symbol);
    };
    bind(loaded.service_get_sync, "secret_service_get_sync");
    bind(loaded.collection_for_alias_sync, "secret_collection_for_alias_sync");
    bind(loaded.collection_get_locked, "secret_collection_get_locked");
    bind(loaded.password_lookup_sync, "secret_password_lookup_sync");
    bind(loaded.password_store_sync, "secret_password_store_sync");
    bind(loaded.password_free, "secret_password_free");
    bind(loaded.error_free, "g_error_free");
    bind(loaded.object_unref, "g_object_unref");
    if (!ok) {
      load_error = "libsecret lacks a function this program needs";
      return nullptr;
    }
    return &loaded;
  }();
  if (api == nullptr) *error = load_error;
  return api;
}

// Takes the message of |*gerror| and frees it.
std::string TakeError(const Api* api, GError* gerror, const char* fallback) {
  if (gerror == nullptr) return fallback;
  std::string text = gerror->message != nullptr ? gerror->message : fallback;
  api->error_free(gerror);
  return text;
}

// Without a session bus GLib would try to start one; a desktop session
// always announces its bus in one of these two ways.
bool HasSessionBus() {
  const char* address = std::getenv("DBUS_SESSION_BUS_ADDRESS");
  if (address != nullptr && *address != '\0') return true;
  const char* runtime = std::getenv("XDG_RUNTIME_DIR");
  if (runtime == nullptr || *runtime == '\0') return false;
  struct stat info = {};
  return stat((std::string(runtime) + "/bus").c_str(), &info) == 0 && S_ISSOCK(info.st_mode);
}

bool AvailableLocked(const Api** api_out, std::string* error) {
  if (!HasSessionBus()) {
    *error = "no session bus";
    return false;
  }
  const Api* api = LoadApi(error);
  if (api == nullptr) return false;
  GError* gerror = nullptr;
  void* service = api->service_get_sync(kServiceOpenSession, nullptr, &gerror);
  if (service == nullptr) {
    *error = "the Secret Service does not answer: " +
             TakeError(api, gerror, "no reason given");
    return false;
  }
  void* collection =
      api->collection_for_alias_sync(service, "default", kCollectionNone, nullptr, &gerror);
  api->object_unref(service);
  if (collection == nullptr) {
    *error = gerror != nullptr
                 ? "the Secret Service has no default keyring: " +
                       TakeError(api, gerror, "no reason given")
                 : "the Secret Service has no default keyring";
    return false;
  }
  const bool locked = api->collection_get_locked(collection) != 0;
  api->object_unref(collection);
  if (locked) {
    *error = "the default keyring is locked";
    return false;
  }
  *api_out = api;
  return true;
}

}  // namespace

bool Available(std::string* error) {
  std::lock_guard<std::mutex> lock(g_mutex);
  const Api* api = nullptr;
  return AvailableLocked(&api, error);
}

bool LookupKey(std::string* key_text, bool* found, std::string* error) {
  std::lock_guard<std::mutex> lock(g_mutex);
  key_text->clear();
  *found = false;
  const Api* api = nullptr;
  if (!AvailableLocked(&api, error)) return false;
  GError* gerror = nullptr;
  char* password = api->password_lookup_sync(&kSchema, nullptr, &gerror, "application",
                                             kApplication, static_cast<char*>(nullptr));
  if (gerror != nullptr) {
    if (password != nullptr) api->password_free(password);
    *error = "the Secret Service lookup failed: " + TakeError(api, gerror, "no reason given");
    return false;
  }
  if (password == nullptr) return true;
  key_text->assign(password);
  api->password_free(password);  // Clears the memory before freeing it.
  *found = true;
  return true;
}

bool StoreKey(const std::string& key_text, std::string* error) {
  std::lock_guard<std::mutex> lock(g_mutex);
  const Api* api = nullptr;
  if (!AvailableLocked(&api, error)) return false;
  GError* gerror = nullptr;
  const int stored =
      api->password_store_sync(&kSchema, "default", kLabel, key_text.c_str(), nullptr, &gerror,
                               "application", kApplication, static_cast<char*>(nullptr));
  if (stored == 0 || gerror != nullptr) {
    *error = "the Secret Service did not store the key: " +
             TakeError(api, gerror, "no reason given");
    return false;
  }
  return true;
}

}  // namespace secret_service
