#include "core/infra/log_file_reader.h"

#include <bzlib.h>

#include "core/infra/log_file_writer.h"

namespace {

// Decompresses one record that must hold exactly one bzip2 stream of at most
// |limit| bytes of text.
bool Decompress(std::string_view data, size_t limit, std::string* text, std::string* reason) {
  bz_stream stream = {};
  if (BZ2_bzDecompressInit(&stream, 0, 0) != BZ_OK) {
    *reason = "cannot start bzip2 decompression";
    return false;
  }
  stream.next_in = const_cast<char*>(data.data());
  stream.avail_in = static_cast<unsigned int>(data.size());
  std::string out;
  char buffer[64 * 1024];
  int rc;
  do {
    stream.next_out = buffer;
    stream.avail_out = sizeof(buffer);
    rc = BZ2_bzDecompress(&stream);
    const size_t produced = sizeof(buffer) - stream.avail_out;
    if (produced > limit - out.size()) {
      BZ2_bzDecompressEnd(&stream);
      *reason = "record text over " + std::to_string(limit) + " bytes";
      return false;
    }
    out.append(buffer, produced);
  } while (rc == BZ_OK && (stream.avail_in > 0 || stream.avail_out == 0));
  const unsigned int left = stream.avail_in;
  BZ2_bzDecompressEnd(&stream);
  if (rc != BZ_STREAM_END) {
    *reason = rc == BZ_OK ? "truncated bzip2 stream"
                          : "corrupt bzip2 data (error " + std::to_string(rc) + ")";
    return false;
  }
  if (left != 0) {
    *reason = std::to_string(left) + " bytes after the end of the bzip2 stream";
    return false;
  }
  text->append(out);
  return true;
}

}  // namespace

bool ReadLogFile(std::string_view file, std::string* text,
                 std::vector<DamagedLogRecord>* damaged, size_t record_limit) {
  const std::string_view marker(LogFileWriter::kRecordMarker,
                                LogFileWriter::kRecordMarkerSize);
  bool ok = true;
  size_t pos = file.find(marker);
  if (pos != 0) {
    const size_t end = pos == std::string_view::npos ? file.size() : pos;
    if (end > 0) {
      damaged->push_back({0, "data before the first record marker"});
      ok = false;
    }
  }
  while (pos != std::string_view::npos) {
    const size_t start = pos + marker.size();
    const size_t next = file.find(marker, start);
    const size_t end = next == std::string_view::npos ? file.size() : next;
    if (end > start) {
      std::string reason;
      if (!Decompress(file.substr(start, end - start), record_limit, text, &reason)) {
        damaged->push_back({start, reason});
        ok = false;
      }
    }
    pos = next;
  }
  return ok;
}
