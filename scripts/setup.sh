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
  # The WebDAV server the credentials' server probe is tested against.
  rclone
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

# moto (an S3 server that checks signatures) and botocore (an independent
# SigV4 signer) come with this machine image's Python; the registries these
# machines reach do not offer them, so they are checked, never installed.
if ! python3 -c 'import moto, boto3, botocore' 2>/dev/null; then
  echo "setup: python3 ($(command -v python3)) lacks moto, boto3 or botocore;" \
       "the S3 signing tests need the machine image's Python" >&2
  exit 1
fi
