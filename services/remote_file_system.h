#ifndef KORVO_SERVICES_REMOTE_FILE_SYSTEM_H_
#define KORVO_SERVICES_REMOTE_FILE_SYSTEM_H_

#include <QString>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <queue>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "core/export.h"
#include "core/local/invalid_symbols_mapping.h"
#include "core/tree/file_system.h"
#include "services/remote_name_mapper.h"

class BackupMetainfoRemoteReader;
class BackupMetainfoRemoteWriter;
class FolderNode;
class URLProcessorFactory;

// What all file systems of one account share. The name-mapping tables are
// built on first use by whichever thread needs them and published once;
// afterwards they are read without a lock.
struct KORVO_EXPORT RemoteFileSystemSharedData {
  RemoteFileSystemSharedData() = default;
  RemoteFileSystemSharedData(const RemoteFileSystemSharedData&) = delete;
  RemoteFileSystemSharedData& operator=(const RemoteFileSystemSharedData&) = delete;
  virtual ~RemoteFileSystemSharedData();

  // |remote| is the service's table; the local tables are the disk's.
  // What both sides refuse is left to the local side.
  const InvalidSymbolsMapping::Unrolled& RemoteUnrolled(const InvalidSymbolsMapping::Mapping& remote);
  const InvalidSymbolsMapping::Unrolled& LocalUnrolled(const InvalidSymbolsMapping::Mapping& remote);
  const InvalidSymbolsMapping::Mapping& LocalPairs(const InvalidSymbolsMapping::Mapping& remote);
  const InvalidSymbolsMapping::Mapping& RemotePairs(const InvalidSymbolsMapping::Mapping& remote);

 private:
  template <class Table, class Build>
  static const Table& Publish(std::atomic<const Table*>* slot, const Build& build);

  std::atomic<const InvalidSymbolsMapping::Unrolled*> remote_unrolled_{nullptr};
  std::atomic<const InvalidSymbolsMapping::Unrolled*> local_unrolled_{nullptr};
  std::atomic<const InvalidSymbolsMapping::Mapping*> local_pairs_{nullptr};
  std::atomic<const InvalidSymbolsMapping::Mapping*> remote_pairs_{nullptr};
};

// The base of every cloud-side file system: a FileSystem and a name mapper
// at once, with the account's shared data, the remote root path and the stop
// flag that long operations poll and wait on.
class KORVO_EXPORT RemoteFileSystem : public FileSystem, public RemoteNameMapper {
 public:
  static constexpr char kRemoteRootPath[] = "/";
  static constexpr char kRemoteBackupRootFolder[] = "Backups";

  struct FolderListing {
    std::vector<std::string> folders;
    std::vector<std::pair<std::string, FileSystem::FileProperties>> files;
  };

  // Bytes (or items) expected in the first full listing, and received so far.
  struct SnapshotDownloadProgress {
    uint64_t total = 0;
    uint64_t received = 0;
  };

  RemoteFileSystem(std::shared_ptr<RemoteFileSystemSharedData> shared_data,
                   std::string remote_root_path);
  ~RemoteFileSystem() override;

  // Clear and set the stop flag; either wakes every waiter.
  void Start() override;
  void Stop() override;
  bool IsStopped() const;
  // Waits until Stop() or |timeout|; true when stopped.
  bool WaitForStop(std::chrono::milliseconds timeout);

  Result ReadInodeImpl(const std::string& path, uint64_t* inode) override;
  utils::ValueOrError<FileProperties, Result> ReadFilePropsImpl(std::string_view path) override;

  // ---- change feeds and listings.
  virtual Result GetChanges(std::queue<FileSystem::Change>* changes) = 0;
  // Reads the service's whole tree into |root|.
  virtual Result GetFullTree(FolderNode* root, uint64_t* files, uint64_t* folders) = 0;
  virtual bool PrepareRemoteChange(FileSystem::Change* change) { return true; }
  virtual bool ApplyRemoteChange(const FileSystem::Change& change, FolderNode* root,
                                 uint64_t* files, uint64_t* folders) = 0;
  virtual bool SkipRemoteChange(const FileSystem::Change& change, FolderNode* root) {
    return true;
  }
  virtual Result GetFolderListing(const std::string& path, FolderListing* listing) = 0;
  virtual void OnDiskActivity() {}
  virtual QString GetLastErrorDescription() const { return QString(); }
  // The characters the service cannot store, with their stubs.
  virtual const InvalidSymbolsMapping::Mapping& GetUnsupportedSymbolsMap() const {
    return InvalidSymbolsMapping::kEmptyInvalidSymbolsMap;
  }
  virtual void SetFileHashToResumeInterruptedUpload(const SomeHash& hash) {}
  virtual void SetMinRateLimitValueSec(unsigned int seconds) {}

  // ---- capabilities.
  virtual bool SupportsChangesListening() const = 0;
  virtual bool SupportsTreeInfo() const { return false; }
  virtual bool HasFoldersWithSeparateQuota() const { return false; }
  virtual bool IsReadingFakeContent() const { return false; }
  virtual bool SupportsCreationIntermediateFolders() const { return false; }
  virtual bool SupportsMoveToExistingFile() const { return false; }
  virtual bool SupportsAutomaticRecursiveRemoving() const { return true; }
  virtual bool SupportsFolderMoving() const { return true; }

  // ---- names.
  void MapNameToRemote(std::string* in_out) override;
  void MapNameToRemote(const std::string& in, std::string* out, bool* unchanged) override;
  void MapPathToRemote(std::string* in_out) override;
  void MapPathToRemote(const std::string& in, std::string* out, bool* unchanged) override;
  void UnmapNameToLocal(std::string* in_out) override;
  void UnmapNameToLocal(const std::string& in, std::string* out, bool* unchanged) override;
  void UnmapPathToLocal(std::string* in_out) override;
  void UnmapPathToLocal(const std::string& in, std::string* out, bool* unchanged) override;

  // Only the service's own table, in place.
  void MapInvalidSymbolsInName(std::string* name);
  void MapInvalidSymbolsInPath(std::string* path);
  void UnmapInvalidSymbolsInPath(std::string* path);
  bool CheckPathContainsInvalidLocalSymbolsStubs(std::string_view path);
  bool CheckPathContainsInvalidRemoteSymbolsStubs(std::string_view path);

  const std::string& GetRemoteRootPath() const { return remote_root_path_; }
  const std::shared_ptr<RemoteFileSystemSharedData>& GetSharedData() const { return shared_data_; }
  static void RemoveFirstSlashIfExists(std::string* path);

 protected:
  // Finds or creates (marked changed) every folder of |path| before its last
  // component; gives that folder and the last component.
  static bool CreatePathTo(std::string_view path, FolderNode* root, FolderNode** folder_out,
                           std::string_view* name_out, bool case_insensitive);
  // From 0.05 to 1.0.
  static double GetPercentCompleteGettingFirstSnapshot(const SnapshotDownloadProgress& progress);

 private:
  void ToRemote(const std::string& in, std::string* out, bool* unchanged, bool is_name);
  void ToLocal(const std::string& in, std::string* out, bool* unchanged, bool is_name);

  std::shared_ptr<RemoteFileSystemSharedData> shared_data_;
  bool first_flag_ = true;  // Set at construction; for the services.
  bool stopped_ = false;
  std::condition_variable stopped_changed_;
  mutable std::mutex mutex_;
  std::string remote_root_path_;
};

// A service that delivers change feeds.
class KORVO_EXPORT RemoteFileSystemChangesSupport : public RemoteFileSystem {
 public:
  using RemoteFileSystem::RemoteFileSystem;
  bool SupportsChangesListening() const override { return true; }
  // Not supported: logs and gives Fatal.
  Result GetFolderListing(const std::string& path, FolderListing* listing) override;
};

// A service that only lists folders.
class KORVO_EXPORT RemoteFileSystemNoChangesSupport : public RemoteFileSystem {
 public:
  using RemoteFileSystem::RemoteFileSystem;
  bool SupportsChangesListening() const override { return false; }
  // Not supported: log and give Fatal, or false.
  Result GetChanges(std::queue<FileSystem::Change>* changes) override;
  bool ApplyRemoteChange(const FileSystem::Change& change, FolderNode* root, uint64_t* files,
                         uint64_t* folders) override;
};

// Creates a service's file systems for one account.
class KORVO_EXPORT RemoteFileSystemFactory {
 public:
  explicit RemoteFileSystemFactory(std::string remote_root_path)
      : remote_root_path_(std::move(remote_root_path)) {}
  virtual ~RemoteFileSystemFactory();

  // A new file system, owned by the caller.
  virtual RemoteFileSystem* Create() = 0;
  virtual std::shared_ptr<RemoteFileSystemSharedData> GetSharedData() { return nullptr; }
  // No backup metadata unless a service provides it.
  virtual std::shared_ptr<BackupMetainfoRemoteWriter> CreateMetainfoWriter(
      std::shared_ptr<URLProcessorFactory> factory, const std::string& first,
      const std::string& second);
  virtual std::shared_ptr<BackupMetainfoRemoteReader> CreateMetainfoReader(
      std::shared_ptr<URLProcessorFactory> factory);

  const std::string& GetRemoteRootPath() const { return remote_root_path_; }

 private:
  std::string remote_root_path_;
};

#endif  // KORVO_SERVICES_REMOTE_FILE_SYSTEM_H_
