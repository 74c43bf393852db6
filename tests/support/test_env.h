#ifndef KORVO_TESTS_SUPPORT_TEST_ENV_H_
#define KORVO_TESTS_SUPPORT_TEST_ENV_H_

#include <string>

namespace testing_env {

// The temporary home the whole test process writes under: below the run
// directory inside a ctest run (kept for the log check at the end of the
// run), else in /tmp and removed at exit.
const std::string& TempHome();
bool TempHomeOutlivesTheProcess();

// A fresh directory under the temporary home.
std::string MakeTempDir(const std::string& prefix);

std::string ReadFile(const std::string& path);
void WriteFile(const std::string& path, const std::string& bytes);

// Runs a shell command; stores what it printed on standard output.
// Returns the exit status, or -1 when it could not run.
int RunCommand(const std::string& command, std::string* output);

}  // namespace testing_env

#endif  // KORVO_TESTS_SUPPORT_TEST_ENV_H_
