// Benchmark entry point: a QCoreApplication in a scratch home, so that log
// files land in a temporary folder.

#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <QCoreApplication>
#include <QDir>
#include <QStandardPaths>

int main(int argc, char** argv) {
  char home[] = "/tmp/korvo-bench-XXXXXX";
  if (mkdtemp(home) == nullptr) return 1;
  setenv("HOME", home, 1);
  unsetenv("XDG_DATA_HOME");
  QStandardPaths::setTestModeEnabled(true);
  QCoreApplication app(argc, argv);
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  QDir(home).removeRecursively();
  return 0;
}
