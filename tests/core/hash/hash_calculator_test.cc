#include "core/hash/hash_calculator.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "core/hash/dropbox_hash.h"
#include "core/hash/google_hash.h"
#include "tests/support/log_watch.h"
#include "tests/support/test_env.h"

namespace {

using testing_env::LogWatch;

struct TypeName {
  const char* name;
  SomeHash::HashType type;
};

constexpr TypeName kTypes[] = {
    {"vt", SomeHash::Vt},         {"yandex", SomeHash::Yandex},
    {"dropbox", SomeHash::Dropbox}, {"google", SomeHash::Google},
    {"internal", SomeHash::GenericString}, {"onedrive", SomeHash::OneDrive},
    {"s3", SomeHash::S3},
};

// The form the reference prints: the hash text itself for internal hashes.
std::string ReferenceForm(const SomeHash& hash) {
  return hash.Type() == SomeHash::GenericString ? hash.GetHashGenericString()
                                                : hash.ToHexString();
}

SomeHash HashPieces(HashCalculator* calculator, const std::string& data,
                    const std::vector<size_t>& pieces) {
  calculator->Begin();
  size_t offset = 0;
  for (size_t piece : pieces) {
    calculator->Feed(reinterpret_cast<const uint8_t*>(data.data()) + offset, piece);
    offset += piece;
  }
  return calculator->Finish();
}

// Random piece sizes covering |size|: runs of tiny pieces, pieces around the
// side-thread threshold, large ones, and empty ones in between.
std::vector<size_t> RandomPieces(size_t size, std::mt19937_64* random) {
  std::vector<size_t> pieces;
  std::uniform_int_distribution<int> kind(0, 9);
  size_t left = size;
  while (left > 0) {
    size_t piece = 0;
    switch (kind(*random)) {
      case 0: piece = 0; break;
      case 1: case 2: piece = 1 + (*random)() % 23; break;
      case 3: case 4: piece = 30000 + (*random)() % 8000; break;
      default: piece = 1 + (*random)() % (700 * 1024); break;
    }
    piece = std::min(piece, left);
    pieces.push_back(piece);
    left -= piece;
  }
  return pieces;
}

std::vector<size_t> FixedPieces(size_t size, size_t piece) {
  std::vector<size_t> pieces;
  for (size_t offset = 0; offset < size; offset += piece) {
    pieces.push_back(std::min(piece, size - offset));
  }
  return pieces;
}

TEST(HashCalculatorTest, MatchesPythonHashlibForEverySizeAndPieceSizes) {
  const uint64_t seed = std::random_device()();
  std::printf("seed %llu\n", static_cast<unsigned long long>(seed));
  SCOPED_TRACE("seed " + std::to_string(seed));
  std::mt19937_64 random(seed);

  std::vector<size_t> sizes = {0, 1, 5, 19, 20, 21, 22, 64, 100000,
                               4194303, 4194304, 4194305, 2 * 4194304 + 17};
  for (int i = 0; i < 3; ++i) sizes.push_back(random() % (6 * 1024 * 1024));

  const std::string dir = testing_env::MakeTempDir("hashes");
  std::vector<std::string> files;
  std::vector<std::string> contents;
  std::string command = "python3 " KORVO_SOURCE_DIR "/tests/core/hash/reference_hashes.py";
  for (size_t i = 0; i < sizes.size(); ++i) {
    std::string data(sizes[i], '\0');
    for (char& c : data) c = static_cast<char>(random());
    files.push_back(dir + "/f" + std::to_string(i));
    testing_env::WriteFile(files.back(), data);
    contents.push_back(std::move(data));
    command += " " + files.back();
  }
  std::string output;
  ASSERT_EQ(0, testing_env::RunCommand(command, &output));
  std::map<std::pair<std::string, std::string>, std::string> expected;
  std::istringstream lines(output);
  std::string kind, value, file;
  while (lines >> kind >> value >> file) expected[{kind, file}] = value;
  ASSERT_EQ(files.size() * std::size(kTypes), expected.size());

  for (const TypeName& type : kTypes) {
    // One calculator for all files: Begin after Finish starts afresh.
    std::unique_ptr<HashCalculator> calculator = SomeHash::CreateCalculator(type.type);
    for (size_t i = 0; i < files.size(); ++i) {
      SCOPED_TRACE(std::string(type.name) + " over " + std::to_string(sizes[i]) + " bytes");
      const std::string& want = expected[{type.name, files[i]}];
      const SomeHash whole = HashPieces(calculator.get(), contents[i], {sizes[i]});
      EXPECT_EQ(type.type, whole.Type());
      EXPECT_EQ(want, ReferenceForm(whole));
      EXPECT_EQ(want, ReferenceForm(HashPieces(calculator.get(), contents[i],
                                               FixedPieces(sizes[i], 128 * 1024))));
      EXPECT_EQ(want, ReferenceForm(HashPieces(calculator.get(), contents[i],
                                               RandomPieces(sizes[i], &random))));
    }
  }
}

TEST(HashCalculatorTest, VtShortContentIsItsOwnHash) {
  HashCalculatorVt vt;
  const std::string twenty = "0123456789abcdefghij";
  EXPECT_EQ("6162630000000000000000000000000000000000",
            HashPieces(&vt, "abc", {1, 0, 2}).ToHexString());
  EXPECT_EQ("303132333435363738396162636465666768696A",
            HashPieces(&vt, twenty, {7, 13}).ToHexString());
  const SomeHash exact = HashPieces(&vt, twenty, {20});
  EXPECT_EQ(0, std::memcmp(exact.GetHashVt().data, twenty.data(), 20));
  EXPECT_TRUE(HashPieces(&vt, "", {}).IsZero());
  // Finish starts the next content, so a calculator that was not begun again
  // still gives a defined result.
  vt.Feed(reinterpret_cast<const uint8_t*>("xy"), 2);
  EXPECT_EQ("7879000000000000000000000000000000000000", vt.Finish().ToHexString());
}

TEST(HashCalculatorTest, FeedAndFinishBeforeBeginLogAndStayDefined) {
  const uint8_t data[3] = {'a', 'b', 'c'};
  for (const TypeName& type : kTypes) {
    if (type.type == SomeHash::Vt) continue;
    SCOPED_TRACE(type.name);
    std::unique_ptr<HashCalculator> calculator = SomeHash::CreateCalculator(type.type);
    LogWatch watch;
    calculator->Feed(data, sizeof(data));
    EXPECT_EQ(1u, watch.fatals());
    EXPECT_TRUE(watch.Contains("Failed to calculate hash. Begin() has not beed called."));

    // The dropped data leaves the digest of no data.
    const SomeHash never_begun = calculator->Finish();
    if (type.type == SomeHash::S3) {
      EXPECT_TRUE(never_begun.IsEmpty());
    } else {
      EXPECT_TRUE(never_begun.IsBytewiseEqualTo(
          type.type == SomeHash::GenericString
              ? SomeHash(std::string("internal-sha256-e3b0c44298fc1c149afbf4c8996fb92427ae41e4649"
                                     "b934ca495991b7852b855"))
              : SomeHash::EmptyFileHash(type.type)));
    }
    // Dropbox does not check Finish; the others log it.
    const unsigned int finish_logs = type.type == SomeHash::Dropbox ? 0 : 1;
    EXPECT_EQ(1u + finish_logs, watch.fatals());

    // After Finish the calculator needs Begin again.
    calculator->Begin();
    calculator->Feed(data, sizeof(data));
    const SomeHash first = calculator->Finish();
    calculator->Feed(data, sizeof(data));
    EXPECT_EQ(2u + finish_logs, watch.fatals());
    calculator->Begin();
    calculator->Feed(data, sizeof(data));
    EXPECT_TRUE(first.IsBytewiseEqualTo(calculator->Finish()));
  }
}

TEST(HashCalculatorTest, InternalHashesAreRecognised) {
  HashCalculatorInternal internal;
  EXPECT_EQ("internal-sha256-e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855",
            HashPieces(&internal, "", {}).GetHashGenericString());
  EXPECT_TRUE(HashCalculatorInternal::IsInternal(HashPieces(&internal, "abc", {3})));
  EXPECT_FALSE(HashCalculatorInternal::IsInternal(SomeHash(std::string("internal-sha1-00"))));
  EXPECT_FALSE(HashCalculatorInternal::IsInternal(SomeHash::EmptyFileHash(SomeHash::Google)));
}

TEST(HashCalculatorTest, DropboxBlocksDoNotDependOnPieces) {
  // One block of 4 MiB and a second of one byte, however the bytes arrive.
  std::string data(HashCalculatorDropbox::kBlockSize + 1, 'x');
  HashCalculatorDropbox dropbox;
  const SomeHash reference = HashPieces(&dropbox, data, {data.size()});
  EXPECT_TRUE(reference.IsBytewiseEqualTo(
      HashPieces(&dropbox, data, {HashCalculatorDropbox::kBlockSize - 1, 2})));
  EXPECT_TRUE(reference.IsBytewiseEqualTo(
      HashPieces(&dropbox, data, {1, HashCalculatorDropbox::kBlockSize})));
  data.pop_back();
  EXPECT_FALSE(reference.IsBytewiseEqualTo(HashPieces(&dropbox, data, {data.size()})));
}

// Several Yandex calculators hashing large pieces at once, each with its
// own helper thread.
TEST(HashCalculatorTest, YandexCalculatorsRunConcurrently) {
  std::string data(3 * 1024 * 1024 + 5, '\0');
  for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<char>(i * 131 + (i >> 9));
  HashCalculatorYandex single;
  const SomeHash expected = HashPieces(&single, data, FixedPieces(data.size(), 100));
  std::vector<SomeHash> results(3);
  std::vector<std::thread> threads;
  for (size_t t = 0; t < results.size(); ++t) {
    threads.emplace_back([&, t] {
      HashCalculatorYandex calculator;
      for (int round = 0; round < 2; ++round) {
        results[t] = HashPieces(&calculator, data, FixedPieces(data.size(), 64 * 1024 + t));
      }
      if (t != 0) return;
      // Pieces that come slowly: the helper thread goes to sleep in between
      // and must be woken for each one.
      calculator.Begin();
      const std::vector<size_t> pieces = FixedPieces(data.size(), 512 * 1024);
      size_t offset = 0;
      for (size_t piece : pieces) {
        std::this_thread::sleep_for(std::chrono::milliseconds(3));
        calculator.Feed(reinterpret_cast<const uint8_t*>(data.data()) + offset, piece);
        offset += piece;
      }
      EXPECT_TRUE(expected.IsBytewiseEqualTo(calculator.Finish()));
    });
  }
  for (std::thread& thread : threads) thread.join();
  for (const SomeHash& result : results) EXPECT_TRUE(expected.IsBytewiseEqualTo(result));
}

}  // namespace
