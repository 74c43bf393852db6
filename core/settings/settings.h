#ifndef KORVO_CORE_SETTINGS_SETTINGS_H_
#define KORVO_CORE_SETTINGS_SETTINGS_H_

#include <QMap>
#include <QPointer>
#include <QSettings>
#include <QString>
#include <QVariant>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "core/export.h"
#include "core/settings/settings_keys.h"

class QObject;

namespace utils {

// The application's preferences and per-account state as key/value pairs.
//
// Keys declared email-dependent (SetEmailDependenceKeys) are stored per
// account: while an account is set (SetEmailForKeys), such a key is used as
// key + "_" + Base64 of the account's UTF-8 e-mail address. Every public
// operation maps the key that way, then calls the matching *Impl operation
// of the store, all under the object's mutex, so one object may be shared
// between threads. The *Impl operations run with that mutex held and must
// not call back into the public ones.
class KORVO_EXPORT SettingsBase {
 public:
  SettingsBase();
  virtual ~SettingsBase();
  SettingsBase(const SettingsBase&) = delete;
  SettingsBase& operator=(const SettingsBase&) = delete;

  QVariant Value(QString key, const QVariant& defaultValue = QVariant());
  bool Contains(QString key) const;
  void SetValue(QString key, const QVariant& value);
  // SetValue, then Sync, in one hold of the mutex.
  void SetValueAndSync(QString key, const QVariant& value);
  void Remove(QString key);
  void Clear();
  // Writes pending changes out and reads what other writers stored.
  void Sync();
  // Every stored key as the store names it (email-dependent forms included).
  QMap<QString, QVariant> GetAllValues();
  // From now on |key| is answered from memory: its value is read from the
  // store once, here, and later changes by other writers are not seen.
  void AddCachedKey(QString key);
  void TryToRepairOldSettings();
  // Whether a write really reaches the store: false when the store says it
  // is read-only; otherwise flips the boolean under kWriteProbeKey, syncs and
  // reads it back.
  bool IsWritable();

  // Writes to |target| every stored value whose key is one of |keys| or one
  // of them followed by '_' and anything (so the email-dependent forms come
  // along). Keys are written to |target| as stored, through its SetValue.
  void Copy(std::shared_ptr<SettingsBase> target, const std::set<QString>& keys) const;

  // The account (UTF-8 e-mail address) whose email-dependent keys later
  // operations use; empty for none.
  void SetEmailForKeys(const std::string& email);
  // Replaces the set of email-dependent keys. When the store holds an
  // "email", every key of the set that is stored only in its plain form is
  // moved to its email-dependent form for that address; values already
  // stored under the email-dependent form stay as they are.
  void SetEmailDependenceKeys(const std::vector<QString>& keys);

  // The key under which IsWritable flips a boolean.
  static const char kWriteProbeKey[];

 protected:
  virtual void ClearImpl() = 0;
  virtual bool ContainsImpl(QString key) const = 0;
  virtual QMap<QString, QVariant> GetAllValuesImpl() = 0;
  virtual void RemoveImpl(QString key) = 0;
  virtual void SetValueImpl(QString key, const QVariant& value) = 0;
  virtual QVariant ValueImpl(QString key, const QVariant& defaultValue) = 0;
  virtual void SyncImpl() = 0;
  virtual void TryToRepairOldSettingsImpl() = 0;
  virtual bool IsWritableImpl() = 0;
  virtual void AddCachedKeyImpl(QString key) = 0;

 private:
  friend class SettingsTestPeer;

  // key + "_" + Base64 of the UTF-8 |email|.
  static QString AppendEmail(const QString& key, const std::string& email);
  // |*key| in its email-dependent form when it is in the set and an account
  // is set. Requires mutex_.
  void ProcessWithEmailKey(QString* key) const;
  // Moves the value stored under the email-dependent form of |key| for
  // |email| back to the plain |key|, unless the plain key is already stored.
  void ChangeKeyFromEmailDependentToIndependent(QString key, std::string email);

  mutable std::mutex mutex_;
  std::string email_;
  std::set<QString> email_dependent_keys_;
};

// Settings kept by QSettings in its native format: the registry on Windows,
// an INI file under the user's configuration directory on Linux
// ("$XDG_CONFIG_HOME/<organization>/<application>.conf" for the user scope).
class KORVO_EXPORT Settings : public SettingsBase {
 public:
  Settings(QSettings::Scope scope, const QString& organization, const QString& application,
           QObject* parent = nullptr);
  ~Settings() override;

 protected:
  void ClearImpl() override;
  bool ContainsImpl(QString key) const override;
  QMap<QString, QVariant> GetAllValuesImpl() override;
  void RemoveImpl(QString key) override;
  void SetValueImpl(QString key, const QVariant& value) override;
  QVariant ValueImpl(QString key, const QVariant& defaultValue) override;
  void SyncImpl() override;
  void TryToRepairOldSettingsImpl() override;
  bool IsWritableImpl() override;
  void AddCachedKeyImpl(QString key) override;

 private:
  class SettingsImp;

  // A SettingsImp, deleted here unless the parent given to the constructor
  // was destroyed first; then the store reads as empty and unwritable.
  QPointer<QSettings> settings_;
  // Values of the cached keys; an invalid QVariant means "not stored".
  QMap<QString, QVariant> cache_;
};

}  // namespace utils

#endif  // KORVO_CORE_SETTINGS_SETTINGS_H_
