#ifndef KORVO_CORE_NET_NETWORK_SETTINGS_H_
#define KORVO_CORE_NET_NETWORK_SETTINGS_H_

#include <QVariant>
#include <cstdint>
#include <string>

#include "core/export.h"

// The proxy choice every request applies.
class KORVO_EXPORT NetworkSettings {
 public:
  enum Mode : int32_t { kNoProxy = 0, kSystemProxy = 1, kManualProxy = 2 };
  enum Type : int32_t { kHttp = 0, kSocks4 = 1, kSocks5 = 2 };
  enum ValidationResult : int32_t {
    kValid = 0,
    kHostEmpty = 1,
    kPortInvalid = 2,
    kCredentialsMissing = 3,
  };
  // Stands for an empty field in the text form.
  static constexpr char kEmptyPlaceholder[] = "D6B6DC5E1FB546A79E88F30A3FB16E90";

  bool operator==(const NetworkSettings& other) const;
  bool operator!=(const NetworkSettings& other) const { return !(*this == other); }

  // Only a manual proxy can be invalid.
  ValidationResult Validate() const;
  // "mode type host port auth user password"; the password is in clear.
  std::string ToString() const;
  // True when the text parsed and the result validates.
  bool FromString(const std::string& text);
  QVariant ToVariant() const;

  int mode = kSystemProxy;
  int type = kHttp;
  std::string host;
  int port = 0;
  bool auth = false;
  std::string user;
  std::string password;
  int extra_mode = 1;  // The application's; kept and compared only.
};

#endif  // KORVO_CORE_NET_NETWORK_SETTINGS_H_
