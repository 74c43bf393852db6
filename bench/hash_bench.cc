// Throughput of every hash calculator over a stream in 128 KiB pieces, side
// by side with OpenSSL's raw EVP digest of its primitive. Each repetition
// runs the primitive and the calculator back to back, so both see the same
// machine state; the ratio reported is the median over the repetitions.
//
//   hash_bench [--gib N] [--reps N]     (defaults: 1 GiB, 3 repetitions)

#include <openssl/evp.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "core/hash/hash_calculator.h"
#include "core/hash/hashes.h"

namespace {

constexpr size_t kPiece = 128 * 1024;

struct Stream {
  std::vector<uint8_t> piece;
  size_t pieces;
};

double SecondsOf(const std::function<void()>& run) {
  const auto start = std::chrono::steady_clock::now();
  run();
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// The raw primitive: one EVP context over the whole stream.
void RawDigest(const Stream& stream, const EVP_MD* md) {
  EVP_MD_CTX* ctx = EVP_MD_CTX_new();
  EVP_DigestInit_ex(ctx, md, nullptr);
  for (size_t i = 0; i < stream.pieces; ++i) {
    EVP_DigestUpdate(ctx, stream.piece.data(), stream.piece.size());
  }
  unsigned char out[EVP_MAX_MD_SIZE];
  EVP_DigestFinal_ex(ctx, out, nullptr);
  EVP_MD_CTX_free(ctx);
  std::memcpy(const_cast<uint8_t*>(stream.piece.data()), out, 1);  // keep the result alive
}

// MD5 then SHA-256 of each piece on one thread: what Yandex costs without
// running the digests side by side.
void RawMd5ThenSha256(const Stream& stream) {
  EVP_MD_CTX* md5 = EVP_MD_CTX_new();
  EVP_MD_CTX* sha256 = EVP_MD_CTX_new();
  EVP_DigestInit_ex(md5, EVP_md5(), nullptr);
  EVP_DigestInit_ex(sha256, EVP_sha256(), nullptr);
  for (size_t i = 0; i < stream.pieces; ++i) {
    EVP_DigestUpdate(md5, stream.piece.data(), stream.piece.size());
    EVP_DigestUpdate(sha256, stream.piece.data(), stream.piece.size());
  }
  unsigned char out[EVP_MAX_MD_SIZE];
  EVP_DigestFinal_ex(md5, out, nullptr);
  EVP_DigestFinal_ex(sha256, out, nullptr);
  EVP_MD_CTX_free(md5);
  EVP_MD_CTX_free(sha256);
}

void Calculate(const Stream& stream, SomeHash::HashType type) {
  std::unique_ptr<HashCalculator> calculator = SomeHash::CreateCalculator(type);
  calculator->Begin();
  for (size_t i = 0; i < stream.pieces; ++i) {
    calculator->Feed(stream.piece.data(), stream.piece.size());
  }
  const SomeHash result = calculator->Finish();
  if (result.IsEmpty()) std::abort();
}

struct Row {
  const char* calculator;
  SomeHash::HashType type;
  const char* primitive;
  const EVP_MD* (*md)();
};

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
  double gib = 1;
  int reps = 3;
  for (int i = 1; i + 1 < argc; i += 2) {
    if (std::strcmp(argv[i], "--gib") == 0) gib = std::atof(argv[i + 1]);
    if (std::strcmp(argv[i], "--reps") == 0) reps = std::atoi(argv[i + 1]);
  }
  Stream stream;
  stream.piece.resize(kPiece);
  std::mt19937_64 random(42);
  for (uint8_t& b : stream.piece) b = static_cast<uint8_t>(random());
  stream.pieces = static_cast<size_t>(gib * 1024 * 1024 * 1024 / kPiece);
  const double mb = static_cast<double>(stream.pieces * kPiece) / 1e6;

  const Row rows[] = {
      {"Vt", SomeHash::Vt, "SHA-1", &EVP_sha1},
      {"OneDrive", SomeHash::OneDrive, "SHA-1", &EVP_sha1},
      {"Google", SomeHash::Google, "MD5", &EVP_md5},
      {"S3", SomeHash::S3, "MD5", &EVP_md5},
      {"Internal", SomeHash::GenericString, "SHA-256", &EVP_sha256},
      {"Dropbox", SomeHash::Dropbox, "SHA-256", &EVP_sha256},
      {"Yandex", SomeHash::Yandex, "MD5", &EVP_md5},
  };
  std::printf("%.0f MB per run in %zu KiB pieces, median of %d\n\n", mb, kPiece / 1024, reps);
  std::printf("%-10s %10s   %-8s %10s   %s\n", "calculator", "MB/s", "raw EVP", "MB/s", "ratio");
  for (const Row& row : rows) {
    std::vector<double> calc, raw, ratio;
    for (int r = 0; r < reps; ++r) {
      const double raw_s = SecondsOf([&] { RawDigest(stream, row.md()); });
      const double calc_s = SecondsOf([&] { Calculate(stream, row.type); });
      raw.push_back(mb / raw_s);
      calc.push_back(mb / calc_s);
      ratio.push_back(raw_s / calc_s);
    }
    std::printf("%-10s %10.0f   %-8s %10.0f   %.3f\n", row.calculator, Median(calc),
                row.primitive, Median(raw), Median(ratio));
    std::fflush(stdout);
  }
  std::vector<double> sequential;
  for (int r = 0; r < reps; ++r) {
    sequential.push_back(mb / SecondsOf([&] { RawMd5ThenSha256(stream); }));
  }
  std::printf("\nreference: raw MD5 then SHA-256 on one thread: %.0f MB/s\n", Median(sequential));
  return 0;
}
