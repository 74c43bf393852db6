#!/usr/bin/env bash
# Installs what the build, the tests and the benchmarks need on a Debian
# machine. Idempotent and quiet: when everything is present it does nothing.
set -euo pipefail

packages=(
  build-essential cmake ninja-build ccache pkg-config clang libclang-rt-14-dev
  qtbase5-dev libqt5concurrent5
  libcurl4-openssl-dev libssl-dev
  libboost-dev libboost-filesystem-dev libboost-system-dev
  libbz2-dev bzip2
  libabsl-dev libsparsehash-dev
  libgtest-dev libgmock-dev libbenchmark-dev libspdlog-dev
  python3
  # Real servers the request engine is tested against, and curl for its
  # benchmark.
  nginx-light tinyproxy dante-server microsocks openssl curl ca-certificates
  # The Secret Service that keeps the key of secrets at rest, tested in a
  # private session bus.
  libsecret-1-0 gnome-keyring dbus
)

missing=()
for p in "${packages[@]}"; do
  status=$(dpkg-query -W -f='${Status}' "$p" 2>/dev/null || true)
  [[ "$status" == "install ok installed" ]] || missing+=("$p")
done

if ((${#missing[@]})); then
  sudo=""
  [[ $(id -u) -eq 0 ]] || sudo="sudo"
  echo "setup: installing ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  $sudo apt-get update -qq >/dev/null
  $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi
