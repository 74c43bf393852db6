#ifndef KORVO_CORE_AUTH_CLOUD_SERVICE_ID_H_
#define KORVO_CORE_AUTH_CLOUD_SERVICE_ID_H_

#include <cstdint>

// The service an account belongs to. Credentials only store and return it;
// the application assigns and interprets it. The values are persisted with
// the accounts: add new ones and never renumber.
enum class CloudServiceId : int32_t {
  kUnknown = 0,
  kVeltra = 1,    // the maker's own cloud (OAuth with a refresh token)
  kYandex = 2,
  kGoogle = 3,
  kDropbox = 4,
  kOneDrive = 5,
  kWebDAV = 6,    // any WebDAV server
  kS3 = 10,       // any S3-compatible storage
  kS3Skiff = 11,  // the maker's S3 service
  kS3Amazon = 12,
};

#endif  // KORVO_CORE_AUTH_CLOUD_SERVICE_ID_H_
