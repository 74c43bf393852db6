#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "core/hash/hash_calculator.h"
#include "core/hash/hashes.h"
#include "core/infra/logger.h"
#include "tools/commands.h"

namespace korvo {
namespace {

constexpr size_t kPieceSize = 128 * 1024;

struct TypeName {
  const char* name;
  SomeHash::HashType type;
};

constexpr TypeName kTypes[] = {
    {"vt", SomeHash::Vt},           {"yandex", SomeHash::Yandex},
    {"dropbox", SomeHash::Dropbox}, {"google", SomeHash::Google},
    {"internal", SomeHash::GenericString}, {"onedrive", SomeHash::OneDrive},
    {"s3", SomeHash::S3},
};

int Usage() {
  std::fprintf(stderr,
               "usage: korvo hash --type TYPE FILE...\n"
               "TYPE: vt, yandex, dropbox, google, internal, onedrive or s3; "
               "FILE '-' is standard input\n");
  return 2;
}

// Feeds one file through |calculator|; on failure stores the reason.
bool HashFile(const std::string& name, HashCalculator* calculator, std::vector<uint8_t>* buffer,
              SomeHash* result, std::string* error) {
  const bool is_stdin = name == "-";
  std::FILE* file = is_stdin ? stdin : std::fopen(name.c_str(), "rb");
  if (file == nullptr) {
    *error = std::strerror(errno);
    return false;
  }
  calculator->Begin();
  bool ok = true;
  for (;;) {
    const size_t got = std::fread(buffer->data(), 1, buffer->size(), file);
    if (got > 0) calculator->Feed(buffer->data(), got);
    if (got < buffer->size()) {
      if (std::ferror(file)) {
        *error = std::strerror(errno);
        ok = false;
      }
      break;
    }
  }
  *result = calculator->Finish();
  if (is_stdin) {
    std::clearerr(stdin);
  } else {
    std::fclose(file);
  }
  return ok;
}

}  // namespace

int RunHash(const std::vector<std::string>& args) {
  if (args.size() < 3 || args[0] != "--type") return Usage();
  const TypeName* type = nullptr;
  for (const TypeName& candidate : kTypes) {
    if (args[1] == candidate.name) type = &candidate;
  }
  if (type == nullptr) {
    std::fprintf(stderr, "korvo: unknown hash type '%s'\n", args[1].c_str());
    return Usage();
  }
  std::unique_ptr<HashCalculator> calculator = SomeHash::CreateCalculator(type->type);
  std::vector<uint8_t> buffer(kPieceSize);
  int status = 0;
  for (size_t i = 2; i < args.size(); ++i) {
    const std::string& name = args[i];
    SomeHash result;
    std::string error;
    if (!HashFile(name, calculator.get(), &buffer, &result, &error)) {
      std::fprintf(stderr, "korvo: %s: %s\n", name.c_str(), error.c_str());
      KLOG(Fail) << "hash cannot read " << name << ": " << error;
      status = 1;
      continue;
    }
    const std::string hex = result.ToHexString();
    std::printf("%s  %s\n", hex.c_str(), name.c_str());
  }
  std::fflush(stdout);
  return status;
}

}  // namespace korvo
