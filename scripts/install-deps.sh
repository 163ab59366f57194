#!/usr/bin/env bash
# Installs the Debian packages the build, the tests and the test oracles need.
set -euo pipefail

packages=(
  build-essential cmake ninja-build clang llvm libclang-rt-14-dev pkg-config
  qt6-base-dev qt6-base-dev-tools qt6-translations-l10n libgl-dev
  zlib1g-dev libdeflate-dev libpng-dev libjpeg62-turbo-dev libsane-dev sane-utils
  libgtest-dev libgmock-dev libbenchmark-dev
  xvfb xauth x11-apps imagemagick netpbm libtiff-tools giflib-tools gifsicle pngcheck
  python3-pil poppler-utils fonts-liberation libjpeg-turbo-progs
  libexiv2-dev exiv2 libimage-exiftool-perl
  adwaita-icon-theme
)

# The benchmarks' outside peers and the timer of their peak memory, for
# `make bench` only.
if [ "${1:-}" = "--bench" ]; then
  packages+=(libgif-dev libtiff-dev libopencv-dev time)
fi

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

sudo=""
if [ "$(id -u)" -ne 0 ]; then
  sudo="sudo"
fi

echo "Installing: ${missing[*]}"
$sudo apt-get update -q
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -q --no-install-recommends "${missing[@]}"
