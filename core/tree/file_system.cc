#include "core/tree/file_system.h"

#include <ostream>
#include <sstream>

FileSystem::~FileSystem() = default;

const char* FileSystem::ResultToString(Result result) {
  static constexpr const char* kTexts[] = {
      "Succeeded",        "Stopped",         "Failed",
      "Fatal",            "Conflict",        "Forbidden",
      "Authorization invalid", "Blocked",    "Outdated",
      "Public link limit", "Too early to process", "Too large file",
      "Name too long",    "Bad name",        "Not permitted symlink",
      "Virus infected",   "No space",        "Access denied",
      "Item missed"};
  return result >= 0 && result <= ItemMissed ? kTexts[result] : "Unknown result";
}

std::ostream& operator<<(std::ostream& out, FileSystem::Result result) {
  return out << FileSystem::ResultToString(result);
}

bool FileSystem::FileHashSize::operator<(const FileHashSize& other) const {
  if (size != other.size) return size < other.size;
  return hash < other.hash;
}

bool FileSystem::FileProperties::operator==(const FileProperties& other) const {
  return size == other.size && time == other.time && inode == other.inode &&
         readonly == other.readonly && (size == 0 || hash == other.hash);
}

void FileSystem::FileProperties::Dump(std::ostream& out) const {
  out << "(" << hash.ToDisplayString() << " " << size << "b " << time << " ino_" << inode
      << (readonly ? " rdonly" : "") << ")";
}

std::string FileSystem::FileProperties::ToString() const {
  std::ostringstream out;
  Dump(out);
  return out.str();
}

std::ostream& operator<<(std::ostream& out, const FileSystem::FileProperties& p) {
  p.Dump(out);
  return out;
}

void FileSystem::FolderProperties::Dump(std::ostream& out) const {
  out << "(" << time << " ino_" << inode << (readonly ? " rdonly" : "") << ")";
}

std::string FileSystem::FolderProperties::ToString() const {
  std::ostringstream out;
  Dump(out);
  return out.str();
}

std::ostream& operator<<(std::ostream& out, const FileSystem::FolderProperties& p) {
  p.Dump(out);
  return out;
}

FileSystem::Revision FileSystem::Revision::RevisionNone() {
  Revision none;
  none.tree_id1.Data()[0] = 0xFF;
  none.tree_id2.Data()[0] = 0xFF;
  return none;
}

const char* FileSystem::Change::TypeToString(Type type) {
  static constexpr const char* kNames[] = {
      "FILE_CREATE",  "FILE_DELETE",   "FILE_RENAME",   "FILE_MODIFY",
      "FOLDER_CREATE", "FOLDER_DELETE", "FOLDER_CLEAR",  "FOLDER_RENAME",
      "FOLDER_UPDATE", "FILE_OR_FOLDER_DELETE", "REMOVE", "RENAME",
      "REVISION_SET", "FREE_SIZE_SET", "TOTAL_SIZE_SET", "TOTAL_SIZE_INCREASE",
      "TOTAL_SIZE_DECREASE", "USED_SIZE_INCREASE", "USED_SIZE_DECREASE", "EXPORT",
      "UNSHARE",      "MOUNT",         "UNMOUNT",       "SET_OWNER",
      "ADD_USER",     "DELETE_USER",   "GRANT_ACCESS",  "ORIGIN",
      "DUMMY"};
  return type >= 0 && type <= DUMMY ? kNames[type] : "Unknown type";
}

bool FileSystem::Change::IsFileChange() const {
  return type == FILE_CREATE || type == FILE_DELETE || type == FILE_RENAME ||
         type == FILE_MODIFY;
}

bool FileSystem::Change::AffectsTreeInfo(const TreeId& main) const {
  switch (type) {
    case EXPORT:
    case UNSHARE:
    case UNMOUNT:
    case GRANT_ACCESS:
      return true;
    case FREE_SIZE_SET:
    case TOTAL_SIZE_SET:
    case TOTAL_SIZE_INCREASE:
    case TOTAL_SIZE_DECREASE:
      return treeId != main;
    default:
      return false;
  }
}

void FileSystem::Change::LogToStream(std::ostream& out) const {
  out << TypeToString(type) << " \"" << path << "\"";
  if (!path2.empty()) out << ", path2=\"" << path2 << "\"";
  if (size != 0) out << ", size=" << size;
  if (!hash.IsEmpty()) out << ", hash=" << hash.ToDisplayString();
  if (!treeId.IsEmpty()) out << ", treeid:" << treeId.ToHexString();
  if (revision != 0) out << ", rev:" << revision;
}

std::string FileSystem::Change::ToString() const {
  std::ostringstream out;
  LogToStream(out);
  return out.str();
}

bool FileSystem::IsCanonicalPath(std::string_view path) {
  if (path.empty() || path.back() == '/') return false;
  if (path.find('\\') != std::string_view::npos) return false;
  if (path.find('\0') != std::string_view::npos) return false;
  if (path.find("//") != std::string_view::npos) return false;
  if (path.front() == '/') path.remove_prefix(1);
  while (!path.empty()) {
    const size_t slash = path.find('/');
    const std::string_view component = path.substr(0, slash);
    if (component == "." || component == "..") return false;
    if (slash == std::string_view::npos) break;
    path.remove_prefix(slash + 1);
  }
  return true;
}

bool FileSystem::IsRelativeCanonicalPath(std::string_view path) {
  return IsCanonicalPath(path) && path.front() != '/';
}

bool FileSystem::HasSomethingChanged(Change::Type type) {
  switch (type) {
    case Change::FILE_CREATE:
    case Change::FILE_DELETE:
    case Change::FILE_RENAME:
    case Change::FILE_MODIFY:
    case Change::FOLDER_CREATE:
    case Change::FOLDER_DELETE:
    case Change::FOLDER_RENAME:
    case Change::FOLDER_UPDATE:
    case Change::REMOVE:
    case Change::RENAME:
      return true;
    default:
      return false;
  }
}
