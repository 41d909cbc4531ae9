#!/usr/bin/env bash
# Prepares this machine for building and testing Quillon2. Idempotent: installs only the
# Debian packages that are missing and creates the 32-bit Wine prefix (build/wineprefix) once.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)

packages=(cmake ninja-build g++ make googletest file binutils iproute2 procps psmisc
          mingw-w64 g++-mingw-w64-i686 wine wine32:i386 wine64 xvfb xauth x11-apps imagemagick xdotool
          clang libclang-rt-14-dev python3 zip unzip nsis)
missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q '^install ok installed$'; then
    missing+=("$p")
  fi
done
if ((${#missing[@]})); then
  echo "setup: installing ${missing[*]}"
  if [ "$(id -u)" != 0 ]; then echo "setup: run as root to install packages" >&2; exit 1; fi
  if ! dpkg --print-foreign-architectures | grep -qx i386; then dpkg --add-architecture i386; fi
  apt-get update -q
  DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends "${missing[@]}"
fi

# A 32-bit Wine prefix inside the build folder, made once and reused.
export WINEPREFIX="$root/build/wineprefix" WINEARCH=win32 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
if [ ! -f "$WINEPREFIX/system.reg" ]; then
  echo "setup: creating the 32-bit Wine prefix in $WINEPREFIX"
  mkdir -p "$root/build"
  rm -rf "$WINEPREFIX"
  # wineboot wants a display for nothing we need; keep it off X.
  DISPLAY= wineboot -i >/dev/null 2>&1 || true
  wineserver -w || true
  [ -f "$WINEPREFIX/system.reg" ] || { echo "setup: wineboot failed" >&2; exit 1; }
fi
