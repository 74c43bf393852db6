#ifndef KORVO_CORE_NET_STREAMS_H_
#define KORVO_CORE_NET_STREAMS_H_

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "core/export.h"
#include "core/infra/stoppable.h"

// A source of bytes: a response body, a file, a buffer.
class KORVO_EXPORT InputStream : public virtual Stoppable {
 public:
  enum Result : int32_t {
    kFailed = 0,     // nothing more will come
    kData = 1,       // |*read| bytes delivered; more may follow
    kStopped = 2,    // a stop request was honoured
    kEnd = 3,        // the end (also after a transfer error: Finish tells)
    kTooLarge = 4,   // ReadAllTo only: more than its limit; logged, rest unread
  };

  // What ReadAllTo holds in memory at most unless told otherwise. Whole
  // answers read this way are metadata; file contents go through a file
  // stream, never through ReadAllTo.
  static constexpr size_t kDefaultReadLimit = size_t{64} << 20;

  virtual Result Read(unsigned char* buffer, unsigned int size, unsigned int* read) = 0;
  // The whole length when known, else -1.
  virtual int64_t InputLength() const = 0;

  // Append the whole stream to |out| and return the first result other than
  // kData. A |buffer_size| below 2 is refused (logged, kFailed). A stream
  // that announces or delivers more than |limit| bytes gives kTooLarge
  // (logged once here) and appends nothing. The buffer grows with the bytes
  // that arrive, never with the length the peer announces.
  Result ReadAllTo(std::string* out, unsigned int buffer_size,
                   size_t limit = kDefaultReadLimit);
  Result ReadAllTo(std::vector<unsigned char>* out, unsigned int buffer_size,
                   size_t limit = kDefaultReadLimit);
  // |progress| receives per-mille values 0..1000 when the length is known,
  // only when the value changes.
  Result ReadAllTo(std::vector<unsigned char>* out, std::function<void(int)> progress,
                   unsigned int buffer_size, size_t limit = kDefaultReadLimit);
  // Reads and drops everything.
  Result ReadSkipAll();
};

// A sink of bytes: a request body, a file.
class KORVO_EXPORT OutputStream : public virtual Stoppable {
 public:
  // The numbers of InputStream::Result: 1 accepted, 2 stopped, 3 over.
  enum Result : int32_t { kFailed = 0, kAccepted = 1, kStopped = 2, kOver = 3 };

  virtual Result Write(std::string_view data) = 0;
};

#endif  // KORVO_CORE_NET_STREAMS_H_
