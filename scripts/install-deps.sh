#!/usr/bin/env bash
# Installs the Debian packages Orrery needs to build, test and run. Idempotent:
# apt-get runs only when something is missing.
set -euo pipefail

PACKAGES=(
  g++ cmake ninja-build ccache pkg-config make
  qt6-base-dev
  zlib1g-dev libminizip-dev
  libcurl4-openssl-dev libssl-dev openssl
  nlohmann-json3-dev
  libsimdjson-dev
  libgtest-dev libgmock-dev libbenchmark-dev
  xvfb xauth
  fonts-noto-color-emoji fonts-dejavu-core fonts-liberation2
  python3
  binutils
  clang libclang-rt-dev
  gdb
  libxml2-utils tidy unzip poppler-utils qpdf pngcheck nodejs
  desktop-file-utils shared-mime-info
  xdg-utils
  qt6-webengine-dev qt6-image-formats-plugins
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

echo "Installing: ${missing[*]}"
SUDO=""
if [ "$(id -u)" -ne 0 ]; then
  SUDO="sudo"
fi
$SUDO apt-get update -qq
DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
