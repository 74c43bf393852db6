#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "core/infra/log_file_reader.h"
#include "core/infra/logger.h"
#include "tools/commands.h"

namespace korvo {

int RunLogcat(const std::vector<std::string>& args) {
  if (args.empty()) {
    std::fprintf(stderr, "usage: korvo logcat FILE...\n");
    return 2;
  }
  int status = 0;
  for (const std::string& name : args) {
    std::ifstream in(name, std::ios::binary);
    std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (!in.good() && !in.eof()) {
      std::fprintf(stderr, "korvo: %s: cannot read the file\n", name.c_str());
      KLOG(Fail) << "logcat cannot read " << name;
      status = 1;
      continue;
    }
    std::string text;
    std::vector<DamagedLogRecord> damaged;
    ReadLogFile(bytes, &text, &damaged);
    std::fwrite(text.data(), 1, text.size(), stdout);
    for (const DamagedLogRecord& record : damaged) {
      std::fprintf(stderr, "korvo: %s: damaged record at offset %zu: %s\n",
                   name.c_str(), record.offset, record.reason.c_str());
      KLOG(Fail) << "logcat: damaged record in " << name << " at offset "
                 << record.offset << ": " << record.reason;
      status = 1;
    }
  }
  std::fflush(stdout);
  return status;
}

}  // namespace korvo
