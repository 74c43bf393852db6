#include "core/auth/auth_cookie_webdav.h"

#include <QByteArray>
#include "core/auth/cookie_lock.h"
#include <QString>
#include <QVariantMap>

#include "core/auth/auth_cookie_processor.h"
#include "core/auth/persisted.h"
#include "core/auth/token.h"
#include "core/infra/logger.h"
#include "core/net/dispatcher_url.h"
#include "core/net/url_processor.h"

namespace {

constexpr char kLoginKey[] = "login";
constexpr char kHeaderKey[] = "pwd";
constexpr char kServerKey[] = "srv";
constexpr unsigned int kProbeBuffer = 4096;

// A PROPFIND of |url| itself ("Depth: 0"): 200 or 207 means the server
// answers there and takes the login.
bool Probe(URLProcessor* processor, const std::string& url) {
  if (url.empty()) return false;
  processor->Propfind(DispatcherUrl::FromString(url), {"Depth: 0"}, std::string());
  std::string reply;
  processor->ReadAllTo(&reply, kProbeBuffer);
  const URLProcessor::Result result = processor->Finish();
  return result == URLProcessor::SUCCEEDED || result == URLProcessor::MULTI_STATUS;
}

}  // namespace

AuthCookieWebDAVBase::AuthCookieWebDAVBase(CloudServiceId service_id, const std::string& server,
                                           const std::string& login,
                                           const std::string& password,
                                           const std::string& additional_server)
    : AuthCookie(service_id),
      login_(login),
      server_(server),
      main_server_(server),
      additional_server_(additional_server) {
  CreateAuthHeader(password);
}

AuthCookieWebDAVBase::AuthCookieWebDAVBase(CloudServiceId service_id, const QVariant& stored,
                                           const std::string& key)
    : AuthCookie(service_id) {
  using auth_persisted::Entry;
  server_ = auth_persisted::TextOf(Entry(stored, kServerKey));
  login_ = auth_persisted::TextOf(Entry(stored, kLoginKey));
  auth_header_ = Token::Decrypt(auth_persisted::BytesOf(Entry(stored, kHeaderKey)), key);
  if (login_.empty() || auth_header_.empty()) {
    login_.clear();
    auth_header_.clear();
    KLOG(Fail) << "Failed to load cookie from config.";
  }
}

void AuthCookieWebDAVBase::CreateAuthHeader(const std::string& password) {
  // Base64 of the pair's UTF-8 form, whatever the letters (bytes that are
  // not UTF-8 become U+FFFD, as any peer decoding the text would see them).
  const std::string pair = login_ + ":" + password;
  const QByteArray encoded =
      QString::fromUtf8(pair.data(), static_cast<int>(pair.size())).toUtf8().toBase64();
  CookieLock lock(&mutex_);
  auth_header_ = "Authorization: Basic " + encoded.toStdString();
}

std::string AuthCookieWebDAVBase::HttpHeader() const {
  CookieLock lock(&mutex_);
  return auth_header_;
}

std::shared_ptr<AuthCookieProcessor> AuthCookieWebDAVBase::GetProcessor(
    std::shared_ptr<URLProcessorFactory> factory) {
  return std::make_shared<AuthCookieProcessorDummy>(nullptr, std::move(factory));
}

void AuthCookieWebDAVBase::Expire() {
  CookieLock lock(&mutex_);
  login_.clear();
  auth_header_.clear();
}

bool AuthCookieWebDAVBase::HasAccess() const {
  CookieLock lock(&mutex_);
  return !auth_header_.empty();
}

QVariant AuthCookieWebDAVBase::Serialize(const std::string& key) {
  CookieLock lock(&mutex_);
  QVariantMap map;
  map.insert(kLoginKey, QString::fromStdString(login_));
  auth_persisted::InsertProtected(&map, kHeaderKey, auth_header_, key);
  map.insert(kServerKey, QString::fromStdString(server_));
  return map;
}

bool AuthCookieWebDAVBase::IsSameAccount(const AuthCookie& other) const {
  const auto* same = dynamic_cast<const AuthCookieWebDAVBase*>(&other);
  return same != nullptr && same->login_ == login_;
}

bool AuthCookieWebDAVBase::UpdateServerURL(std::shared_ptr<URLProcessor> processor) {
  if (!processor) return false;
  const auto* credential = dynamic_cast<const AuthCookieWebDAVBase*>(processor->GetAuthInfo());
  if (credential == nullptr) credential = this;
  std::string main = credential->GetMainServer();
  const std::string additional = credential->GetAdditionalServer();
  // A credential loaded from the settings knows only the server it used
  // last: that one is its main server, rather than none.
  if (main.empty()) main = credential->GetServer();
  std::string chosen = main;
  bool answered = Probe(processor.get(), main);
  if (!answered && Probe(processor.get(), additional)) {
    chosen = additional;
    answered = true;
  }
  CookieLock lock(&mutex_);
  server_ = chosen;
  return answered;
}

std::string AuthCookieWebDAVBase::GetLogin() const {
  CookieLock lock(&mutex_);
  return login_;
}

std::string AuthCookieWebDAVBase::GetServer() const {
  CookieLock lock(&mutex_);
  return server_;
}
