#!/usr/bin/env bash
# The main job of the command-line program, on an embedded default.
#
# korvo computes the content hash each cloud service reports for a file, and
# reads the library's compressed daily log files. This writes a small sample
# file into a scratch home, prints its hash for every service with
# `korvo hash`, then prints the day's log file that those runs left with
# `korvo logcat`.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
scripts/build.sh build -DCMAKE_BUILD_TYPE=Release -DKORVO_BUILD_TESTS=OFF -DKORVO_BUILD_BENCH=OFF >/dev/null

home=$(mktemp -d)
trap 'rm -rf "$home"' EXIT
korvo=$PWD/build/tools/korvo
sample=$home/sample.txt
printf 'korvo sample file\nThe quick brown fox jumps over the lazy dog.\n' >"$sample"
for type in vt yandex dropbox google internal onedrive s3; do
  echo "== korvo hash --type $type"
  (cd "$home" && HOME=$home XDG_DATA_HOME= "$korvo" hash --type "$type" sample.txt)
done
log=$(ls "$home"/.local/share/korvo/logs/*.log)
echo "== korvo logcat $(basename "$log")"
HOME=$home XDG_DATA_HOME= "$korvo" logcat "$log"
