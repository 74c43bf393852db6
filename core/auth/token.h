#ifndef KORVO_CORE_AUTH_TOKEN_H_
#define KORVO_CORE_AUTH_TOKEN_H_

#include <functional>
#include <string>

#include "core/export.h"

// Protects secrets (tokens, S3 keys, WebDAV logins) that go into the settings
// file so that only the same user can read them back. The stored form is
// "tokuio-" followed by the lowercase hexadecimal of the blob the platform
// sealed (Platform::ProtectSecret). All operations are reentrant.
class KORVO_EXPORT Token {
 public:
  Token() = delete;

  // The protected form of |plain|. When protection fails it logs at Fatal
  // and returns an empty string: the caller then stores nothing rather than
  // the secret in clear. |key| is accepted for the callers' convenience and
  // takes no part in the protection.
  static std::string Encrypt(const std::string& plain, const std::string& key);

  // The secret |stored| protects. A value without the prefix was written
  // before protection existed and comes back unchanged. A protected value
  // that does not open (altered, truncated, sealed by another user or key)
  // logs at Fatal and gives an empty string, never altered bytes. Does not
  // throw.
  static std::string Decrypt(const std::string& stored, const std::string& key);

  // A per-machine key made from the identifier |uid_provider| returns; never
  // stored. An identifier shorter than 4 characters logs at Fatal and gives
  // an empty key. Calling an empty |uid_provider| throws
  // std::bad_function_call, as calling any empty std::function does.
  static std::string GenerateXorKey(std::function<std::string()> uid_provider);
};

#endif  // KORVO_CORE_AUTH_TOKEN_H_
