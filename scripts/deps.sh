#!/usr/bin/env bash
# Installs the Debian packages the build and the test suite need; only what is missing.
set -euo pipefail

PACKAGES=(
  build-essential cmake ninja-build pkg-config
  libssl-dev openssl
  libtinyxml2-dev
  libgtest-dev libgmock-dev googletest
  nlohmann-json3-dev libcli11-dev
  libudev-dev
  qt6-base-dev
  xvfb xauth x11-utils
  iproute2 python3 file
  xdotool
  clang libclang-rt-14-dev
)

missing=()
for p in "${PACKAGES[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

echo "Installing missing packages: ${missing[*]}"
SUDO=""
if [ "$(id -u)" -ne 0 ]; then
  SUDO="sudo"
fi
export DEBIAN_FRONTEND=noninteractive
# A stale package index makes installs fail with 404s; refresh once, then install.
$SUDO apt-get update -qq || true
$SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
