// Builds a tree of 1,000,000 files in 10,000 folders from sorted paths, as a
// listing delivers them, and reports insert rate, memory per file node (from
// the allocator's own count of bytes in use) and lookup and rename times.
//
//   tree_bench [--files N] [--folders N]

#include <malloc.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "core/tree/file_tree.h"
#include "core/tree/inode_collection.h"

namespace {

using Clock = std::chrono::steady_clock;

double Seconds(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

size_t BytesInUse() { return mallinfo2().uordblks; }

// 8 to 24 characters; about a third with capitals, a few percent non-ASCII.
std::string RandomName(std::mt19937_64& random) {
  static const char kLower[] = "abcdefghijklmnopqrstuvwxyz0123456789_-";
  const size_t length = 8 + random() % 17;
  std::string name;
  const bool capitals = random() % 3 == 0;
  const bool non_ascii = random() % 25 == 0;
  for (size_t i = 0; i < length; ++i) {
    char c = kLower[random() % (sizeof(kLower) - 1)];
    if (capitals && c >= 'a' && c <= 'z' && random() % 3 == 0) c = static_cast<char>(c - 32);
    name += c;
  }
  if (non_ascii) name.replace(0, 2, "\xd0\x96");  // Ж
  return name;
}

std::string Upper(std::string name) {
  for (char& c : name) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 32);
  }
  return name;
}

}  // namespace

int main(int argc, char** argv) {
  size_t file_count = 1000000, folder_count = 10000;
  for (int i = 1; i + 1 < argc; i += 2) {
    if (std::strcmp(argv[i], "--files") == 0) file_count = std::strtoull(argv[i + 1], nullptr, 10);
    if (std::strcmp(argv[i], "--folders") == 0) folder_count = std::strtoull(argv[i + 1], nullptr, 10);
  }
  std::mt19937_64 random(7);
  // The listing: folder names, then per folder its file names, sorted.
  std::vector<std::string> folder_names(folder_count);
  for (auto& name : folder_names) name = RandomName(random) + std::to_string(&name - folder_names.data());
  std::sort(folder_names.begin(), folder_names.end());
  std::vector<std::vector<std::string>> file_names(folder_count);
  for (size_t i = 0; i < file_count; ++i) file_names[i % folder_count].push_back(RandomName(random));
  for (auto& names : file_names) {
    std::sort(names.begin(), names.end());
    names.erase(std::unique(names.begin(), names.end()), names.end());
  }
  size_t files_total = 0;
  for (const auto& names : file_names) files_total += names.size();

  std::printf("sizeof: FileNode %zu, FolderNode %zu, SomeHash %zu\n", sizeof(FileNode),
              sizeof(FolderNode), sizeof(SomeHash));
  malloc_trim(0);
  const size_t before = BytesInUse();
  auto start = Clock::now();
  UniqueNodePtr<FolderNode> root = FolderNode::MakeRoot();
  auto inodes = std::make_shared<InodeCollection>();
  inodes->Reserve(files_total, folder_count);
  root->SetControlledInodeCollection(inodes);
  uint64_t inode = 1;
  std::vector<FolderNode*> folders;
  folders.reserve(folder_count);
  const SomeHash hash(HashBase<16>::FromHexString("00112233445566778899AABBCCDDEEFF"));
  for (size_t f = 0; f < folder_count; ++f) {
    ChildIter<FolderNode> folder;
    if (!root->CreateFolder(std::string(folder_names[f]), &folder, inode++, 0, false, false)) {
      return 1;
    }
    folders.push_back(folder.node);
    for (const std::string& name : file_names[f]) {
      ChildIter<FileNode> where;
      if (!folder->CreateFile(std::string(name), &where, 1234, hash, 0, inode++, false, false)) {
        return 1;
      }
    }
  }
  const double build_s = Seconds(start);
  const size_t after = BytesInUse();
  std::printf("built %zu files in %zu folders: %.2f s, %.2f M inserts/s\n", files_total,
              folder_count, build_s, (files_total + folder_count) / build_s / 1e6);
  std::printf("memory: %.1f bytes per file node, everything included\n",
              static_cast<double>(after - before) / files_total);

  // Lookups of random existing files.
  constexpr size_t kLookups = 1000000;
  std::vector<std::pair<size_t, size_t>> picks(kLookups);
  for (auto& pick : picks) {
    pick.first = random() % folder_count;
    pick.second = random() % file_names[pick.first].size();
  }
  size_t found = 0;
  start = Clock::now();
  for (const auto& [f, i] : picks) found += folders[f]->GetFile(file_names[f][i], false) != nullptr;
  std::printf("exact lookup: %.0f ns (%zu found)\n", Seconds(start) / kLookups * 1e9, found);

  std::vector<std::string> upper(kLookups);
  for (size_t k = 0; k < kLookups; ++k) upper[k] = Upper(file_names[picks[k].first][picks[k].second]);
  found = 0;
  start = Clock::now();
  for (size_t k = 0; k < kLookups; ++k) {
    found += folders[picks[k].first]->GetFile(upper[k], true) != nullptr;
  }
  std::printf("case-insensitive lookup (upper-cased query): %.0f ns (%zu found)\n",
              Seconds(start) / kLookups * 1e9, found);

  found = 0;
  start = Clock::now();
  for (size_t k = 0; k < kLookups; ++k) {
    found += inodes->GetFileByInode(1 + random() % (inode - 1)) != nullptr;
  }
  std::printf("inode lookup: %.0f ns (%zu files)\n", Seconds(start) / kLookups * 1e9, found);

  constexpr size_t kRenames = 100000;
  start = Clock::now();
  size_t renamed = 0;
  for (size_t k = 0; k < kRenames; ++k) {
    const auto& [f, i] = picks[k];
    ChildIter<FileNode> it = folders[f]->FindFile(file_names[f][i], false);
    if (it.IsEnd()) continue;
    renamed += folders[f]->RenameFileTry(&it, "Renamed " + std::to_string(k)) ==
               ResultInsert::Inserted;
  }
  std::printf("rename: %.0f ns (%zu renamed)\n", Seconds(start) / kRenames * 1e9, renamed);
  if (!root->ValidateIndices()) return 1;
  return 0;
}
