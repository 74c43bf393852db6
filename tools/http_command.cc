// korvo http: one exchange through the library's request engine, with the
// library's own network settings, to check that they reach an endpoint.

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <charconv>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "core/infra/logger.h"
#include "core/net/dispatcher_url.h"
#include "core/net/network_settings.h"
#include "core/net/url_processor_impl.h"
#include "tools/commands.h"

namespace korvo {
namespace {

constexpr unsigned int kBufferSize = 256 * 1024;

int Usage(const std::string& why) {
  if (!why.empty()) std::fprintf(stderr, "korvo: %s\n", why.c_str());
  std::fprintf(stderr,
               "usage: korvo http get URL [--range BEGIN-END] [-o FILE] [--timeout S] [OPTIONS]\n"
               "       korvo http put URL FILE [--timeout S] [OPTIONS]\n"
               "OPTIONS: --proxy-mode none|system|manual  --proxy-type http|socks4|socks5\n"
               "         --proxy HOST:PORT  --proxy-user U  --proxy-password P\n"
               "         --ca-file PEM  --insecure\n");
  return 2;
}

struct Options {
  std::string verb;
  std::string url;
  std::string file;  // the body to put
  std::string output;
  URLProcessor::Range range;
  int timeout = 0;  // 0: the engine's default
  NetworkSettings settings;
  std::string ca_file;
  bool insecure = false;
};

// The whole text as a decimal number no larger than |max|.
bool ParseUnsigned(const std::string& text, uint64_t max, uint64_t* value) {
  uint64_t result = 0;
  const char* end = text.data() + text.size();
  const auto [ptr, error] = std::from_chars(text.data(), end, result);
  if (error != std::errc() || ptr != end || result > max) return false;
  *value = result;
  return true;
}

// Fills |options|; on a usage error returns its text.
std::string Parse(const std::vector<std::string>& args, Options* options) {
  if (args.empty()) return "http needs a verb";
  options->verb = args[0];
  if (options->verb != "get" && options->verb != "put") {
    return "unknown http verb '" + options->verb + "'";
  }
  options->settings.mode = NetworkSettings::kSystemProxy;
  bool proxy_given = false;
  std::vector<std::string> positional;
  for (size_t i = 1; i < args.size(); ++i) {
    const std::string& arg = args[i];
    const bool takes_value = arg == "--range" || arg == "-o" || arg == "--timeout" ||
                             arg == "--proxy-mode" || arg == "--proxy-type" ||
                             arg == "--proxy" || arg == "--proxy-user" ||
                             arg == "--proxy-password" || arg == "--ca-file";
    if (arg == "--insecure") {
      options->insecure = true;
      continue;
    }
    if (!takes_value) {
      if (arg.size() > 1 && arg[0] == '-') return "unknown option '" + arg + "'";
      positional.push_back(arg);
      continue;
    }
    if (i + 1 >= args.size()) return arg + " needs a value";
    const std::string& value = args[++i];
    if (arg == "--range") {
      if (options->verb != "get") return "--range is for get";
      const size_t dash = value.find('-');
      uint64_t begin = 0;
      uint64_t end = 0;
      if (dash == std::string::npos ||
          !ParseUnsigned(value.substr(0, dash), URLProcessor::Range::kInvalidBound - 1, &begin) ||
          !ParseUnsigned(value.substr(dash + 1), URLProcessor::Range::kInvalidBound - 1, &end) ||
          end < begin) {
        return "bad range '" + value + "' (BEGIN-END, inclusive, END >= BEGIN)";
      }
      options->range = URLProcessor::Range(begin, end);
    } else if (arg == "-o") {
      if (options->verb != "get") return "-o is for get";
      options->output = value;
    } else if (arg == "--timeout") {
      uint64_t seconds = 0;
      if (!ParseUnsigned(value, 86400, &seconds) || seconds == 0) {
        return "bad timeout '" + value + "' (1..86400 seconds)";
      }
      options->timeout = static_cast<int>(seconds);
    } else if (arg == "--proxy-mode") {
      if (value == "none") {
        options->settings.mode = NetworkSettings::kNoProxy;
      } else if (value == "system") {
        options->settings.mode = NetworkSettings::kSystemProxy;
      } else if (value == "manual") {
        options->settings.mode = NetworkSettings::kManualProxy;
      } else {
        return "bad proxy mode '" + value + "' (none, system or manual)";
      }
    } else if (arg == "--proxy-type") {
      if (value == "http") {
        options->settings.type = NetworkSettings::kHttp;
      } else if (value == "socks4") {
        options->settings.type = NetworkSettings::kSocks4;
      } else if (value == "socks5") {
        options->settings.type = NetworkSettings::kSocks5;
      } else {
        return "bad proxy type '" + value + "' (http, socks4 or socks5)";
      }
    } else if (arg == "--proxy") {
      const size_t colon = value.rfind(':');
      uint64_t port = 0;
      if (colon == std::string::npos || colon == 0 ||
          !ParseUnsigned(value.substr(colon + 1), 65535, &port) || port == 0) {
        return "bad proxy '" + value + "' (HOST:PORT)";
      }
      options->settings.host = value.substr(0, colon);
      options->settings.port = static_cast<int>(port);
      proxy_given = true;
    } else if (arg == "--proxy-user") {
      options->settings.user = value;
      options->settings.auth = true;
    } else if (arg == "--proxy-password") {
      options->settings.password = value;
      options->settings.auth = true;
    } else if (arg == "--ca-file") {
      options->ca_file = value;
    }
  }
  const size_t wanted = options->verb == "get" ? 1 : 2;
  if (positional.size() != wanted) {
    return options->verb == "get" ? "http get takes one URL" : "http put takes a URL and a FILE";
  }
  options->url = positional[0];
  if (options->verb == "put") options->file = positional[1];
  if (options->url.compare(0, 7, "http://") != 0 && options->url.compare(0, 8, "https://") != 0) {
    return "the URL must start with http:// or https://";
  }
  if (options->settings.mode == NetworkSettings::kManualProxy) {
    switch (options->settings.Validate()) {
      case NetworkSettings::kValid:
        break;
      case NetworkSettings::kHostEmpty:
        return "--proxy-mode manual needs --proxy HOST:PORT";
      case NetworkSettings::kPortInvalid:
        return "bad proxy port";
      case NetworkSettings::kCredentialsMissing:
        return "proxy credentials need both --proxy-user and --proxy-password";
    }
  } else if (proxy_given) {
    return "--proxy is for --proxy-mode manual";
  }
  return std::string();
}

// SIGINT and SIGTERM stop the exchange, which then ends within a moment and
// reports STOPPED. The handler only writes a byte to a pipe; a watcher thread
// makes the Stop() call, which is not safe inside a signal handler.
int g_signal_pipe[2] = {-1, -1};

void OnSignal(int) {
  const int saved = errno;
  const char byte = 's';
  [[maybe_unused]] ssize_t ignored = write(g_signal_pipe[1], &byte, 1);
  errno = saved;
}

class StopOnSignal {
 public:
  explicit StopOnSignal(URLProcessor* processor) {
    // The write end never blocks a handler; both ends stay open for the rest
    // of the run, so that a handler still running on another thread after
    // the restore below never writes to a reused descriptor.
    if (pipe2(g_signal_pipe, O_CLOEXEC) != 0) return;
    fcntl(g_signal_pipe[1], F_SETFL, O_NONBLOCK);
    watcher_ = std::thread([processor] {
      for (;;) {
        char byte = 0;
        const ssize_t got = read(g_signal_pipe[0], &byte, 1);
        if (got < 0 && errno == EINTR) continue;
        if (got != 1 || byte == 'q') break;
        processor->Stop();
      }
    });
    struct sigaction action = {};
    action.sa_handler = &OnSignal;
    action.sa_flags = SA_RESTART;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, &old_int_);
    sigaction(SIGTERM, &action, &old_term_);
  }
  ~StopOnSignal() {
    if (!watcher_.joinable()) return;
    sigaction(SIGINT, &old_int_, nullptr);
    sigaction(SIGTERM, &old_term_, nullptr);
    const char byte = 'q';
    [[maybe_unused]] ssize_t ignored = write(g_signal_pipe[1], &byte, 1);
    watcher_.join();
  }

 private:
  std::thread watcher_;
  struct sigaction old_int_ = {};
  struct sigaction old_term_ = {};
};

bool IsSuccess(URLProcessor::Result result) {
  return result == URLProcessor::SUCCEEDED || result == URLProcessor::CREATED ||
         result == URLProcessor::NO_CONTENT;
}

int Report(URLProcessor* processor, URLProcessor::Result result) {
  std::fprintf(stderr, "HTTP %d %s\n", processor->LastResponseCode(),
               url_processor::ResultName(result));
  return IsSuccess(result) ? 0 : 1;
}

// Opens where the body goes. A regular file (or a new one) is written as a
// fresh temporary file next to it, created exclusively with the target's
// permissions, which replaces it only when the exchange succeeded: a failed
// download never clobbers what was there. Anything else (a symbolic link, a
// device, a pipe) is written in place.
std::FILE* OpenOutput(const std::string& output, std::string* temporary) {
  struct stat info = {};
  const bool exists = lstat(output.c_str(), &info) == 0;
  if (exists && !S_ISREG(info.st_mode)) return std::fopen(output.c_str(), "wb");
  mode_t mode = 0;
  if (exists) {
    mode = info.st_mode & 07777;
  } else {
    const mode_t mask = umask(0);
    umask(mask);
    mode = 0666 & ~mask;
  }
  std::string name = output + ".korvo-part.XXXXXX";
  const int fd = mkstemp(name.data());
  if (fd < 0) return nullptr;
  std::FILE* file = fchmod(fd, mode) == 0 ? fdopen(fd, "wb") : nullptr;
  if (file == nullptr) {
    const int saved = errno;
    close(fd);
    unlink(name.c_str());
    errno = saved;
    return nullptr;
  }
  *temporary = name;
  return file;
}

int RunGet(URLProcessor* processor, const Options& options) {
  std::FILE* out = stdout;
  std::string temporary;
  if (!options.output.empty() && options.output != "-") {
    out = OpenOutput(options.output, &temporary);
    if (out == nullptr) {
      std::fprintf(stderr, "korvo: %s: %s\n", options.output.c_str(), std::strerror(errno));
      return 1;
    }
  }
  processor->Get(DispatcherUrl::FromString(options.url), false, !options.insecure, options.range,
                 true, {});
  std::vector<unsigned char> buffer(kBufferSize);
  std::string write_error;
  for (;;) {
    unsigned int read = 0;
    const InputStream::Result status = processor->Read(buffer.data(), kBufferSize, &read);
    if (read > 0 && write_error.empty() && std::fwrite(buffer.data(), 1, read, out) != read) {
      write_error = std::strerror(errno);
      processor->Stop();
    }
    if (status != InputStream::kData) break;
  }
  const URLProcessor::Result result = processor->Finish();
  if (std::fflush(out) != 0 && write_error.empty()) write_error = std::strerror(errno);
  const bool out_is_stdout = out == stdout;
  if (!out_is_stdout && std::fclose(out) != 0 && write_error.empty()) {
    write_error = std::strerror(errno);
  }
  int status = Report(processor, result);
  if (!write_error.empty()) {
    std::fprintf(stderr, "korvo: cannot write %s: %s\n",
                 out_is_stdout ? "standard output" : options.output.c_str(),
                 write_error.c_str());
    KLOG(Fail) << "http get cannot write the body: " << write_error;
    status = 1;
  }
  if (!temporary.empty()) {
    if (status == 0 && std::rename(temporary.c_str(), options.output.c_str()) != 0) {
      std::fprintf(stderr, "korvo: %s: %s\n", options.output.c_str(), std::strerror(errno));
      status = 1;
    }
    if (status != 0) std::remove(temporary.c_str());
  }
  return status;
}

int RunPut(URLProcessor* processor, const Options& options) {
  std::FILE* in = std::fopen(options.file.c_str(), "rb");
  struct stat info = {};
  if (in == nullptr || fstat(fileno(in), &info) != 0 || !S_ISREG(info.st_mode)) {
    std::fprintf(stderr, "korvo: %s: %s\n", options.file.c_str(),
                 in == nullptr ? std::strerror(errno) : "not a regular file");
    if (in != nullptr) std::fclose(in);
    return 1;
  }
  const uint64_t size = static_cast<uint64_t>(info.st_size);
  std::string reply;
  processor->Put(DispatcherUrl::FromString(options.url), size, false, {}, &reply);
  std::vector<char> buffer(kBufferSize);
  uint64_t sent = 0;
  std::string read_error;
  while (sent < size) {
    const size_t want = static_cast<size_t>(std::min<uint64_t>(kBufferSize, size - sent));
    const size_t got = std::fread(buffer.data(), 1, want, in);
    if (got == 0) {
      // The file shrank or cannot be read: the exchange must not complete
      // with a short body.
      read_error = std::ferror(in) ? std::strerror(errno) : "the file shrank while being sent";
      processor->Stop();
      break;
    }
    if (processor->Write(std::string_view(buffer.data(), got)) != OutputStream::kAccepted) break;
    sent += got;
  }
  std::fclose(in);
  const URLProcessor::Result result = processor->Finish();
  if (!reply.empty()) {
    std::fwrite(reply.data(), 1, reply.size(), stdout);
    std::fflush(stdout);
  }
  int status = Report(processor, result);
  if (!read_error.empty()) {
    std::fprintf(stderr, "korvo: %s: %s\n", options.file.c_str(), read_error.c_str());
    KLOG(Fail) << "http put cannot read the body: " << read_error;
    status = 1;
  }
  return status;
}

}  // namespace

int RunHttp(const std::vector<std::string>& args) {
  Options options;
  const std::string error = Parse(args, &options);
  if (!error.empty()) return Usage(error);

  if (!URLProcessor::GlobalOpen()) {
    std::fprintf(stderr, "korvo: the request engine cannot start\n");
    return 1;
  }
  URLProcessorImpl::SetSettings(options.settings);
  if (options.insecure) URLProcessorImpl::SetSslVerifyActive(false);
  if (!options.ca_file.empty()) {
    std::FILE* file = std::fopen(options.ca_file.c_str(), "rb");
    if (file == nullptr) {
      std::fprintf(stderr, "korvo: %s: %s\n", options.ca_file.c_str(), std::strerror(errno));
      URLProcessor::GlobalClose();
      return 2;
    }
    std::string pem;
    char piece[4096];
    size_t got = 0;
    while ((got = std::fread(piece, 1, sizeof(piece), file)) > 0) pem.append(piece, got);
    std::fclose(file);
    if (URLProcessorImpl::AddTrustedRootCertificates(pem) == 0) {
      std::fprintf(stderr, "korvo: %s: no PEM certificate in it\n", options.ca_file.c_str());
      URLProcessor::GlobalClose();
      return 2;
    }
  }

  int status = 1;
  {
    URLProcessorFactoryImpl factory("korvo", "");
    std::shared_ptr<URLProcessor> processor = factory.CreateUrlProcessor(false);
    processor->Open(nullptr);
    if (options.timeout > 0) processor->SetTimeout(options.timeout);
    StopOnSignal stop_on_signal(processor.get());
    status = options.verb == "get" ? RunGet(processor.get(), options)
                                   : RunPut(processor.get(), options);
    processor->Close();
  }
  URLProcessor::GlobalClose();
  return status;
}

}  // namespace korvo
