#include "core/auth/persisted.h"

#include <QString>

#include "core/auth/token.h"

namespace auth_persisted {

std::string BytesOf(const QVariant& value) {
  if (!value.isValid() || !value.canConvert<QByteArray>()) return std::string();
  const QByteArray bytes = value.toByteArray();
  return std::string(bytes.constData(), static_cast<size_t>(bytes.size()));
}

std::string TextOf(const QVariant& value) {
  if (!value.isValid() || !value.canConvert<QString>()) return std::string();
  return value.toString().toStdString();
}

QVariant Entry(const QVariant& stored, const char* name) {
  if (stored.userType() != QMetaType::QVariantMap) return QVariant();
  return stored.toMap().value(QString::fromLatin1(name));
}

QByteArray Bytes(const std::string& value) {
  return QByteArray(value.data(), static_cast<int>(value.size()));
}

QByteArray Protect(const std::string& plain, const std::string& key) {
  return Bytes(Token::Encrypt(plain, key));
}

void InsertProtected(QVariantMap* map, const char* name, const std::string& plain,
                     const std::string& key) {
  const QByteArray sealed = Protect(plain, key);
  if (!sealed.isEmpty()) map->insert(QString::fromLatin1(name), sealed);
}

}  // namespace auth_persisted
