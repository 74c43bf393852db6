#include <benchmark/benchmark.h>
#include <spdlog/sinks/basic_file_sink.h>
#include <spdlog/spdlog.h>
#include <stdlib.h>

#include <string>

#include "core/infra/logger.h"

namespace {

const std::string kLongText(260, 'x');

void BM_KorvoInfoShort(benchmark::State& state) {
  int64_t i = 0;
  for (auto _ : state) {
    KLOG(Info) << "Uploaded part " << i++ << " of upload";
  }
}
BENCHMARK(BM_KorvoInfoShort)->Threads(1)->Threads(2)->UseRealTime();

void BM_KorvoInfo300(benchmark::State& state) {
  int64_t i = 0;
  for (auto _ : state) {
    KLOG(Info) << "Request " << i++ << ": " << kLongText;
  }
}
BENCHMARK(BM_KorvoInfo300)->Threads(1)->Threads(2)->UseRealTime();

// spdlog's synchronous, thread-safe file logger with the same line layout:
// level, time stamp, file:line, thread id, message.
spdlog::logger& Spdlog() {
  static std::shared_ptr<spdlog::logger> logger = [] {
    auto created = spdlog::basic_logger_mt(
        "bench", std::string(getenv("HOME")) + "/spdlog.log", true);
    created->set_pattern("[%L] [%H:%M:%S %d.%m] %s:%# T%t %v");
    return created;
  }();
  return *logger;
}

void BM_SpdlogInfoShort(benchmark::State& state) {
  spdlog::logger& logger = Spdlog();
  int64_t i = 0;
  for (auto _ : state) {
    SPDLOG_LOGGER_INFO(&logger, "Uploaded part {} of upload", i++);
  }
}
BENCHMARK(BM_SpdlogInfoShort)->Threads(1)->Threads(2)->UseRealTime();

void BM_SpdlogInfo300(benchmark::State& state) {
  spdlog::logger& logger = Spdlog();
  int64_t i = 0;
  for (auto _ : state) {
    SPDLOG_LOGGER_INFO(&logger, "Request {}: {}", i++, kLongText);
  }
}
BENCHMARK(BM_SpdlogInfo300)->Threads(1)->Threads(2)->UseRealTime();

}  // namespace

namespace {

// Where the time of a statement goes.
void BM_StreamOnly(benchmark::State& state) {
  int64_t i = 0;
  for (auto _ : state) {
    FastOStringStream<216> stream;
    stream << "logger_bench.cc" << ':' << 42 << " T" << uint64_t{12345} << ' '
           << "Uploaded part " << i++ << " of upload" << '\n';
    benchmark::DoNotOptimize(stream.buffer().size());
  }
}
BENCHMARK(BM_StreamOnly);

void BM_WriteOnly(benchmark::State& state) {
  StackCharBuf<216> text;
  const std::string line = "logger_bench.cc:42 T12345 Uploaded part 1234 of upload\n";
  text.Write(line.data(), line.size());
  for (auto _ : state) LoggerWrapper::WriteToLogFile(LoggerWrapper::Info, text);
}
BENCHMARK(BM_WriteOnly);

}  // namespace
