#include "core/settings/settings.h"

#include <QByteArray>
#include <QObject>
#include <QStringList>
#include <utility>

#include "core/settings/settings_keys.h"

namespace utils {

const char SettingsBase::kWriteProbeKey[] = "CloudVal-F77A761A3BC3483DA6E657B35535BCE0";

SettingsBase::SettingsBase() = default;
SettingsBase::~SettingsBase() = default;

QString SettingsBase::AppendEmail(const QString& key, const std::string& email) {
  const QByteArray encoded = QByteArray::fromStdString(email).toBase64();
  return key + QLatin1Char('_') + QString::fromLatin1(encoded);
}

void SettingsBase::ProcessWithEmailKey(QString* key) const {
  if (!email_.empty() && email_dependent_keys_.count(*key) != 0) {
    *key = AppendEmail(*key, email_);
  }
}

QVariant SettingsBase::Value(QString key, const QVariant& defaultValue) {
  std::lock_guard<std::mutex> lock(mutex_);
  ProcessWithEmailKey(&key);
  return ValueImpl(std::move(key), defaultValue);
}

bool SettingsBase::Contains(QString key) const {
  std::lock_guard<std::mutex> lock(mutex_);
  ProcessWithEmailKey(&key);
  return ContainsImpl(std::move(key));
}

void SettingsBase::SetValue(QString key, const QVariant& value) {
  std::lock_guard<std::mutex> lock(mutex_);
  ProcessWithEmailKey(&key);
  SetValueImpl(std::move(key), value);
}

void SettingsBase::SetValueAndSync(QString key, const QVariant& value) {
  std::lock_guard<std::mutex> lock(mutex_);
  ProcessWithEmailKey(&key);
  SetValueImpl(std::move(key), value);
  SyncImpl();
}

void SettingsBase::Remove(QString key) {
  std::lock_guard<std::mutex> lock(mutex_);
  ProcessWithEmailKey(&key);
  RemoveImpl(std::move(key));
}

void SettingsBase::Clear() {
  std::lock_guard<std::mutex> lock(mutex_);
  ClearImpl();
}

void SettingsBase::Sync() {
  std::lock_guard<std::mutex> lock(mutex_);
  SyncImpl();
}

QMap<QString, QVariant> SettingsBase::GetAllValues() {
  std::lock_guard<std::mutex> lock(mutex_);
  return GetAllValuesImpl();
}

void SettingsBase::AddCachedKey(QString key) {
  std::lock_guard<std::mutex> lock(mutex_);
  ProcessWithEmailKey(&key);
  AddCachedKeyImpl(std::move(key));
}

void SettingsBase::TryToRepairOldSettings() {
  std::lock_guard<std::mutex> lock(mutex_);
  TryToRepairOldSettingsImpl();
}

bool SettingsBase::IsWritable() {
  std::lock_guard<std::mutex> lock(mutex_);
  if (!IsWritableImpl()) {
    return false;
  }
  const QString probe = QString::fromLatin1(kWriteProbeKey);
  const bool before = ValueImpl(probe, false).toBool();
  SetValueImpl(probe, !before);
  SyncImpl();
  return ValueImpl(probe, before).toBool() != before;
}

void SettingsBase::Copy(std::shared_ptr<SettingsBase> target,
                        const std::set<QString>& keys) const {
  if (!target) {
    return;
  }
  QMap<QString, QVariant> all;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    // Reading does not change the store; the slot is not const only because
    // a store may fill a cache while it reads.
    all = const_cast<SettingsBase*>(this)->GetAllValuesImpl();
  }
  // The target's mutex is taken only after this object's is released: two
  // objects copying into each other, or an object copying into itself, must
  // not wait for each other.
  for (auto it = all.cbegin(); it != all.cend(); ++it) {
    const QString& stored = it.key();
    for (const QString& name : keys) {
      if (stored.startsWith(name) &&
          (stored.size() == name.size() || stored.at(name.size()) == QLatin1Char('_'))) {
        target->SetValue(stored, it.value());
        break;
      }
    }
  }
}

void SettingsBase::SetEmailForKeys(const std::string& email) {
  std::lock_guard<std::mutex> lock(mutex_);
  email_ = email;
}

void SettingsBase::SetEmailDependenceKeys(const std::vector<QString>& keys) {
  std::lock_guard<std::mutex> lock(mutex_);
  email_dependent_keys_ = std::set<QString>(keys.begin(), keys.end());
  if (!ContainsImpl(kSettingsEmail)) {
    return;
  }
  const std::string email = ValueImpl(kSettingsEmail, QVariant()).toString().toStdString();
  // An empty address would move every value to "key_", which no account
  // ever reads.
  if (email.empty()) {
    return;
  }
  for (const QString& key : email_dependent_keys_) {
    const QString dependent = AppendEmail(key, email);
    if (ContainsImpl(dependent) || !ContainsImpl(key)) {
      continue;
    }
    const QVariant value = ValueImpl(key, QVariant());
    RemoveImpl(key);
    SetValueImpl(dependent, value);
  }
}

void SettingsBase::ChangeKeyFromEmailDependentToIndependent(QString key, std::string email) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (email.empty()) {
    return;
  }
  const QString dependent = AppendEmail(key, email);
  if (!ContainsImpl(dependent) || ContainsImpl(key)) {
    return;
  }
  const QVariant value = ValueImpl(dependent, QVariant());
  RemoveImpl(dependent);
  SetValueImpl(std::move(key), value);
}

class Settings::SettingsImp : public QSettings {
 public:
  SettingsImp(Scope scope, const QString& organization, const QString& application,
              QObject* parent)
      : QSettings(scope, organization, application, parent) {}
};

Settings::Settings(QSettings::Scope scope, const QString& organization,
                   const QString& application, QObject* parent)
    : settings_(new SettingsImp(scope, organization, application, parent)) {}

Settings::~Settings() {
  delete settings_.data();
}

void Settings::ClearImpl() {
  if (settings_) {
    settings_->clear();
  }
  for (QVariant& value : cache_) {
    value = QVariant();
  }
}

bool Settings::ContainsImpl(QString key) const {
  const auto cached = cache_.constFind(key);
  if (cached != cache_.cend()) {
    return cached->isValid();
  }
  return settings_ && settings_->contains(key);
}

QMap<QString, QVariant> Settings::GetAllValuesImpl() {
  QMap<QString, QVariant> all;
  if (settings_) {
    for (const QString& key : settings_->allKeys()) {
      all.insert(key, settings_->value(key));
    }
  }
  // What this object answers for its cached keys, even where another writer
  // changed the store since.
  for (auto it = cache_.cbegin(); it != cache_.cend(); ++it) {
    if (it->isValid()) {
      all.insert(it.key(), *it);
    } else {
      all.remove(it.key());
    }
  }
  return all;
}

void Settings::RemoveImpl(QString key) {
  if (settings_) {
    settings_->remove(key);
  }
  const auto cached = cache_.find(key);
  if (cached != cache_.end()) {
    *cached = QVariant();
  }
}

void Settings::SetValueImpl(QString key, const QVariant& value) {
  if (settings_) {
    settings_->setValue(key, value);
  }
  const auto cached = cache_.find(key);
  if (cached != cache_.end()) {
    *cached = value;
  }
}

QVariant Settings::ValueImpl(QString key, const QVariant& defaultValue) {
  const auto cached = cache_.constFind(key);
  if (cached != cache_.cend()) {
    return cached->isValid() ? *cached : defaultValue;
  }
  return settings_ ? settings_->value(key, defaultValue) : defaultValue;
}

void Settings::SyncImpl() {
  if (settings_) {
    settings_->sync();
  }
}

void Settings::TryToRepairOldSettingsImpl() {}

bool Settings::IsWritableImpl() {
  return settings_ && settings_->isWritable();
}

void Settings::AddCachedKeyImpl(QString key) {
  if (cache_.contains(key)) {
    return;
  }
  cache_.insert(key, settings_ ? settings_->value(key) : QVariant());
}

}  // namespace utils
