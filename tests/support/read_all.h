#ifndef KORVO_TESTS_SUPPORT_READ_ALL_H_
#define KORVO_TESTS_SUPPORT_READ_ALL_H_

#include <string>
#include <vector>

#include "core/net/streams.h"

namespace testing_env {

// Reads |stream| to its end with a buffer of |buffer| bytes, appending to
// |out|; returns the first result other than "data".
inline InputStream::Result ReadAll(InputStream* stream, std::string* out,
                                   size_t buffer = 256 * 1024) {
  std::vector<unsigned char> chunk(buffer);
  for (;;) {
    unsigned int read = 0;
    const InputStream::Result result =
        stream->Read(chunk.data(), static_cast<unsigned int>(chunk.size()), &read);
    out->append(reinterpret_cast<char*>(chunk.data()), read);
    if (result != InputStream::kData) return result;
  }
}

}  // namespace testing_env

#endif  // KORVO_TESTS_SUPPORT_READ_ALL_H_
