#include "services/backup_metainfo.h"

#include <algorithm>

#include "services/remote_file_system.h"

BackupMetainfoRemoteReader::BackupMetainfoRemoteReader(
    std::shared_ptr<RemoteFileSystemSharedData> shared_data,
    std::shared_ptr<URLProcessorFactory> factory)
    : shared_data_(std::move(shared_data)), factory_(std::move(factory)) {}

BackupMetainfoRemoteReader::~BackupMetainfoRemoteReader() = default;

std::string BackupMetainfoRemoteReader::GetBackupNameByRemotePath(const std::string& remote_path) {
  const std::string prefix = std::string(RemoteFileSystem::kRemoteBackupRootFolder) + "/";
  std::string name = remote_path;
  if (std::count(remote_path.begin(), remote_path.end(), '/') >= 2) {
    name = remote_path.substr(0, remote_path.rfind('/'));
  }
  if (name.starts_with(prefix)) name.erase(0, prefix.size());
  return name;
}

BackupMetainfoRemoteWriter::BackupMetainfoRemoteWriter(
    std::shared_ptr<RemoteFileSystemSharedData> shared_data,
    std::shared_ptr<URLProcessorFactory> factory, const std::string& first,
    const std::string& second)
    : shared_data_(std::move(shared_data)), factory_(std::move(factory)) {}

BackupMetainfoRemoteWriter::~BackupMetainfoRemoteWriter() = default;
