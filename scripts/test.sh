#!/usr/bin/env bash
# Builds everything and runs the unit tests: a plain build, then the tests
# under AddressSanitizer + UndefinedBehaviorSanitizer, then the threaded tests
# under ThreadSanitizer, then a short run of each fuzz target.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
jobs=$(nproc)
# The sanitizer trees: debug builds (assertions on) optimised a little, which
# runs their tests several times faster than -O0 and keeps stacks readable.
sanitizer_build=(-DCMAKE_BUILD_TYPE=Debug "-DCMAKE_CXX_FLAGS_DEBUG=-g -O1"
  "-DCMAKE_C_FLAGS_DEBUG=-g -O1")
# Every ctest run starts the servers its tests share once (fixtures), and its
# last test looks for the secret marker in every log file the run wrote; a run
# that finds it keeps build*/test-run and names it.

echo "== build"
scripts/build.sh build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKORVO_BUILD_TESTS=ON -DKORVO_BUILD_BENCH=ON
echo "== tests"
(cd build && ctest -j"$jobs" --output-on-failure --timeout 600)

echo "== tests under address and undefined-behaviour sanitizers"
scripts/build.sh build-asan "${sanitizer_build[@]}" -DKORVO_SANITIZE=address,undefined \
  -DKORVO_BUILD_BENCH=OFF
(cd build-asan && ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
  ctest -j"$jobs" --output-on-failure --timeout 900)

echo "== threaded tests under thread sanitizer"
# Set for the build too: listing the tests runs the instrumented binary.
export TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1 suppressions=$PWD/tests/tsan.supp"
NINJA_TARGETS="infra_test hash_test services_test net_test metrics_test auth_test settings_test" scripts/build.sh build-tsan "${sanitizer_build[@]}" \
  -DKORVO_SANITIZE=thread -DKORVO_BUILD_BENCH=OFF
# The executables' labels pick the threaded tests; ctest adds the fixtures
# they require.
(cd build-tsan && ctest -j"$jobs" --output-on-failure --timeout 900 -L 'infra_test|hash_test|services_test|net_test|metrics_test|auth_test|settings_test')

echo "== fuzz targets, briefly"
scripts/fuzz.sh 10
