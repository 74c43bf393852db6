#include "services/remote_file_system.h"

#include <algorithm>

#include "core/infra/logger.h"
#include "core/infra/tally_logger.h"
#include "core/local/local_file_system_utils.h"
#include "core/tree/file_tree.h"
#include "services/backup_metainfo.h"

using Mapping = InvalidSymbolsMapping::Mapping;
using Unrolled = InvalidSymbolsMapping::Unrolled;

// ---------------------------------------------------------------- shared data

RemoteFileSystemSharedData::~RemoteFileSystemSharedData() {
  delete remote_unrolled_.load();
  delete local_unrolled_.load();
  delete local_pairs_.load();
  delete remote_pairs_.load();
}

template <class Table, class Build>
const Table& RemoteFileSystemSharedData::Publish(std::atomic<const Table*>* slot,
                                                 const Build& build) {
  if (const Table* table = slot->load(std::memory_order_acquire)) return *table;
  auto fresh = std::make_unique<const Table>(build());
  // Two threads may build at once. The first table published stays: another
  // thread may already be reading it, so it is never replaced.
  const Table* expected = nullptr;
  if (slot->compare_exchange_strong(expected, fresh.get(), std::memory_order_acq_rel,
                                    std::memory_order_acquire)) {
    return *fresh.release();
  }
  return *expected;
}

const Unrolled& RemoteFileSystemSharedData::RemoteUnrolled(const Mapping& remote) {
  return Publish(&remote_unrolled_, [&] {
    return InvalidSymbolsMapping::UnrollInvalidSymbolsMapping(InvalidSymbolsMapping::DiffInvalidSymbolsMapping(
        remote, LocalFileSystemUtils::kInvalidSymbolsStaticMapping));
  });
}

const Unrolled& RemoteFileSystemSharedData::LocalUnrolled(const Mapping& remote) {
  return Publish(&local_unrolled_, [&] {
    return InvalidSymbolsMapping::DiffInvalidSymbolsMapping(
        LocalFileSystemUtils::kInvalidSymbolsStaticMappingUnrolled, remote);
  });
}

const Mapping& RemoteFileSystemSharedData::LocalPairs(const Mapping& remote) {
  return Publish(&local_pairs_, [&] {
    return InvalidSymbolsMapping::DiffInvalidSymbolsMapping(
        LocalFileSystemUtils::kInvalidSymbolsStaticMapping, remote);
  });
}

const Mapping& RemoteFileSystemSharedData::RemotePairs(const Mapping& remote) {
  return Publish(&remote_pairs_, [&] {
    return InvalidSymbolsMapping::DiffInvalidSymbolsMapping(
        remote, LocalFileSystemUtils::kInvalidSymbolsStaticMapping);
  });
}

// ---------------------------------------------------------------- RemoteFileSystem

RemoteFileSystem::RemoteFileSystem(std::shared_ptr<RemoteFileSystemSharedData> shared_data,
                                   std::string remote_root_path)
    : shared_data_(shared_data ? std::move(shared_data)
                               : std::make_shared<RemoteFileSystemSharedData>()),
      remote_root_path_(std::move(remote_root_path)) {}

RemoteFileSystem::~RemoteFileSystem() = default;

void RemoteFileSystem::Start() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopped_ = false;
  }
  stopped_changed_.notify_all();
}

void RemoteFileSystem::Stop() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopped_ = true;
  }
  stopped_changed_.notify_all();
}

bool RemoteFileSystem::IsStopped() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return stopped_;
}

bool RemoteFileSystem::WaitForStop(std::chrono::milliseconds timeout) {
  std::unique_lock<std::mutex> lock(mutex_);
  return stopped_changed_.wait_for(lock, timeout, [this] { return stopped_; });
}

FileSystem::Result RemoteFileSystem::ReadInodeImpl(const std::string& path, uint64_t* inode) {
  return Fatal;
}

utils::ValueOrError<FileSystem::FileProperties, FileSystem::Result>
RemoteFileSystem::ReadFilePropsImpl(std::string_view path) {
  return utils::ValueOrError<FileProperties, Result>::Error(Fatal);
}

namespace {

size_t CountSlashes(std::string_view text) { return std::count(text.begin(), text.end(), '/'); }

// Applies |map_name| to every "/"-separated component of |path|.
template <class MapName>
std::string ByComponents(const std::string& path, const MapName& map_name) {
  std::string out;
  size_t start = 0;
  for (;;) {
    const size_t slash = path.find('/', start);
    std::string component = path.substr(start, slash == std::string::npos ? slash : slash - start);
    std::string mapped;
    bool unchanged = true;
    map_name(component, &mapped, &unchanged);
    out += mapped;
    if (slash == std::string::npos) break;
    out += '/';
    start = slash + 1;
  }
  return out;
}

}  // namespace

void RemoteFileSystem::ToRemote(const std::string& in, std::string* out, bool* unchanged,
                                bool is_name) {
  const Mapping& remote = GetUnsupportedSymbolsMap();
  std::string decoded;
  bool decoded_unchanged = true;
  InvalidSymbolsMapping::UnmapInvalidSymbolsInString(
      in, &decoded, &decoded_unchanged, shared_data_->LocalPairs(remote),
      LocalFileSystemUtils::kInvalidSymbolsAtEndStaticMapping);
  if (!is_name && !decoded_unchanged && CountSlashes(decoded) != CountSlashes(in)) {
    // A decoded stub became a "/": keep it inside its name.
    *out = ByComponents(in, [this](const std::string& c, std::string* o, bool* u) {
      ToRemote(c, o, u, /*is_name=*/true);
    });
    if (unchanged) *unchanged = false;
    return;
  }
  const std::string& step1 = decoded_unchanged ? in : decoded;
  std::string encoded;
  bool encoded_unchanged = true;
  InvalidSymbolsMapping::MapInvalidSymbolsInString(step1, &encoded, &encoded_unchanged, is_name,
                                                   shared_data_->RemoteUnrolled(remote),
                                                   InvalidSymbolsMapping::kEmptyInvalidSymbolsMap);
  *out = encoded_unchanged ? step1 : encoded;
  if (unchanged) *unchanged = decoded_unchanged && encoded_unchanged;
}

void RemoteFileSystem::ToLocal(const std::string& in, std::string* out, bool* unchanged,
                               bool is_name) {
  const Mapping& remote = GetUnsupportedSymbolsMap();
  const Mapping& local_at_end = LocalFileSystemUtils::kInvalidSymbolsAtEndStaticMapping;
  std::string decoded;
  bool decoded_unchanged = true;
  InvalidSymbolsMapping::UnmapInvalidSymbolsInString(in, &decoded, &decoded_unchanged,
                                                     shared_data_->LocalPairs(remote),
                                                     local_at_end);
  if (!decoded_unchanged) {
    *out = std::move(decoded);
    if (unchanged) *unchanged = false;
    return;
  }
  bool remote_unchanged = true;
  InvalidSymbolsMapping::UnmapInvalidSymbolsInString(in, &decoded, &remote_unchanged,
                                                     shared_data_->RemotePairs(remote),
                                                     InvalidSymbolsMapping::kEmptyInvalidSymbolsMap);
  if (!is_name && !remote_unchanged && CountSlashes(decoded) != CountSlashes(in)) {
    *out = ByComponents(in, [this](const std::string& c, std::string* o, bool* u) {
      ToLocal(c, o, u, /*is_name=*/true);
    });
    if (unchanged) *unchanged = false;
    return;
  }
  const std::string& step2 = remote_unchanged ? in : decoded;
  std::string encoded;
  bool encoded_unchanged = true;
  InvalidSymbolsMapping::MapInvalidSymbolsInString(step2, &encoded, &encoded_unchanged, is_name,
                                                   shared_data_->LocalUnrolled(remote),
                                                   local_at_end);
  *out = encoded_unchanged ? step2 : encoded;
  if (unchanged) *unchanged = remote_unchanged && encoded_unchanged;
}

void RemoteFileSystem::MapNameToRemote(const std::string& in, std::string* out, bool* unchanged) {
  ToRemote(in, out, unchanged, /*is_name=*/true);
}

void RemoteFileSystem::MapPathToRemote(const std::string& in, std::string* out, bool* unchanged) {
  ToRemote(in, out, unchanged, /*is_name=*/false);
}

void RemoteFileSystem::UnmapNameToLocal(const std::string& in, std::string* out,
                                        bool* unchanged) {
  ToLocal(in, out, unchanged, /*is_name=*/true);
}

void RemoteFileSystem::UnmapPathToLocal(const std::string& in, std::string* out,
                                        bool* unchanged) {
  ToLocal(in, out, unchanged, /*is_name=*/false);
}

namespace {

template <class Form>
void InPlace(std::string* in_out, const Form& form) {
  std::string out;
  bool unchanged = true;
  form(*in_out, &out, &unchanged);
  if (!unchanged) *in_out = std::move(out);
}

}  // namespace

void RemoteFileSystem::MapNameToRemote(std::string* in_out) {
  InPlace(in_out, [this](const std::string& i, std::string* o, bool* u) { MapNameToRemote(i, o, u); });
}

void RemoteFileSystem::MapPathToRemote(std::string* in_out) {
  InPlace(in_out, [this](const std::string& i, std::string* o, bool* u) { MapPathToRemote(i, o, u); });
}

void RemoteFileSystem::UnmapNameToLocal(std::string* in_out) {
  InPlace(in_out, [this](const std::string& i, std::string* o, bool* u) { UnmapNameToLocal(i, o, u); });
}

void RemoteFileSystem::UnmapPathToLocal(std::string* in_out) {
  InPlace(in_out, [this](const std::string& i, std::string* o, bool* u) { UnmapPathToLocal(i, o, u); });
}

void RemoteFileSystem::MapInvalidSymbolsInName(std::string* name) {
  InPlace(name, [this](const std::string& i, std::string* o, bool* u) {
    InvalidSymbolsMapping::MapInvalidSymbolsInString(
        i, o, u, true, shared_data_->RemoteUnrolled(GetUnsupportedSymbolsMap()),
        InvalidSymbolsMapping::kEmptyInvalidSymbolsMap);
  });
}

void RemoteFileSystem::MapInvalidSymbolsInPath(std::string* path) {
  InPlace(path, [this](const std::string& i, std::string* o, bool* u) {
    InvalidSymbolsMapping::MapInvalidSymbolsInString(
        i, o, u, false, shared_data_->RemoteUnrolled(GetUnsupportedSymbolsMap()),
        InvalidSymbolsMapping::kEmptyInvalidSymbolsMap);
  });
}

void RemoteFileSystem::UnmapInvalidSymbolsInPath(std::string* path) {
  InPlace(path, [this](const std::string& i, std::string* o, bool* u) {
    InvalidSymbolsMapping::UnmapInvalidSymbolsInString(
        i, o, u, shared_data_->RemotePairs(GetUnsupportedSymbolsMap()),
        InvalidSymbolsMapping::kEmptyInvalidSymbolsMap);
  });
}

bool RemoteFileSystem::CheckPathContainsInvalidLocalSymbolsStubs(std::string_view path) {
  std::string out;
  bool unchanged = true;
  InvalidSymbolsMapping::UnmapInvalidSymbolsInString(
      path, &out, &unchanged, shared_data_->LocalPairs(GetUnsupportedSymbolsMap()),
      LocalFileSystemUtils::kInvalidSymbolsAtEndStaticMapping);
  return !unchanged;
}

bool RemoteFileSystem::CheckPathContainsInvalidRemoteSymbolsStubs(std::string_view path) {
  std::string out;
  bool unchanged = true;
  InvalidSymbolsMapping::UnmapInvalidSymbolsInString(
      path, &out, &unchanged, shared_data_->RemotePairs(GetUnsupportedSymbolsMap()),
      InvalidSymbolsMapping::kEmptyInvalidSymbolsMap);
  return !unchanged;
}

void RemoteFileSystem::RemoveFirstSlashIfExists(std::string* path) {
  if (!path->empty() && path->front() == '/') path->erase(0, 1);
}

bool RemoteFileSystem::CreatePathTo(std::string_view path, FolderNode* root,
                                    FolderNode** folder_out, std::string_view* name_out,
                                    bool case_insensitive) {
  FolderNode* folder = root;
  size_t slash;
  while ((slash = path.find('/')) != std::string_view::npos) {
    const std::string_view name = path.substr(0, slash);
    FolderNode* next = folder->GetFolder(name, case_insensitive);
    if (next == nullptr) {
      ChildIter<FolderNode> created;
      if (!folder->CreateFolder(std::string(name), &created, 0, 0, false, false)) {
        TallyLogger::instance().SendMetric(
            "fail_error", 1, "failed_in_applying_remote_changes_while_creating_missing_folder");
        return false;
      }
      next = created.node;
      next->SetChanged(true);
    }
    folder = next;
    path.remove_prefix(slash + 1);
  }
  *folder_out = folder;
  *name_out = path;
  return true;
}

double RemoteFileSystem::GetPercentCompleteGettingFirstSnapshot(
    const SnapshotDownloadProgress& progress) {
  if (progress.total == 0 || progress.received >= progress.total) return 1.0;
  return std::max(0.05, static_cast<double>(progress.received) / progress.total);
}

FileSystem::Result RemoteFileSystemChangesSupport::GetFolderListing(const std::string& path,
                                                                    FolderListing* listing) {
  KLOG(Fatal) << "Not supported.";
  return Fatal;
}

FileSystem::Result RemoteFileSystemNoChangesSupport::GetChanges(
    std::queue<FileSystem::Change>* changes) {
  KLOG(Fatal) << "Not supported.";
  return Fatal;
}

bool RemoteFileSystemNoChangesSupport::ApplyRemoteChange(const FileSystem::Change& change,
                                                         FolderNode* root, uint64_t* files,
                                                         uint64_t* folders) {
  KLOG(Fatal) << "Not supported.";
  return false;
}

// ---------------------------------------------------------------- factory

RemoteFileSystemFactory::~RemoteFileSystemFactory() = default;

std::shared_ptr<BackupMetainfoRemoteWriter> RemoteFileSystemFactory::CreateMetainfoWriter(
    std::shared_ptr<URLProcessorFactory> factory, const std::string& first,
    const std::string& second) {
  return nullptr;
}

std::shared_ptr<BackupMetainfoRemoteReader> RemoteFileSystemFactory::CreateMetainfoReader(
    std::shared_ptr<URLProcessorFactory> factory) {
  return nullptr;
}
