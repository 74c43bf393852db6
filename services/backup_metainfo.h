#ifndef KORVO_SERVICES_BACKUP_METAINFO_H_
#define KORVO_SERVICES_BACKUP_METAINFO_H_

#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>

#include "core/export.h"
#include "core/tree/file_system.h"

struct RemoteFileSystemSharedData;
class URLProcessorFactory;

// Reads the metadata of folder backups kept on a remote storage below
// "Backups". The operations belong to the services that keep backups; none
// in this library does.
class KORVO_EXPORT BackupMetainfoRemoteReader {
 public:
  BackupMetainfoRemoteReader(std::shared_ptr<RemoteFileSystemSharedData> shared_data,
                             std::shared_ptr<URLProcessorFactory> factory);
  BackupMetainfoRemoteReader(const BackupMetainfoRemoteReader&) = default;
  BackupMetainfoRemoteReader& operator=(const BackupMetainfoRemoteReader&) = default;
  virtual ~BackupMetainfoRemoteReader();

  // The backup a remote path belongs to: "Backups/Laptop/file.txt" and
  // "Backups/Laptop" give "Laptop".
  static std::string GetBackupNameByRemotePath(const std::string& remote_path);

 protected:
  std::shared_ptr<RemoteFileSystemSharedData> shared_data_;
  std::shared_ptr<URLProcessorFactory> factory_;
};

// Writes backup metadata; see the reader.
class KORVO_EXPORT BackupMetainfoRemoteWriter {
 public:
  BackupMetainfoRemoteWriter(std::shared_ptr<RemoteFileSystemSharedData> shared_data,
                             std::shared_ptr<URLProcessorFactory> factory,
                             const std::string& first, const std::string& second);
  BackupMetainfoRemoteWriter(const BackupMetainfoRemoteWriter&) = delete;
  BackupMetainfoRemoteWriter& operator=(const BackupMetainfoRemoteWriter&) = delete;
  virtual ~BackupMetainfoRemoteWriter();

  virtual FileSystem::Result DeleteMetainfo() { return FileSystem::Succeeded; }

 protected:
  std::shared_ptr<RemoteFileSystemSharedData> shared_data_;
  std::shared_ptr<URLProcessorFactory> factory_;
  std::condition_variable condition_;
  std::mutex mutex_;
};

#endif  // KORVO_SERVICES_BACKUP_METAINFO_H_
