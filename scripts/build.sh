#!/usr/bin/env bash
# Configures and builds one build tree, quietly unless something fails:
#   scripts/build.sh DIR [cmake args...]
# NINJA_TARGETS (blank-separated) limits what is built.
set -euo pipefail
cd "$(dirname "$0")/.."
dir=$1
shift
mkdir -p "$dir"
if ! cmake -S . -B "$dir" -G Ninja "$@" >"$dir/configure.log" 2>&1; then
  cat "$dir/configure.log"
  exit 1
fi
# shellcheck disable=SC2086
if ! ninja -C "$dir" ${NINJA_TARGETS:-all} >"$dir/build.log" 2>&1; then
  grep -v '^\[[0-9]*/[0-9]*\]' "$dir/build.log"
  exit 1
fi
