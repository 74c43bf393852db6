#include "tests/support/maker_services.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>

#include "core/net/dispatcher_url.h"
#include "core/net/json_xml.h"
#include "core/net/url_processor_impl.h"
#include "tests/support/shared_servers.h"

namespace testing_env {

namespace {

std::vector<std::string> Command() {
  std::vector<std::string> command = {"python3",
                                      KORVO_SOURCE_DIR "/tests/support/maker_services.py"};
  // Inside a run, what the services were sent is kept for its secret check.
  if (!RunDir().empty()) {
    static std::atomic<int> counter{0};
    command.push_back("--dump");
    command.push_back(RunDir() + "/maker/" + std::to_string(getpid()) + "-" +
                      std::to_string(counter.fetch_add(1)) + ".jsonl");
  }
  return command;
}

std::string Quoted(const std::string& text) {
  utils::json::json_tree tree;
  tree.put("x", text);
  const std::string json = utils::json::ToString(tree, false);
  // {"x":"..."} -> "..."
  const size_t begin = json.find(':') + 1;
  return json.substr(begin, json.rfind('}') - begin);
}

}  // namespace

MakerServices::MakerServices() : server_(Command()) {}

std::string MakerServices::Post(const std::string& path, const std::string& body) {
  URLProcessorFactoryImpl factory("korvo-test", "control");
  auto processor = factory.CreateUrlProcessor(false);
  processor->Open(nullptr);
  processor->Post(DispatcherUrl::FromString(Url(path)), body, false, "application/json", {});
  std::string reply;
  processor->ReadAllTo(&reply, 4096);
  EXPECT_EQ(URLProcessor::SUCCEEDED, processor->Finish()) << path;
  return reply;
}

void MakerServices::SetDispatcherAnswer(int status, const std::string& body, double delay) {
  Post("/control/dispatcher", "{\"status\":" + std::to_string(status) + ",\"body\":" +
                                  Quoted(body) + ",\"delay\":" + std::to_string(delay) + "}");
}

void MakerServices::SetDispatcherStall() { Post("/control/dispatcher", "{\"stall\":true}"); }

void MakerServices::SetMetricsMode(const std::string& mode) {
  Post("/control/metrics", "{\"mode\":\"" + mode + "\"}");
}

void MakerServices::Clear() { Post("/control/clear", "{}"); }

std::vector<MakerServices::Request> MakerServices::Requests(const std::string& kind) {
  URLProcessorFactoryImpl factory("korvo-test", "control");
  auto processor = factory.CreateUrlProcessor(false);
  processor->Open(nullptr);
  processor->Get(DispatcherUrl::FromString(Url("/control/requests?kind=" + kind)), false, true,
                 URLProcessor::Range(), false, {});
  utils::json::json_tree tree;
  std::string raw;
  EXPECT_TRUE(utils::json::ReadAndParse(processor.get(), &tree, &raw));
  EXPECT_EQ(URLProcessor::SUCCEEDED, processor->Finish());
  std::vector<Request> requests;
  for (const auto& [key, item] : tree) {
    Request request;
    request.path = item.get<std::string>("path", "");
    request.body = item.get<std::string>("body", "");
    request.content_type = item.get<std::string>("content_type", "");
    request.time = item.get<double>("time", 0);
    requests.push_back(request);
  }
  return requests;
}

}  // namespace testing_env
