// Feeds arbitrary bodies to the dispatcher answer parser. An accepted answer
// holds only http(s) URLs with an address; a refused one is left untouched.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "core/net/dispatcher_client.h"
#include "fuzz/fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz_support::QuietLogger();
  const std::string body(reinterpret_cast<const char*>(data), size);
  VTDispatcherClientImpl::Answer answer;
  answer.ttl = -1;
  const VTDispatcherClient::Result result = VTDispatcherClientImpl::ParseAnswer(body, &answer);
  if (result != VTDispatcherClient::SUCCEEDED) {
    if (result != VTDispatcherClient::FAILED) std::abort();
    if (!answer.services.empty() || answer.has_ttl || answer.ttl != -1) std::abort();
    return 0;
  }
  if (answer.has_ttl && answer.ttl < 0) std::abort();
  for (const auto& [type, url] : answer.services) {
    const std::string& text = url.Url();
    if (text.compare(0, 7, "http://") != 0 && text.compare(0, 8, "https://") != 0) std::abort();
  }
  return 0;
}
