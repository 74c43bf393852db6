// An application's view of the library: this program includes only the
// public headers (every header that declares KORVO_EXPORT, gathered into
// public_headers.h at configure time) and links only libkorvo_core.so. A
// class or function that lost its KORVO_EXPORT, or a header that needs a
// library korvo_core does not declare as a usage requirement, fails here at
// build time, not in an application.

#include <cstdio>
#include <memory>
#include <string>

#include "public_headers.h"

namespace {

int failures = 0;

void Check(bool ok, const char* what) {
  if (ok) return;
  std::fprintf(stderr, "public API check failed: %s\n", what);
  ++failures;
}

}  // namespace

int main() {
  Check(Platform::Default()->ProcessId() > 0, "platform");
  KLOG(Info) << "public API test";

  Check(unicode::Utf16ToUtf8(unicode::Utf8ToUtf16("\xc3\xbc")) == "\xc3\xbc", "text");

  HashCalculatorVt vt;
  vt.Begin();
  const uint8_t data[] = {'k', 'o', 'r', 'v', 'o'};
  vt.Feed(data, sizeof(data));
  Check(!vt.Finish().ToHexString().empty(), "hash");

  UniqueNodePtr<FolderNode> root = FolderNode::MakeRoot();
  ChildIter<FileNode> where;
  Check(root->CreateFile("a.txt", &where, 5, SomeHash(), 0, 0, false, false), "tree insert");
  size_t files = 0;
  for (const FileNode* file : root->IterFiles()) files += file != nullptr;
  Check(files == 1 && root->FileCount() == 1, "tree iteration");

  Check(URLProcessor::GlobalOpen(), "engine");
  URLProcessorFactoryImpl factory("korvo-public-api", "client");
  std::shared_ptr<URLProcessor> processor = factory.CreateUrlProcessor(false);
  Check(processor != nullptr && processor->Open(nullptr), "processor");
  processor->Close();
  Check(std::string(url_processor::ResultName(URLProcessor::SSL_FAILED)) == "SSL_FAILED",
        "results");

  utils::json::json_tree tree;
  Check(utils::json::Parse("{\"a\":{\"b\":\"c\"}}", &tree) &&
            tree.get<std::string>("a.b") == "c",
        "json");

  NetworkSettings settings;
  Check(settings.Validate() == NetworkSettings::kValid, "network settings");

  Requestor requestor;
  (void)requestor;

  URLProcessor::GlobalClose();
  LoggerWrapper::FinishWriteLogs();
  if (failures == 0) std::printf("public API: ok\n");
  return failures == 0 ? 0 : 1;
}
