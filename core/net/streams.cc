#include "core/net/streams.h"

#include <algorithm>
#include <cstdint>
#include <exception>

#include "core/infra/logger.h"

namespace {

// The size to grow |out| to when it is full: geometric in what has arrived,
// at least one buffer, and at most one byte past the limit (the byte that
// shows the stream goes on).
size_t NextSize(size_t start, size_t used, size_t limit, unsigned int buffer_size) {
  const size_t got = used - start;
  const size_t step = std::max<size_t>(got, buffer_size) / 3 * 5;
  const size_t left = limit - std::min(got, limit);
  const size_t cap = left == SIZE_MAX ? left : left + 1;
  return used + std::max<size_t>(1, std::min(step, cap));
}

// Grows |out| before each read, reads into its tail and trims it to what was
// read. Container is std::string or std::vector<unsigned char>.
template <class Container>
InputStream::Result ReadAll(InputStream* stream, Container* out,
                            const std::function<void(int)>& progress, unsigned int buffer_size,
                            size_t limit) {
  if (buffer_size < 2) {
    KLOG(Fatal) << "invalid buffer_size specified: " << buffer_size;
    return InputStream::kFailed;
  }
  const size_t start = out->size();
  size_t used = start;  // |out| beyond |used| is room for the next read
  int last_permille = -1;
  try {
    for (;;) {
      if (out->size() == used) out->resize(NextSize(start, used, limit, buffer_size));
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
      // The announced length only refuses early and scales the progress: a
      // peer's claim never decides how much is allocated.
      const int64_t length = stream->InputLength();
      if (used - start > limit || (length > 0 && static_cast<uint64_t>(length) > limit)) {
        KLOG(Fail) << "Refused an answer over " << limit << " bytes (announced " << length
                   << ", read " << used - start << ").";
        out->resize(start);
        return InputStream::kTooLarge;
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
  } catch (const std::exception& e) {
    // Out of memory below the limit: a failed read, not an exception for
    // the caller.
    KLOG(Fail) << "Failed to hold an answer of " << used - start << " bytes: " << e.what();
    out->resize(std::min(out->size(), start));
    return InputStream::kFailed;
  }
}

}  // namespace

InputStream::Result InputStream::ReadAllTo(std::string* out, unsigned int buffer_size,
                                           size_t limit) {
  return ReadAll(this, out, nullptr, buffer_size, limit);
}

InputStream::Result InputStream::ReadAllTo(std::vector<unsigned char>* out,
                                           unsigned int buffer_size, size_t limit) {
  return ReadAll(this, out, nullptr, buffer_size, limit);
}

InputStream::Result InputStream::ReadAllTo(std::vector<unsigned char>* out,
                                           std::function<void(int)> progress,
                                           unsigned int buffer_size, size_t limit) {
  return ReadAll(this, out, progress, buffer_size, limit);
}

InputStream::Result InputStream::ReadSkipAll() {
  unsigned char scratch[8192];
  for (;;) {
    unsigned int read = 0;
    const Result result = Read(scratch, sizeof(scratch), &read);
    if (result != kData) return result;
  }
}
