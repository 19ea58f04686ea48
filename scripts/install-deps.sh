#!/usr/bin/env bash
# Installs the Debian packages Orrery needs to build, test and run. Idempotent:
# apt-get runs only when something is missing.
#   --check-program  installs nothing: names the packages building the program alone still
#                    needs and fails when there are any (`make install`).
set -euo pipefail

# What building the program needs (dpkg-dev: the hardening flags, read when it is configured, and
# the package's library dependencies).
PROGRAM_PACKAGES=(
  g++ cmake ninja-build pkg-config make dpkg-dev
  qt6-base-dev qt6-webengine-dev
  zlib1g-dev libminizip-dev libpng-dev
  libcurl4-openssl-dev libssl-dev
  nlohmann-json3-dev
  libexpat1-dev
  libicu-dev
  libsimdjson-dev
  libfontconfig-dev
)

PACKAGES=(
  "${PROGRAM_PACKAGES[@]}"
  qt6-image-formats-plugins  # reads the TIFF pictures the open panels offer
  ccache
  openssl
  libgtest-dev libgmock-dev libbenchmark-dev
  xvfb xauth
  libxcb-xtest0-dev  # the drag tests move the pointer of their own X server
  openbox  # the screen checks under a window manager (late decorations and configure events)
  fonts-noto-color-emoji fonts-dejavu-core fonts-liberation2
  python3
  binutils
  clang libclang-rt-dev
  gdb
  libxml2-utils tidy unzip poppler-utils qpdf pngcheck nodejs
  desktop-file-utils shared-mime-info
  xdg-utils
  appstream man-db
  lintian
  locales
)

check_only=0
if [ "${1:-}" = "--check-program" ]; then
  check_only=1
  PACKAGES=("${PROGRAM_PACKAGES[@]}")
fi

missing=()
for p in "${PACKAGES[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

# A comma-decimal locale, for the tests that numbers are written and read alike in every locale.
make_test_locale() {
  if ! locale -a 2>/dev/null | grep -qx 'de_DE.utf8'; then
    $SUDO localedef -i de_DE -f UTF-8 de_DE.UTF-8
  fi
}

SUDO=""
if [ "$(id -u)" -ne 0 ]; then
  SUDO="sudo"
  # A minimal Debian has no sudo: say so rather than fail on a missing command.
  if ! command -v sudo >/dev/null; then
    SUDO="no_sudo"
  fi
fi
no_sudo() {
  echo "Installing packages needs root, and sudo is not installed: run this as root, or install sudo" \
       "(as root: apt-get install sudo) and allow this user to use it." >&2
  exit 1
}

if [ ${#missing[@]} -eq 0 ]; then
  [ $check_only -eq 1 ] || make_test_locale
  exit 0
fi
if [ $check_only -eq 1 ]; then
  echo "Building Orrery needs these Debian packages, which are not installed: ${missing[*]}" >&2
  echo "'make deps' installs them." >&2
  exit 1
fi

echo "Installing: ${missing[*]}"
$SUDO apt-get update -qq
DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
make_test_locale
