#!/usr/bin/env bash
# Refreshes the root certificate bundle built into the library
# (core/net/cacert.pem) from Debian's ca-certificates package: the Mozilla
# roots as the package ships them, never the roots a machine has added.
# Writes the bundle and its checksum (core/net/cacert.pem.sha256); review
# and commit both.
set -euo pipefail
cd "$(dirname "$0")/.."
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
chmod 755 "$work"  # apt downloads as its own user
(cd "$work" && apt-get download ca-certificates >/dev/null)
deb=$(ls "$work"/ca-certificates_*.deb)
dpkg-deb -x "$deb" "$work/root"
version=$(dpkg-deb -f "$deb" Version)
roots=("$work"/root/usr/share/ca-certificates/mozilla/*.crt)
((${#roots[@]} > 50)) || { echo "refresh-cacert: only ${#roots[@]} roots in $deb" >&2; exit 1; }
{
  echo "# The Mozilla root certificates of Debian's ca-certificates $version"
  echo "# (${#roots[@]} roots), written by scripts/refresh-cacert.sh."
  for crt in "${roots[@]}"; do
    echo
    echo "# $(basename "$crt" .crt)"
    cat "$crt"
  done
} >core/net/cacert.pem
(cd core/net && sha256sum cacert.pem >cacert.pem.sha256)
echo "refresh-cacert: ${#roots[@]} roots from ca-certificates $version"
