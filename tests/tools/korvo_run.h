#ifndef KORVO_TESTS_TOOLS_KORVO_RUN_H_
#define KORVO_TESTS_TOOLS_KORVO_RUN_H_

#include <string>

namespace testing_env {

struct KorvoRun {
  int status;
  std::string out;
  std::string err;
};

// Runs the korvo program with |args| (already quoted for the shell) and a
// home of its own, so its own log lands there.
KorvoRun Korvo(const std::string& home, const std::string& args);

}  // namespace testing_env

#endif  // KORVO_TESTS_TOOLS_KORVO_RUN_H_
