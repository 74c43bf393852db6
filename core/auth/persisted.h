#ifndef KORVO_CORE_AUTH_PERSISTED_H_
#define KORVO_CORE_AUTH_PERSISTED_H_

#include <QByteArray>
#include <QVariant>
#include <QVariantMap>
#include <string>

// How the credential kinds read and write their persisted QVariant forms.
namespace auth_persisted {

// The bytes a variant holds; empty for one that holds none.
std::string BytesOf(const QVariant& value);
// The UTF-8 text of a string entry.
std::string TextOf(const QVariant& value);
// The entry |name| of a map variant; invalid when missing or not a map.
QVariant Entry(const QVariant& stored, const char* name);
QByteArray Bytes(const std::string& value);
// Token::Encrypt of |plain| as bytes; empty when it could not be protected,
// so that a secret is never stored in clear.
QByteArray Protect(const std::string& plain, const std::string& key);
// Stores the protected |plain| under |name|, or nothing when protection
// gave nothing.
void InsertProtected(QVariantMap* map, const char* name, const std::string& plain,
                     const std::string& key);

}  // namespace auth_persisted

#endif  // KORVO_CORE_AUTH_PERSISTED_H_
