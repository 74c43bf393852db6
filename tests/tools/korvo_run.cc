#include "tests/tools/korvo_run.h"

#include "tests/support/test_env.h"

namespace testing_env {

KorvoRun Korvo(const std::string& home, const std::string& args) {
  static const std::string kKorvo = KORVO_BINARY_DIR "/tools/korvo";
  KorvoRun run;
  const std::string err_file = home + "/stderr.txt";
  run.status = RunCommand("HOME='" + home + "' XDG_DATA_HOME= XDG_CONFIG_HOME= '" + kKorvo + "' " + args +
                              " 2>'" + err_file + "'",
                          &run.out);
  run.err = ReadFile(err_file);
  return run;
}

}  // namespace testing_env
