#ifndef KORVO_CORE_TREE_FILE_SYSTEM_H_
#define KORVO_CORE_TREE_FILE_SYSTEM_H_

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <iosfwd>
#include <string>
#include <string_view>

#include "core/export.h"
#include "core/hash/hashes.h"
#include "core/infra/stoppable.h"
#include "core/infra/url_processor_result.h"
#include "core/infra/value_or_error.h"
#include "core/tree/tree_id.h"

class FileNode;

// The one interface behind which every storage sits, cloud or local. The
// transfer code copies a file between any two of them; a file system keeps at
// most one file open for reading or writing at a time.
class KORVO_EXPORT FileSystem : public Stoppable {
 public:
  enum Result : int32_t {
    Succeeded = 0,
    Stopped = 1,
    Failed = 2,
    Fatal = 3,
    Conflict = 4,
    Forbidden = 5,
    AuthorizationInvalid = 6,
    Blocked = 7,
    Outdated = 8,
    PublicLinkLimit = 9,
    TooEarlyToProcess = 10,
    TooLargeFile = 11,
    NameTooLong = 12,
    BadName = 13,
    NotPermittedSymlink = 14,
    VirusInfected = 15,
    NoSpace = 16,
    AccessDenied = 17,
    ItemMissed = 18,
  };
  // "Succeeded", "Authorization invalid", ...; "Unknown result" for others.
  static const char* ResultToString(Result result);

  // 0: the last failure was not a network failure; 1: it was. Derived file
  // systems may store other values.
  using FailReason = int32_t;

  struct FileHashSize {
    SomeHash hash;
    uint64_t size = 0;

    bool operator==(const FileHashSize& other) const {
      return size == other.size && hash == other.hash;
    }
    bool operator!=(const FileHashSize& other) const { return !(*this == other); }
    // By size, then by hash.
    bool operator<(const FileHashSize& other) const;
  };

  struct KORVO_EXPORT FileProperties {
    FileProperties() = default;
    FileProperties(SomeHash hash, uint64_t inode, uint64_t size, uint64_t time, bool readonly)
        : hash(std::move(hash)), inode(inode), size(size), time(time), readonly(readonly) {}

    // Everything equal; the hashes of empty files are not compared.
    bool operator==(const FileProperties& other) const;
    bool operator!=(const FileProperties& other) const { return !(*this == other); }
    FileHashSize GetHashSize() const { return {hash, size}; }
    // "(HASH SIZEb TIME ino_INODE rdonly)".
    void Dump(std::ostream& out) const;
    std::string ToString() const;

    SomeHash hash;
    uint64_t inode = 0;
    uint64_t size = 0;
    uint64_t time = 0;
    bool readonly = false;
  };

  struct KORVO_EXPORT FolderProperties {
    bool operator==(const FolderProperties& other) const {
      return inode == other.inode && time == other.time && readonly == other.readonly;
    }
    bool operator!=(const FolderProperties& other) const { return !(*this == other); }
    // "(TIME ino_INODE rdonly)".
    void Dump(std::ostream& out) const;
    std::string ToString() const;

    uint64_t inode = 0;
    uint64_t time = 0;
    bool readonly = false;
  };

  // Up to two (tree, revision) pairs, with a byte telling which are set.
  struct KORVO_EXPORT Revision {
    Revision() = default;
    Revision(const TreeId& id, uint64_t rev) : present(1), tree_id1(id), revision1(rev) {}
    Revision(const TreeId& id1, uint64_t rev1, const TreeId& id2, uint64_t rev2)
        : present(3), tree_id1(id1), tree_id2(id2), revision1(rev1), revision2(rev2) {}
    // Nothing set, and both ids the marker FF 00 .. 00.
    static Revision RevisionNone();

    operator uint64_t() const { return revision1; }
    bool HasFirst() const { return (present & 1) != 0; }
    bool HasSecond() const { return (present & 2) != 0; }

    uint8_t present = 0;  // bit 0: the first pair, bit 1: the second
    TreeId tree_id1;
    TreeId tree_id2;
    uint64_t revision1 = 0;
    uint64_t revision2 = 0;
  };

  // The state a caller expects an item to have when it overwrites or renames
  // it: an optimistic precondition a file system may check.
  struct OverwriteControl {
    Revision revision;
    SomeHash hash;
  };

  // Limits for names and paths; zero means none known.
  struct LengthLimits {
    uint32_t bytes = 0;
    uint32_t utf16_units = 0;
    uint32_t characters = 0;
  };

  // One record of a change feed.
  struct KORVO_EXPORT Change {
    enum Type : int32_t {
      FILE_CREATE = 0,
      FILE_DELETE = 1,
      FILE_RENAME = 2,
      FILE_MODIFY = 3,
      FOLDER_CREATE = 4,
      FOLDER_DELETE = 5,
      FOLDER_CLEAR = 6,
      FOLDER_RENAME = 7,
      FOLDER_UPDATE = 8,
      FILE_OR_FOLDER_DELETE = 9,
      REMOVE = 10,
      RENAME = 11,
      REVISION_SET = 12,
      FREE_SIZE_SET = 13,
      TOTAL_SIZE_SET = 14,
      TOTAL_SIZE_INCREASE = 15,
      TOTAL_SIZE_DECREASE = 16,
      USED_SIZE_INCREASE = 17,
      USED_SIZE_DECREASE = 18,
      EXPORT = 19,
      UNSHARE = 20,
      MOUNT = 21,
      UNMOUNT = 22,
      SET_OWNER = 23,
      ADD_USER = 24,
      DELETE_USER = 25,
      GRANT_ACCESS = 26,
      ORIGIN = 27,
      DUMMY = 28,
    };
    // "FILE_CREATE", ...; "Unknown type" for others.
    static const char* TypeToString(Type type);

    bool IsFileChange() const;
    bool AffectsTreeInfo(const TreeId& main) const;
    // TYPE "path", then the fields that are present.
    void LogToStream(std::ostream& out) const;
    std::string ToString() const;

    TreeId treeId;
    TreeId treeId2;
    uint64_t revision = 0;
    Type type = FILE_CREATE;
    std::string path;
    std::string path2;  // The second path of a rename.
    std::string name;   // Further texts and numbers, as the feed's file system uses them.
    std::string owner;
    uint64_t size = 0;
    SomeHash hash;
    uint64_t time = 0;
    uint64_t inode = 0;
    uint32_t flags = 0;
  };

  FileSystem() = default;
  FileSystem(const FileSystem&) = delete;
  FileSystem& operator=(const FileSystem&) = delete;
  ~FileSystem() override;

  // Writes bytes at the current position of the file open for writing.
  virtual Result WriteFileImpl(const uint8_t* data, size_t size) = 0;
  virtual FailReason GetFailReason() const { return fail_reason_.load(); }
  virtual LengthLimits GetMaxSupportedNameLength() const { return {}; }
  virtual LengthLimits GetMaxSupportedPathLength() const { return {}; }
  // Finishes the open read or write; |properties| may be null.
  virtual Result FinishFileImpl(FileProperties* properties) = 0;
  // Abandons the open file.
  virtual Result InterruptImpl() { return FinishFileImpl(nullptr); }
  virtual Result CreateFolderImpl(const std::string& path, FolderProperties* properties) = 0;
  virtual Result DeleteFileImpl(const OverwriteControl& control, const std::string& path) = 0;
  virtual Result DeleteFolderImpl(const std::string& path) = 0;
  // Opens a new file for writing; |*start_offset| receives where writing
  // starts (more than 0 when an interrupted upload resumes). |reserved| is
  // always null.
  virtual Result CreateFileImpl(const OverwriteControl& control, const std::string& path,
                                FileProperties* properties, uint64_t size, uint64_t time,
                                uint64_t* start_offset, void* reserved) = 0;
  virtual Result OpenFileForReadImpl(const std::string& path, uint64_t offset, uint64_t end,
                                     uint64_t file_size, FileProperties* properties) = 0;
  // Opens an existing file for writing under the precondition |control|.
  virtual Result OverwriteFileImpl(const OverwriteControl& control, const std::string& path,
                                   FileProperties* properties, uint64_t size, uint64_t time,
                                   uint64_t* start_offset) = 0;
  // Reads up to |requested| bytes; |*count| (0 on entry) receives how many.
  virtual Result ReadFileImpl(uint8_t* buffer, size_t requested, size_t* count) = 0;
  virtual Result ReadInodeImpl(const std::string& path, uint64_t* inode) = 0;
  virtual utils::ValueOrError<FileProperties, Result> ReadFilePropsImpl(std::string_view path) = 0;
  // Moves the file by default.
  virtual Result RenameFileImpl(const FileNode& file, const OverwriteControl& from,
                                const std::string& from_path, const OverwriteControl& to,
                                const std::string& to_path, SomeHash* new_hash) {
    return MoveFileImpl(file, from, from_path, to, to_path);
  }
  virtual Result MoveFileImpl(const FileNode& file, const OverwriteControl& from,
                              const std::string& from_path, const OverwriteControl& to,
                              const std::string& to_path) = 0;
  virtual Result MoveFolderImpl(const std::string& from_path, const std::string& to_path) = 0;
  // Remembers whether |result| was a network failure; the number is unused
  // here.
  virtual void SetFailReason(url_processor::Result result, int) {
    fail_reason_.store(url_processor::IsNetworkError(result) ? 1 : 0);
  }

  TreeId* GetMainTreeId() { return &main_tree_id_; }
  const TreeId* GetMainTreeId() const { return &main_tree_id_; }

  // No empty path, backslash, zero byte, "//", trailing "/", "." or ".."
  // component; one leading "/" is allowed.
  static bool IsCanonicalPath(std::string_view path);
  static bool IsRelativeCanonicalPath(std::string_view path);
  // Whether a change of this type changes items of the tree.
  static bool HasSomethingChanged(Change::Type type);

 private:
  TreeId main_tree_id_;
  std::atomic<FailReason> fail_reason_{0};
};

KORVO_EXPORT std::ostream& operator<<(std::ostream& out, FileSystem::Result result);
KORVO_EXPORT std::ostream& operator<<(std::ostream& out, const FileSystem::FileProperties& p);
KORVO_EXPORT std::ostream& operator<<(std::ostream& out, const FileSystem::FolderProperties& p);

#endif  // KORVO_CORE_TREE_FILE_SYSTEM_H_
