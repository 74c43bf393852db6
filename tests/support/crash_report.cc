#include "tests/support/crash_report.h"

#include <execinfo.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <initializer_list>

namespace testing_env {

namespace {

void WriteText(const char* text) {
  const ssize_t ignored = write(STDERR_FILENO, text, std::strlen(text));
  (void)ignored;
}

// Decimal form of |value| into |buffer| (at least 21 bytes); only
// async-signal-safe work here.
const char* Decimal(long value, char* buffer) {
  char* end = buffer + 20;
  *end = '\0';
  char* p = end;
  const bool negative = value < 0;
  unsigned long magnitude = negative ? 0ul - static_cast<unsigned long>(value) : value;
  do {
    *--p = static_cast<char>('0' + magnitude % 10);
    magnitude /= 10;
  } while (magnitude != 0);
  if (negative) *--p = '-';
  return p;
}

// Lets gdb print every thread's stack; false when it could not run.
bool ReportThroughGdb() {
  char pid_buffer[21];
  const char* pid = Decimal(getpid(), pid_buffer);
  prctl(PR_SET_PTRACER, PR_SET_PTRACER_ANY, 0, 0, 0);
  const pid_t child = fork();
  if (child < 0) return false;
  if (child == 0) {
    dup2(STDERR_FILENO, STDOUT_FILENO);
    // Bounded: a gdb that cannot attach must not keep the crash from ending.
    execlp("timeout", "timeout", "60", "gdb", "-batch", "-nx", "-p", pid, "-ex",
           "thread apply all bt", nullptr);
    _exit(127);
  }
  int status = 0;
  while (waitpid(child, &status, 0) < 0) {
    if (errno != EINTR) return false;
  }
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

void OnFatalSignal(int signal_number) {
  char buffer[21];
  WriteText("\n*** fatal signal ");
  WriteText(Decimal(signal_number, buffer));
  WriteText(" in thread ");
  WriteText(Decimal(gettid(), buffer));
  WriteText("\n");
  void* frames[64];
  const int count = backtrace(frames, 64);
  backtrace_symbols_fd(frames, count, STDERR_FILENO);
  WriteText("*** all threads:\n");
  if (!ReportThroughGdb()) WriteText("(gdb could not attach)\n");
  // The handler was reset on entry: the same signal now ends the process.
  raise(signal_number);
}

}  // namespace

void InstallCrashReport() {
#if !defined(__SANITIZE_ADDRESS__) && !defined(__SANITIZE_THREAD__)
  // backtrace() loads libgcc on first use; do that now, not in the handler.
  void* warm_up[1];
  backtrace(warm_up, 1);
  struct sigaction action = {};
  action.sa_handler = &OnFatalSignal;
  action.sa_flags = SA_RESETHAND | SA_NODEFER;
  sigemptyset(&action.sa_mask);
  for (int signal_number : {SIGSEGV, SIGBUS, SIGABRT, SIGILL, SIGFPE}) {
    sigaction(signal_number, &action, nullptr);
  }
#endif
}

}  // namespace testing_env
