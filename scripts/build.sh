#!/usr/bin/env bash
# Configures and builds one build tree: scripts/build.sh DIR [cmake args...]
set -euo pipefail
cd "$(dirname "$0")/.."
dir=$1
shift
cmake -S . -B "$dir" -G Ninja "$@" >/dev/null
ninja -C "$dir" "${NINJA_TARGETS[@]:-all}" | grep -vE '^\[[0-9]+/[0-9]+\]' || true
test "${PIPESTATUS[0]}" -eq 0
