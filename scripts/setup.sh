#!/usr/bin/env bash
# Installs every Debian package the project needs to build, test, benchmark and fuzz.
# Usage: scripts/setup.sh [packaging] [windows]
#   packaging  what scripts/package.sh and its CI test need (lintian, help2man, ...)
#   windows    the mingw-w64 cross compilers and Wine (64- and 32-bit) for the Windows build
# Idempotent: when everything is present it only checks and returns.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config git
  qt6-base-dev libgl-dev
  libasio-dev zlib1g-dev libpng-dev libjpeg62-turbo-dev libssl-dev openssl
  libsqlite3-dev libsodium-dev libcli11-dev
  libpq-dev postgresql
  libhiredis-dev redis-server
  libgtest-dev libgmock-dev libbenchmark-dev
  fonts-dejavu-core
  clang libclang-rt-14-dev
)
needs_i386=false
for group in "$@"; do
  case "$group" in
    packaging)
      packages+=(dpkg-dev fakeroot file lintian help2man desktop-file-utils systemd) ;;
    windows)
      # Wine's 32-bit half comes from the i386 architecture.
      packages+=(g++-mingw-w64-x86-64-posix g++-mingw-w64-i686-posix libz-mingw-w64-dev
        binutils-mingw-w64-x86-64 binutils-mingw-w64-i686 wine wine64 wine32:i386)
      needs_i386=true ;;
    *)
      echo "setup: unknown group '$group' (known: packaging windows)" >&2
      exit 2 ;;
  esac
done

sudo=""
if [ "$(id -u)" -ne 0 ]; then sudo="sudo"; fi
export DEBIAN_FRONTEND=noninteractive

updated=false
if $needs_i386 && ! dpkg --print-foreign-architectures | grep -qx i386; then
  echo "setup: adding the i386 architecture for 32-bit Wine"
  $sudo dpkg --add-architecture i386
  $sudo apt-get update -qq
  updated=true
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

echo "setup: installing ${missing[*]}"
$updated || $sudo apt-get update -qq
$sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
