// Throughput of the request engine against loopback nginx, side by side with
// the curl tool doing the same transfer:
//   - a download over HTTP and over HTTPS through Read with a 256 KiB buffer,
//   - an upload over HTTP through Write in 256 KiB pieces (nginx drops it),
// each repeated with the engine and curl alternating; the ratio reported is
// the median over the repetitions of engine MB/s / curl MB/s.
// Then how long a stop takes to end a stalled read (scripted server).
//
//   net_bench [--mib N] [--reps N] [--stops N]   (defaults: 1024 MiB, 5, 5)

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "core/net/dispatcher_url.h"
#include "core/net/url_processor_impl.h"
#include "tests/support/engine_setup.h"
#include "tests/support/server_process.h"
#include "tests/support/test_env.h"

namespace {

constexpr unsigned int kBuffer = 256 * 1024;

using Clock = std::chrono::steady_clock;

double SecondsOf(const std::function<bool()>& run, bool* ok) {
  const auto start = Clock::now();
  *ok = run();
  return std::chrono::duration<double>(Clock::now() - start).count();
}

bool Shell(const std::string& command) { return std::system(command.c_str()) == 0; }

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

class Bench {
 public:
  Bench(std::string dir, uint64_t size) : dir_(std::move(dir)), size_(size) {}

  bool EngineGet(const DispatcherUrl& url) {
    auto processor = factory_.CreateUrlProcessor(false);
    processor->Open(nullptr);
    processor->Get(url, false, true, URLProcessor::Range(), false, {});
    std::vector<unsigned char> buffer(kBuffer);
    uint64_t total = 0;
    for (;;) {
      unsigned int read = 0;
      const InputStream::Result status = processor->Read(buffer.data(), kBuffer, &read);
      total += read;
      if (status != InputStream::kData) break;
    }
    return processor->Finish() == URLProcessor::SUCCEEDED && total == size_;
  }

  bool EnginePut(const DispatcherUrl& url, const std::string& file) {
    std::FILE* in = std::fopen(file.c_str(), "rb");
    if (in == nullptr) return false;
    auto processor = factory_.CreateUrlProcessor(false);
    processor->Open(nullptr);
    processor->Put(url, size_, false, {}, nullptr);
    std::vector<char> buffer(kBuffer);
    bool ok = true;
    size_t got;
    while (ok && (got = std::fread(buffer.data(), 1, kBuffer, in)) > 0) {
      ok = processor->Write(std::string_view(buffer.data(), got)) == OutputStream::kAccepted;
    }
    std::fclose(in);
    const URLProcessor::Result result = processor->Finish();
    return ok && (result == URLProcessor::CREATED || result == URLProcessor::NO_CONTENT);
  }

  // Runs |engine| and |curl| alternately; prints and returns the median ratio.
  double Compare(const char* name, const std::function<bool()>& engine,
                 const std::function<bool()>& curl, int reps,
                 const std::function<void()>& between = nullptr) {
    std::vector<double> engine_rates, curl_rates, ratios;
    for (int rep = 0; rep < reps; ++rep) {
      for (int which = 0; which < 2; ++which) {
        // Alternate who goes first, so neither always gets the warmer cache.
        const bool engine_turn = (which == 0) == (rep % 2 == 0);
        if (between) between();
        bool ok = false;
        const double seconds = SecondsOf(engine_turn ? engine : curl, &ok);
        if (!ok) {
          std::fprintf(stderr, "%s: the %s transfer failed\n", name,
                       engine_turn ? "engine" : "curl");
          std::exit(1);
        }
        (engine_turn ? engine_rates : curl_rates).push_back(size_ / seconds / 1e6);
      }
      ratios.push_back(engine_rates.back() / curl_rates.back());
      if (verbose_) {
        std::printf("  %s rep %d: engine %.0f MB/s, curl %.0f MB/s\n", name, rep,
                    engine_rates.back(), curl_rates.back());
      }
    }
    const double ratio = Median(ratios);
    std::printf("%-16s engine %7.0f MB/s   curl %7.0f MB/s   ratio %.3f  (median of %d)\n", name,
                Median(engine_rates), Median(curl_rates), ratio, reps);
    std::fflush(stdout);
    return ratio;
  }

 private:
  std::string dir_;
  uint64_t size_;
 public:
  bool verbose_ = getenv("NET_BENCH_VERBOSE") != nullptr;
 private:
  URLProcessorFactoryImpl factory_{"korvo-bench", "bench"};
};

// Seconds from Stop() on another thread to Read returning, for a read that
// waits on a server that never answers.
std::vector<double> StopLatencies(int count) {
  testing_env::ServerProcess server(testing_env::ScriptedHttpServerCommand());
  std::vector<double> latencies;
  if (!server.ok()) return latencies;
  URLProcessorFactoryImpl factory("korvo-bench", "bench");
  for (int i = 0; i < count; ++i) {
    auto processor = factory.CreateUrlProcessor(false);
    processor->Open(nullptr);
    processor->SetTimeout(600);
    processor->Get(DispatcherUrl::FromString(server.Url("/stall")), false, true,
                   URLProcessor::Range(), false, {});
    Clock::time_point stopped_at;
    // Stops at different points of the two-second wait.
    const auto delay = std::chrono::milliseconds(700 + 450 * i);
    std::thread stopper([&] {
      std::this_thread::sleep_for(delay);
      stopped_at = Clock::now();
      processor->Stop();
    });
    unsigned char buffer[256];
    unsigned int read = 0;
    while (processor->Read(buffer, sizeof(buffer), &read) == InputStream::kData) {
    }
    const auto returned = Clock::now();
    stopper.join();
    latencies.push_back(std::chrono::duration<double>(returned - stopped_at).count());
    processor->Finish();
  }
  return latencies;
}

}  // namespace

int main(int argc, char** argv) {
  uint64_t mib = 1024;
  int reps = 5;
  int stops = 5;
  for (int i = 1; i + 1 < argc; i += 2) {
    if (std::strcmp(argv[i], "--mib") == 0) mib = std::strtoull(argv[i + 1], nullptr, 10);
    if (std::strcmp(argv[i], "--reps") == 0) reps = std::atoi(argv[i + 1]);
    if (std::strcmp(argv[i], "--stops") == 0) stops = std::atoi(argv[i + 1]);
  }
  if (mib == 0 || reps <= 0) return 2;
  const uint64_t size = mib << 20;

  // nginx's files live in memory (/dev/shm when there is one), so neither
  // side measures the disk.
  const char* base = access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
  char templ[64];
  std::snprintf(templ, sizeof(templ), "%s/korvo-net-bench-XXXXXX", base);
  if (mkdtemp(templ) == nullptr) return 1;
  const std::string dir = templ;
  int status = 0;
  {
    testing_env::ServerProcess nginx(testing_env::RealServerCommand("nginx", dir));
    if (!nginx.ok()) {
      std::fprintf(stderr, "nginx did not start\n");
      return 1;
    }
    const std::string big = dir + "/www/files/big.bin";
    const std::string source = dir + "/source.bin";
    if (!Shell("head -c " + std::to_string(size) + " /dev/urandom > '" + big + "'") ||
        !Shell("cp '" + big + "' '" + source + "'")) {
      return 1;
    }
    if (!testing_env::OpenEngineWithoutProxy()) return 1;
    URLProcessorImpl::AddTrustedRootCertificates(testing_env::ReadFile(dir + "/ca.pem"));

    const std::string http = "http://127.0.0.1:" + std::to_string(nginx.port(0));
    const std::string https = "https://localhost:" + std::to_string(nginx.port(1));
    const std::string curl = "curl -sS --fail --noproxy '*' ";
    Bench bench(dir, size);
    std::printf("%llu MiB per transfer, 256 KiB buffers\n",
                static_cast<unsigned long long>(mib));
    bench.Compare(
        "GET http", [&] { return bench.EngineGet(DispatcherUrl::FromString(http + "/files/big.bin")); },
        [&] { return Shell(curl + "-o /dev/null '" + http + "/files/big.bin'"); }, reps);
    bench.Compare(
        "GET https",
        [&] { return bench.EngineGet(DispatcherUrl::FromString(https + "/files/big.bin")); },
        [&] {
          return Shell(curl + "--cacert '" + dir + "/ca.pem' -o /dev/null '" + https +
                       "/files/big.bin'");
        },
        reps);
    // nginx reads and drops the body: the disk behind a DAV PUT would
    // measure the file system rather than the transfer.
    bench.Compare(
        "PUT http",
        [&] { return bench.EnginePut(DispatcherUrl::FromString(http + "/sink"), source); },
        [&] { return Shell(curl + "-o /dev/null -T '" + source + "' '" + http + "/sink'"); },
        reps);
    std::remove(big.c_str());
    std::remove(source.c_str());
  }
  Shell("rm -rf '" + dir + "'");

  if (stops > 0) {
    const std::vector<double> latencies = StopLatencies(stops);
    if (latencies.empty()) {
      std::fprintf(stderr, "the scripted server did not start\n");
      return 1;
    }
    std::printf("stop during a stalled read: ");
    for (double latency : latencies) std::printf("%.3f s  ", latency);
    std::printf("(max %.3f s)\n", *std::max_element(latencies.begin(), latencies.end()));
  }
  URLProcessor::GlobalClose();
  return status;
}
