#ifndef KORVO_TESTS_SUPPORT_CRASH_REPORT_H_
#define KORVO_TESTS_SUPPORT_CRASH_REPORT_H_

namespace testing_env {

// On a fatal signal (segmentation fault, bus error, abort, illegal
// instruction, arithmetic fault) prints the stacks of every thread on
// standard error, through gdb when it is installed and the crashing thread's
// own frames otherwise, then dies of the same signal. A test run that crashes
// on a build machine so says where. Does nothing under a sanitizer, which
// reports crashes itself.
void InstallCrashReport();

}  // namespace testing_env

#endif  // KORVO_TESTS_SUPPORT_CRASH_REPORT_H_
