#!/usr/bin/env bash
# Prepares this machine for building and testing Quillon2. Idempotent: installs only the
# Debian packages that are missing and creates each Wine prefix once.
#   setup.sh              packages, and a prefix for each architecture this machine runs
#                         (scripts/archs.sh; QUILLON_TEST_ARCH forces it)
#   setup.sh ARCH...      packages, and the prefixes of these architectures (win32, win64)
#   setup.sh --packages   packages only (building a release needs no Wine)
# Prefixes: build/wineprefix (32-bit, as a 32-bit Windows) and build/wineprefix64 (64-bit
# Windows, where a 32-bit program runs too if the machine can execute 32-bit code).
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)

installed() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q '^install ok installed$'; }
install_missing() {
  local missing=() p
  for p in "$@"; do installed "$p" || missing+=("$p"); done
  ((${#missing[@]})) || return 0
  echo "setup: installing ${missing[*]}"
  if [ "$(id -u)" != 0 ]; then echo "setup: run as root to install packages" >&2; exit 1; fi
  if ! dpkg --print-foreign-architectures | grep -qx i386; then dpkg --add-architecture i386; fi
  # A mirror caught mid-sync fails one index (seen for i386): the lists there are may still
  # hold every package wanted, and the install below says so when they do not.
  if [ -z "${updated:-}" ]; then
    apt-get update -q || echo "setup: apt-get update failed in part; installing from the package lists there are" >&2
    updated=1
  fi
  DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends "${missing[@]}"
}

install_missing cmake ninja-build g++ make googletest file binutils iproute2 nftables procps psmisc \
  mingw-w64 g++-mingw-w64-i686 g++-mingw-w64-x86-64 wine wine64 libc6:i386 xvfb xauth x11-apps x11-utils \
  imagemagick xdotool clang libclang-rt-14-dev python3 zip unzip nsis
# Wine's 32-bit side only where the machine can execute 32-bit code (the 32-bit C library's
# loader tells); where it cannot, the scripts in scripts/winebin/ keep Wine off it even if it
# was installed before.
if /lib/ld-linux.so.2 --version >/dev/null 2>&1; then install_missing wine32:i386; fi
[ "${1:-}" != --packages ] || exit 0

archs=("$@")
((${#archs[@]})) || read -r -a archs <<<"$(bash "$root/scripts/archs.sh")"
export PATH="$root/scripts/winebin:$PATH" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
for arch in "${archs[@]}"; do
  case "$arch" in
    win32) prefix="$root/build/wineprefix";;
    win64) prefix="$root/build/wineprefix64";;
    *) echo "setup: no such architecture: $arch" >&2; exit 2;;
  esac
  grep -qx "#arch=$arch" "$prefix/system.reg" 2>/dev/null && continue
  echo "setup: creating the $arch Wine prefix in $prefix"
  mkdir -p "$root/build"
  rm -rf "$prefix"
  # wineboot wants a display for nothing we need; keep it off X.
  DISPLAY= WINEPREFIX="$prefix" WINEARCH=$arch wineboot -i >/dev/null 2>&1 || true
  WINEPREFIX="$prefix" wineserver -w || true
  why=$([ "$arch" = win64 ] || bash "$root/scripts/archs.sh" --why)
  grep -qx "#arch=$arch" "$prefix/system.reg" 2>/dev/null || {
    echo "setup: wineboot failed for the $arch prefix${why:+: $why}" >&2; exit 1; }
done
