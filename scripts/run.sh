#!/usr/bin/env bash
# The main job of the command-line program, on an embedded default.
#
# So far korvo reads the library's compressed daily log files. This runs it
# once in a scratch home (the run leaves its own lines in that day's log
# file), then prints that log file with `korvo logcat`.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
scripts/build.sh build -DCMAKE_BUILD_TYPE=Release -DKORVO_BUILD_TESTS=OFF -DKORVO_BUILD_BENCH=OFF >/dev/null

home=$(mktemp -d)
trap 'rm -rf "$home"' EXIT
korvo=$PWD/build/tools/korvo
HOME=$home XDG_DATA_HOME= "$korvo" logcat /dev/null
log=$(ls "$home"/.local/share/korvo/logs/*.log)
echo "== korvo logcat $(basename "$log")"
HOME=$home XDG_DATA_HOME= "$korvo" logcat "$log"
