#include "core/net/dispatcher_url.h"

#include <QUrl>

#include "core/infra/logger.h"
#include "core/text/cloud_utils.h"

DispatcherUrl::DispatcherUrl(const std::string& url, const std::string& ip) : ip_(ip), url_(url) {
  if (ip.empty()) {
    KLOG(Fatal) << "Dispatcher empty ip " << url << ".";
    return;
  }
  const QUrl parsed = QUrl::fromUserInput(QString::fromStdString(url));
  const QString scheme = parsed.scheme();
  if (!parsed.host().isEmpty() && (scheme == scheme_http || scheme == scheme_https)) {
    resolver_valid_ = true;
    // An explicit port in the URL is the one the pinned entry must name.
    port_ = parsed.port(scheme == scheme_http ? kPortHttp : kPortHttps);
  } else {
    KLOG(Fatal) << "Dispatcher invalid url " << url << ".";
  }
}

DispatcherUrl DispatcherUrl::FromString(const std::string& url) { return DispatcherUrl(url); }

void DispatcherUrl::Clear() { *this = DispatcherUrl(); }

std::string DispatcherUrl::Resolver() const {
  return ExtractHostnameFromURL(url_) + ":" + std::to_string(port_) + ":" + ip_;
}

namespace {

void AppendValue(const std::string& text, DispatcherUrl::ValueEncodingMode mode,
                 std::string* out) {
  if (mode == DispatcherUrl::kAsIs) {
    *out += text;
  } else {
    utils::PercentEncode(text, out, mode == DispatcherUrl::kEncodeWithSlash);
  }
}

}  // namespace

void DispatcherUrl::Append(const std::string& text, ValueEncodingMode mode) {
  AppendValue(text, mode, &url_);
  query_state_ = 0;
}

void DispatcherUrl::AppendParam(const char* name, const std::string& value,
                                ValueEncodingMode mode) {
  if (query_state_ == 0) query_state_ = url_.find('?') != std::string::npos ? 2 : 1;
  url_ += query_state_ == 2 ? '&' : '?';
  query_state_ = 2;
  url_ += name;
  url_ += '=';
  AppendValue(value, mode, &url_);
}

namespace url_utils {

void PostParamsSet::Add(const char* name, const char* value) {
  if (!body_.empty()) body_ += '&';
  body_ += name;
  body_ += '=';
  body_ += value;
}

void PostParamsSet::Add(const char* name, const std::string& value, bool encode) {
  if (!body_.empty()) body_ += '&';
  body_ += name;
  body_ += '=';
  if (encode) {
    utils::PercentEncode(value, &body_, /*encode_slash=*/true);
  } else {
    body_ += value;
  }
}

}  // namespace url_utils
