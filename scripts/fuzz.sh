#!/usr/bin/env bash
# Builds the libFuzzer targets with clang (AddressSanitizer and
# UndefinedBehaviorSanitizer on) and runs each for a while:
#   scripts/fuzz.sh [SECONDS_PER_TARGET]   (default 60)
# FUZZ_TARGETS (blank-separated) limits the targets built and run.
# Each run starts from the seed corpus in fuzz/corpus/ and keeps what it finds
# in a scratch copy; a crash leaves its input in build-fuzz/.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}
targets=${FUZZ_TARGETS:-"hash_deserialize_fuzz hash_hex_fuzz json_tree_fuzz xml_tree_fuzz \
  dispatcher_answer_fuzz content_range_fuzz log_file_reader_fuzz token_decrypt_fuzz \
  credential_variant_fuzz"}
scripts/setup.sh
CC=clang CXX=clang++ NINJA_TARGETS="$targets" scripts/build.sh build-fuzz \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKORVO_SANITIZE=address,undefined -DKORVO_BUILD_FUZZ=ON \
  -DKORVO_BUILD_TESTS=OFF -DKORVO_BUILD_BENCH=OFF

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
for target in $targets; do
  corpus=$scratch/${target%_fuzz}
  mkdir -p "$corpus"
  cp fuzz/corpus/"${target%_fuzz}"/* "$corpus"/
  echo "== $target for ${seconds}s"
  status=0
  (cd build-fuzz && HOME=$scratch ASAN_OPTIONS=detect_leaks=1 \
    "./fuzz/$target" -max_total_time="$seconds" -print_final_stats=1 "$corpus") \
    >"$scratch/$target.log" 2>&1 || status=$?
  grep -E '^stat::number_of_executed_units' "$scratch/$target.log" || true
  if [ "$status" -ne 0 ]; then
    tail -60 "$scratch/$target.log"
    exit "$status"
  fi
done
