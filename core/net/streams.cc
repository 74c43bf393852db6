#include "core/net/streams.h"

#include <algorithm>

#include "core/infra/logger.h"

namespace {

// Grows |out| before each read, reads into its tail and trims it to what was
// read. Container is std::string or std::vector<unsigned char>.
template <class Container>
InputStream::Result ReadAll(InputStream* stream, Container* out,
                            const std::function<void(int)>& progress, unsigned int buffer_size) {
  if (buffer_size < 2) {
    KLOG(Fatal) << "invalid buffer_size specified: " << buffer_size;
    return InputStream::kFailed;
  }
  const size_t start = out->size();
  size_t used = start;  // |out| beyond |used| is room for the next read
  bool reserved = false;
  int last_permille = -1;
  for (;;) {
    if (out->size() == used) {
      out->resize(used + std::max<size_t>(used - start, buffer_size) * 5 / 3);
    }
    const size_t room = std::min<size_t>(out->size() - used, 0xFFFFFFFFu);
    unsigned int read = 0;
    const InputStream::Result result = stream->Read(
        reinterpret_cast<unsigned char*>(out->data()) + used, static_cast<unsigned int>(room),
        &read);
    if (result != InputStream::kData) {
      out->resize(used);
      return result;
    }
    used += std::min<size_t>(read, room);
    const int64_t length = stream->InputLength();
    if (!reserved && length > 0) {
      // The whole body at once; one byte more to see its end.
      const size_t whole = start + static_cast<size_t>(length) + 1;
      if (out->size() < whole) out->resize(whole);
      reserved = true;
    }
    if (progress && length > 0) {
      const int permille =
          static_cast<int>(std::min<uint64_t>((used - start) * 1000 / length, 1000));
      if (permille != last_permille) {
        last_permille = permille;
        progress(permille);
      }
    }
  }
}

}  // namespace

InputStream::Result InputStream::ReadAllTo(std::string* out, unsigned int buffer_size) {
  return ReadAll(this, out, nullptr, buffer_size);
}

InputStream::Result InputStream::ReadAllTo(std::vector<unsigned char>* out,
                                           unsigned int buffer_size) {
  return ReadAll(this, out, nullptr, buffer_size);
}

InputStream::Result InputStream::ReadAllTo(std::vector<unsigned char>* out,
                                           std::function<void(int)> progress,
                                           unsigned int buffer_size) {
  return ReadAll(this, out, progress, buffer_size);
}

InputStream::Result InputStream::ReadSkipAll() {
  unsigned char scratch[8192];
  for (;;) {
    unsigned int read = 0;
    const Result result = Read(scratch, sizeof(scratch), &read);
    if (result != kData) return result;
  }
}
