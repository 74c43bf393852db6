#include "core/net/network_settings.h"

#include <QString>
#include <sstream>

bool NetworkSettings::operator==(const NetworkSettings& other) const {
  return mode == other.mode && type == other.type && host == other.host && port == other.port &&
         auth == other.auth && user == other.user && password == other.password &&
         extra_mode == other.extra_mode;
}

NetworkSettings::ValidationResult NetworkSettings::Validate() const {
  if (mode != kManualProxy) return kValid;
  if (host.empty()) return kHostEmpty;
  if (port < 1 || port > 65535) return kPortInvalid;
  if (auth && (user.empty() || password.empty())) return kCredentialsMissing;
  return kValid;
}

namespace {

const std::string& OrPlaceholder(const std::string& text) {
  static const std::string kPlaceholder = NetworkSettings::kEmptyPlaceholder;
  return text.empty() ? kPlaceholder : text;
}

std::string FromPlaceholder(const std::string& text) {
  return text == NetworkSettings::kEmptyPlaceholder ? std::string() : text;
}

}  // namespace

std::string NetworkSettings::ToString() const {
  return std::to_string(mode) + " " + std::to_string(type) + " " + OrPlaceholder(host) + " " +
         std::to_string(port) + " " + (auth ? "true" : "false") + " " + OrPlaceholder(user) +
         " " + OrPlaceholder(password);
}

bool NetworkSettings::FromString(const std::string& text) {
  std::istringstream in(text);
  NetworkSettings parsed;
  std::string host_text, auth_text, user_text, password_text;
  if (!(in >> parsed.mode >> parsed.type >> host_text >> parsed.port >> auth_text >> user_text >>
        password_text)) {
    return false;
  }
  if (auth_text != "true" && auth_text != "false") return false;
  parsed.host = FromPlaceholder(host_text);
  parsed.auth = auth_text == "true";
  parsed.user = FromPlaceholder(user_text);
  parsed.password = FromPlaceholder(password_text);
  parsed.extra_mode = extra_mode;
  *this = parsed;
  return Validate() == kValid;
}

QVariant NetworkSettings::ToVariant() const { return QVariant(QString::fromStdString(ToString())); }
