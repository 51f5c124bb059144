#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need (as root). Does
# nothing when they are all present already.
set -euo pipefail
PACKAGES=(build-essential cmake ninja-build pkg-config clang libclang-rt-14-dev
          libgtest-dev libgmock-dev googletest libbenchmark-dev libsqlite3-dev libssl-dev
          libasio-dev libgmime-3.0-dev ccache)
missing=()
for p in "${PACKAGES[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  SUDO=""; [ "$(id -u)" -ne 0 ] && SUDO=sudo
  $SUDO apt-get update
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y --no-install-recommends "${missing[@]}"
fi
