#include "services/remote_file_system.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "core/local/local_file_system_utils.h"
#include "core/tree/file_tree.h"
#include "services/backup_metainfo.h"
#include "tests/support/log_watch.h"

namespace {

using testing_env::LogWatch;

std::string Utf8(char32_t code_point) {
  const InvalidSymbolsMapping::Stub stub = InvalidSymbolsMapping::MakeStub(code_point);
  return std::string(stub.data(), code_point < 0x80 ? 1 : code_point < 0x800 ? 2 : 3);
}

// A file system whose only job is the base's: |remote| is the service's table.
class TestFileSystem : public RemoteFileSystemNoChangesSupport {
 public:
  explicit TestFileSystem(const InvalidSymbolsMapping::Mapping& remote,
                          std::shared_ptr<RemoteFileSystemSharedData> shared =
                              std::make_shared<RemoteFileSystemSharedData>())
      : RemoteFileSystemNoChangesSupport(std::move(shared), "/root"), remote_(remote) {}

  const InvalidSymbolsMapping::Mapping& GetUnsupportedSymbolsMap() const override {
    return remote_;
  }
  Result WriteFileImpl(const uint8_t*, size_t) override { return Fatal; }
  Result FinishFileImpl(FileProperties*) override { return Fatal; }
  Result CreateFolderImpl(const std::string&, FolderProperties*) override { return Fatal; }
  Result DeleteFileImpl(const OverwriteControl&, const std::string&) override { return Fatal; }
  Result DeleteFolderImpl(const std::string&) override { return Fatal; }
  Result CreateFileImpl(const OverwriteControl&, const std::string&, FileProperties*, uint64_t,
                        uint64_t, uint64_t*, void*) override {
    return Fatal;
  }
  Result OpenFileForReadImpl(const std::string&, uint64_t, uint64_t, uint64_t,
                             FileProperties*) override {
    return Fatal;
  }
  Result OverwriteFileImpl(const OverwriteControl&, const std::string&, FileProperties*, uint64_t,
                           uint64_t, uint64_t*) override {
    return Fatal;
  }
  Result ReadFileImpl(uint8_t*, size_t, size_t*) override { return Fatal; }
  Result MoveFileImpl(const FileNode&, const OverwriteControl&, const std::string&,
                      const OverwriteControl&, const std::string&) override {
    return Fatal;
  }
  Result MoveFolderImpl(const std::string&, const std::string&) override { return Fatal; }
  Result GetFullTree(FolderNode*, uint64_t*, uint64_t*) override { return Fatal; }
  Result GetFolderListing(const std::string&, FolderListing*) override { return Fatal; }

  using RemoteFileSystem::CreatePathTo;
  using RemoteFileSystem::GetPercentCompleteGettingFirstSnapshot;

 private:
  const InvalidSymbolsMapping::Mapping& remote_;
};

const InvalidSymbolsMapping::Mapping& S3Like() { return InvalidSymbolsMapping::kEmptyInvalidSymbolsMap; }
const InvalidSymbolsMapping::Mapping& StdWin() {
  return InvalidSymbolsMapping::kInvalidSymbolsMap_StdWin;
}

std::string ToRemote(TestFileSystem& fs, const std::string& in, bool path, bool* unchanged) {
  std::string out;
  path ? fs.MapPathToRemote(in, &out, unchanged) : fs.MapNameToRemote(in, &out, unchanged);
  return out;
}

std::string ToLocal(TestFileSystem& fs, const std::string& in, bool path, bool* unchanged) {
  std::string out;
  path ? fs.UnmapPathToLocal(in, &out, unchanged) : fs.UnmapNameToLocal(in, &out, unchanged);
  return out;
}

const std::string kColonStub = Utf8(0x0890);
const std::string kSlashStub = Utf8(0x088F);
const std::string kBlankStub = Utf8(0x0897);

TEST(RemoteNameMappingTest, Cases) {
  TestFileSystem s3(S3Like());
  TestFileSystem win(StdWin());
  struct Case {
    TestFileSystem* fs;
    bool to_remote, path;
    std::string in, out;
    bool unchanged;
  } const kCases[] = {
      // Without a remote table the local stub of ":" becomes ":" remotely...
      {&s3, true, false, "a" + kColonStub + "b", "a:b", false},
      // ...and a remote ":" gets the local stub.
      {&s3, false, false, "a:b", "a" + kColonStub + "b", false},
      {&s3, true, false, "plain", "plain", true},
      {&s3, false, true, "dir/plain", "dir/plain", true},
      // A blank gets the at-end stub only last in a name or before "/".
      {&s3, false, false, "a b ", "a b" + kBlankStub, false},
      {&s3, false, true, "a /b ", "a" + kBlankStub + "/b" + kBlankStub, false},
      {&s3, true, true, "a" + kBlankStub + "/b", "a /b", false},
      // A stub that decodes to "/" is handled component by component.
      {&s3, true, true, "x/a" + kSlashStub + "b", "x/a/b", false},
      // A service that refuses what Windows refuses: those characters stay
      // with the local side, so the local stubs travel unchanged.
      {&win, true, false, "a" + kColonStub + "b", "a" + kColonStub + "b", true},
      {&win, false, false, "a" + kColonStub + "b", "a" + kColonStub + "b", true},
      {&win, false, false, "dot.", "dot" + Utf8(0x0898), false},
      // ...except NUL, which only the local side maps.
      {&win, true, false, "n" + Utf8(0x086F), std::string("n\0", 2), false},
  };
  int index = 0;
  for (const Case& c : kCases) {
    SCOPED_TRACE(index++);
    bool unchanged = !c.unchanged;
    const std::string out = c.to_remote ? ToRemote(*c.fs, c.in, c.path, &unchanged)
                                        : ToLocal(*c.fs, c.in, c.path, &unchanged);
    EXPECT_EQ(c.out, out);
    EXPECT_EQ(c.unchanged, unchanged);
    std::string in_place = c.in;
    if (c.to_remote) {
      c.path ? c.fs->MapPathToRemote(&in_place) : c.fs->MapNameToRemote(&in_place);
    } else {
      c.path ? c.fs->UnmapPathToLocal(&in_place) : c.fs->UnmapNameToLocal(&in_place);
    }
    EXPECT_EQ(c.out, in_place);
  }
  EXPECT_TRUE(s3.CheckPathContainsInvalidLocalSymbolsStubs("a" + kColonStub));
  EXPECT_FALSE(s3.CheckPathContainsInvalidLocalSymbolsStubs("a:"));
  EXPECT_FALSE(s3.CheckPathContainsInvalidRemoteSymbolsStubs("a" + Utf8(0xFF1A)));
}

// Where the rules are not reversible, by design of the tables and the order
// of the steps. Each case is a round trip that does not come back.
TEST(RemoteNameMappingTest, WhereRoundTripsDoNotHold) {
  TestFileSystem s3(S3Like());
  bool unchanged = true;
  // 1. A remote name holding a local stub decodes it first: the local side
  //    then shows the raw ":" and maps it back as ":".
  const std::string remote_stub = "a" + kColonStub;
  EXPECT_EQ("a:", ToLocal(s3, remote_stub, false, &unchanged));
  EXPECT_EQ("a:", ToRemote(s3, ToLocal(s3, remote_stub, false, &unchanged), false, &unchanged));
  // 2. 0x1F shares its stub with "\", and decoding takes the first row.
  EXPECT_EQ("a" + Utf8(0x088E), ToLocal(s3, "a\x1f", false, &unchanged));
  EXPECT_EQ("a\\", ToRemote(s3, "a" + Utf8(0x088E), false, &unchanged));
  // 3. With no remote stub for "/", a local name holding the stub of "/"
  //    becomes a path on the service: a/b is a folder and a file there. In
  //    name mode the decoded "/" then also ends a component for the at-end
  //    stubs before it.
  EXPECT_EQ("x/a/b", ToRemote(s3, "x/a" + kSlashStub + "b", true, &unchanged));
  EXPECT_EQ("x/a/b", ToLocal(s3, "x/a/b", true, &unchanged));
  EXPECT_EQ(kBlankStub + "/b", ToRemote(s3, kBlankStub + kSlashStub + "b", false, &unchanged));
  EXPECT_EQ(" /b", ToLocal(s3, kBlankStub + "/b", false, &unchanged));
}

// Random names over an alphabet rich in what the tables map.
std::string RandomName(std::mt19937_64& random, const std::vector<std::string>& alphabet) {
  std::string name;
  const size_t length = 1 + random() % 8;
  for (size_t i = 0; i < length; ++i) name += alphabet[random() % alphabet.size()];
  return name;
}

TEST(RemoteNameMappingTest, RoundTripsOfRandomNames) {
  const uint64_t seed = std::random_device()();
  std::printf("seed %llu\n", static_cast<unsigned long long>(seed));
  std::mt19937_64 random(seed);
  // Names a Windows disk can hold: no raw invalid characters, no blank or
  // dot at the end, but every stub.
  std::vector<std::string> local_alphabet = {"a", "Z", "0", " ", ".", "-", "\xc3\xa9",
                                             "\xd0\x96", "\xf0\x9f\x98\x80", Utf8(0x3042)};
  for (const auto& row : LocalFileSystemUtils::kInvalidSymbolsStaticMapping) {
    local_alphabet.push_back(std::string(row.second.data(), 3));
  }
  for (const auto& row : LocalFileSystemUtils::kInvalidSymbolsAtEndStaticMapping) {
    local_alphabet.push_back(std::string(row.second.data(), 3));
  }
  // Names a service can hold: anything but the local stubs and 0x1F (see
  // the cases above), "/" and, for the Windows-like service, what it refuses.
  std::vector<std::string> remote_alphabet = {"a", "Z", " ", ".", ":", "?", "\\", "*", "\"",
                                              "<", ">", "|", "\x01", "\x1e", "\xc3\xa9",
                                              Utf8(0xFF1A), Utf8(0x2401)};
  TestFileSystem s3(S3Like());
  TestFileSystem win(StdWin());
  for (int i = 0; i < 20000; ++i) {
    std::string local = RandomName(random, local_alphabet);
    while (local.back() == ' ' || local.back() == '.') local.pop_back();
    if (local.empty()) continue;
    for (TestFileSystem* fs : {&s3, &win}) {
      // Without a remote stub for "/", the stub of "/" leaves the name (case 3).
      if (fs == &s3 && local.find(kSlashStub) != std::string::npos) continue;
      bool unchanged = true;
      const std::string remote = ToRemote(*fs, local, false, &unchanged);
      ASSERT_EQ(local, ToLocal(*fs, remote, false, &unchanged)) << "seed " << seed;
    }
    const std::string remote = RandomName(random, remote_alphabet);
    bool unchanged = true;
    ASSERT_EQ(remote, ToRemote(s3, ToLocal(s3, remote, false, &unchanged), false, &unchanged))
        << "seed " << seed;
    // Paths: the same per component.
    const std::string path = remote + "/" + RandomName(random, remote_alphabet);
    ASSERT_EQ(path, ToRemote(s3, ToLocal(s3, path, true, &unchanged), true, &unchanged))
        << "seed " << seed;
  }
}

TEST(RemoteNameMappingTest, SharedTablesBuiltByManyThreadsAtOnce) {
  auto shared = std::make_shared<RemoteFileSystemSharedData>();
  std::vector<std::string> results(4);
  std::vector<std::thread> threads;
  for (size_t t = 0; t < results.size(); ++t) {
    threads.emplace_back([&, t] {
      TestFileSystem fs(S3Like(), shared);
      bool unchanged = true;
      std::string out = ToLocal(fs, "a:b ", false, &unchanged);
      results[t] = ToRemote(fs, out, false, &unchanged) + "|" + out;
    });
  }
  for (std::thread& thread : threads) thread.join();
  for (const std::string& result : results) {
    EXPECT_EQ("a:b |a" + kColonStub + "b" + kBlankStub, result);
  }
}

TEST(RemoteFileSystemTest, BaseAnswers) {
  TestFileSystem fs(S3Like());
  EXPECT_EQ("/root", fs.GetRemoteRootPath());
  EXPECT_FALSE(fs.SupportsChangesListening());
  EXPECT_FALSE(fs.SupportsTreeInfo());
  EXPECT_TRUE(fs.SupportsFolderMoving());
  EXPECT_TRUE(fs.SupportsAutomaticRecursiveRemoving());
  EXPECT_FALSE(fs.SupportsMoveToExistingFile());
  uint64_t inode = 0;
  EXPECT_EQ(FileSystem::Fatal, fs.ReadInodeImpl("x", &inode));
  EXPECT_FALSE(fs.ReadFilePropsImpl("x").HasValue());
  LogWatch watch;
  std::queue<FileSystem::Change> changes;
  EXPECT_EQ(FileSystem::Fatal, fs.GetChanges(&changes));
  EXPECT_FALSE(fs.ApplyRemoteChange(FileSystem::Change(), nullptr, nullptr, nullptr));
  EXPECT_EQ(2u, watch.fatals());
  EXPECT_TRUE(watch.Contains("Not supported."));

  std::string path = "/a/b";
  RemoteFileSystem::RemoveFirstSlashIfExists(&path);
  EXPECT_EQ("a/b", path);

  EXPECT_DOUBLE_EQ(0.05, TestFileSystem::GetPercentCompleteGettingFirstSnapshot({1000, 10}));
  EXPECT_DOUBLE_EQ(0.5, TestFileSystem::GetPercentCompleteGettingFirstSnapshot({1000, 500}));
  EXPECT_DOUBLE_EQ(1.0, TestFileSystem::GetPercentCompleteGettingFirstSnapshot({0, 0}));
  EXPECT_DOUBLE_EQ(1.0, TestFileSystem::GetPercentCompleteGettingFirstSnapshot({10, 11}));
}

TEST(RemoteFileSystemTest, StopWakesWaiters) {
  TestFileSystem fs(S3Like());
  EXPECT_FALSE(fs.WaitForStop(std::chrono::milliseconds(1)));
  std::thread stopper([&fs] { fs.Stop(); });
  EXPECT_TRUE(fs.WaitForStop(std::chrono::seconds(30)));
  stopper.join();
  EXPECT_TRUE(fs.IsStopped());
  fs.Start();
  EXPECT_FALSE(fs.IsStopped());
}

TEST(RemoteFileSystemTest, CreatePathTo) {
  UniqueNodePtr<FolderNode> root = FolderNode::MakeRoot();
  FolderNode* folder = nullptr;
  std::string_view name;
  ASSERT_TRUE(TestFileSystem::CreatePathTo("a/b/c", root.get(), &folder, &name, false));
  EXPECT_EQ("a/b", folder->CollectPath());
  EXPECT_EQ("c", name);
  EXPECT_TRUE(folder->IsChanged());
  EXPECT_EQ(2, root->CountChangedChildren());
  FolderNode* again = nullptr;
  ASSERT_TRUE(TestFileSystem::CreatePathTo("A/B/d", root.get(), &again, &name, true));
  EXPECT_EQ(folder, again);
  ASSERT_TRUE(TestFileSystem::CreatePathTo("c", root.get(), &folder, &name, false));
  EXPECT_EQ(root.get(), folder);
  EXPECT_EQ("c", name);
  ASSERT_TRUE(TestFileSystem::CreatePathTo("a/", root.get(), &folder, &name, false));
  EXPECT_EQ("", name);
}

TEST(BackupMetainfoTest, BackupNames) {
  struct Case {
    const char* path;
    const char* name;
  } const kCases[] = {
      {"Backups/Laptop/file.txt", "Laptop"},
      {"Backups/Laptop", "Laptop"},
      {"a/b/c", "a/b"},
      {"Backups/Laptop/docs/file.txt", "Laptop/docs"},
      {"Laptop", "Laptop"},
  };
  for (const Case& c : kCases) {
    EXPECT_EQ(c.name, BackupMetainfoRemoteReader::GetBackupNameByRemotePath(c.path)) << c.path;
  }
  struct Factory : RemoteFileSystemFactory {
    Factory() : RemoteFileSystemFactory("/") {}
    RemoteFileSystem* Create() override { return new TestFileSystem(S3Like()); }
  } factory;
  EXPECT_EQ(nullptr, factory.CreateMetainfoReader(nullptr));
  EXPECT_EQ(nullptr, factory.CreateMetainfoWriter(nullptr, "a", "b"));
  EXPECT_EQ(nullptr, factory.GetSharedData());
  std::unique_ptr<RemoteFileSystem> created(factory.Create());
  EXPECT_NE(nullptr, created->GetSharedData());
}

}  // namespace
