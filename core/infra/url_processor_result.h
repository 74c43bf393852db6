#ifndef KORVO_CORE_INFRA_URL_PROCESSOR_RESULT_H_
#define KORVO_CORE_INFRA_URL_PROCESSOR_RESULT_H_

#include <cstdint>

// How a request ended. The request processor names this type as
// URLProcessor::Result; it has a header of its own so that code below the
// request engine (the file system interface) can speak of request outcomes.
namespace url_processor {

enum Result : int32_t {
  SUCCEEDED = 0,
  STOPPED = 1,
  NETWORK_FAILED = 2,
  OTHER_FAILED = 3,
  CREATED = 4,
  NO_CONTENT = 5,
  MAIL_SENT = 6,
  FORBIDDEN = 7,
  NOT_FOUND = 8,
  LINK_LIMIT = 9,
  BLOB_BLOCKED = 10,
  MULTI_STATUS = 11,
  SSL_FAILED = 12,
};

// The request failed in the network or in TLS: trying again later may help.
inline bool IsNetworkError(Result result) {
  return result == NETWORK_FAILED || result == SSL_FAILED;
}

// The name of |result|, "UNKNOWN" for other values.
inline const char* ResultName(Result result) {
  static constexpr const char* kNames[] = {
      "SUCCEEDED", "STOPPED",  "NETWORK_FAILED", "OTHER_FAILED", "CREATED",
      "NO_CONTENT", "MAIL_SENT", "FORBIDDEN",     "NOT_FOUND",    "LINK_LIMIT",
      "BLOB_BLOCKED", "MULTI_STATUS", "SSL_FAILED"};
  return result >= 0 && result <= SSL_FAILED ? kNames[result] : "UNKNOWN";
}

}  // namespace url_processor

#endif  // KORVO_CORE_INFRA_URL_PROCESSOR_RESULT_H_
