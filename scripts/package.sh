#!/usr/bin/env bash
# Builds the Windows programs and writes the release into dist/, for each architecture
# (ARCH is win32 or win64):
#   dist/quillon2-<version>-ARCH.zip         both programs, the user guide, the runner's document
#                                            and the examples, in a folder quillon2-<version>
#   dist/quillon2-<version>-ARCH-setup.exe   the same files as an installer (NSIS), for the
#                                            current user or all users, with an uninstaller; the
#                                            64-bit one is itself a 64-bit program
# <version> comes from common/version.h (the About box's version text is built from it).
# Needs no Wine. Works on a fresh machine: scripts/setup.sh installs what is missing.
#   scripts/package.sh [--from BUILD_DIR]... [--dist DIR]
#     --from BUILD_DIR  take the programs from this Windows build folder (win32 or win64, told
#                       by its programs), already built; may be given once for each
#                       architecture (the release tests do). Without it the win32 and win64
#                       presets are built first
#     --dist DIR        write the files there instead of dist/
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$root"
froms=() dist="$root/dist"
while [ $# -gt 0 ]; do
  case "$1" in
    --from) froms+=("$(cd "$2" && pwd)"); shift 2;;
    --dist) mkdir -p "$2"; dist=$(cd "$2" && pwd); shift 2;;
    *) echo "usage: $0 [--from BUILD_DIR]... [--dist DIR]" >&2; exit 2;;
  esac
done
mkdir -p "$dist"
((${#froms[@]})) || bash scripts/setup.sh --packages

number() { sed -n "s/^#define QUILLON_VERSION_$1 \\([0-9][0-9]*\\)\$/\\1/p" common/version.h; }
version="$(number MAJOR).$(number MINOR).$(number BUILD)"
[[ $version =~ ^[0-9]+\.[0-9]+\.[0-9]+$ ]] || { echo "package: no version in common/version.h" >&2; exit 1; }
echo "package: Quillon2 $version"

if ! ((${#froms[@]})); then
  for preset in win32 win64; do
    cmake --preset "$preset" >/dev/null
    cmake --build --preset "$preset" --target quillon2 quillon2-run
    froms+=("$root/build/$preset")
  done
fi

# The architecture of a build folder, from its program's header.
arch_of() {
  case "$(file -b "$1/quillon2.exe")" in
    PE32+*x86-64*) echo win64;;
    PE32\ *80386*) echo win32;;
    *) echo "package: $1/quillon2.exe is no Windows program of a known architecture" >&2; exit 1;;
  esac
}

name="quillon2-$version"
work=$(mktemp -d "${TMPDIR:-/tmp}/quillon2-package.XXXXXX")
trap 'rm -rf "$work"' EXIT

# The release folder of one architecture: $work/ARCH/$name.
stage_files() {
  local from=$1 arch=$2 strip=$3 stage="$work/$2/$name"
  mkdir -p "$stage/docs" "$stage/examples"
  "$strip" -o "$stage/quillon2.exe" "$from/quillon2.exe"
  "$strip" -o "$stage/quillon2-run.exe" "$from/run/quillon2-run.exe"
  cp docs/user-guide.md docs/quillon2-run.md "$stage/docs/"
  for image in $(grep -oE '\]\([a-z0-9-]+\.png\)' docs/user-guide.md | tr -d '()]' | sort -u); do
    cp "docs/$image" "$stage/docs/"
  done
  cp -r examples/. "$stage/examples/"
  # Text files with Windows line ends, so that every editor on Windows shows them as lines.
  find "$stage" -type f \( -name '*.txt' -o -name '*.md' -o -name '*.upg' -o -name '*.upx' -o -name '*.hex' \) \
    -exec sed -i 's/\r$//; s/$/\r/' {} +
  # Same dates in every build of one commit.
  local stamp; stamp=$(git log -1 --format=%ct 2>/dev/null || date +%s)
  find "$stage" -exec touch -h -d "@$stamp" {} +
}

# The installer's file list, and the same list for the uninstaller, which removes exactly
# what was installed (never the settings file, never files the user added to the folder).
installer_files() {
  local stage=$1
  echo '!macro QUILLON_INSTALL_FILES'
  (cd "$stage" && find . -type d | LC_ALL=C sort) | while read -r d; do
    d=${d#./}; d=${d#.}
    echo "  SetOutPath \"\$INSTDIR${d:+\\${d//\//\\}}\""
    (cd "$stage/${d:-.}" && find . -maxdepth 1 -type f | LC_ALL=C sort) | while read -r f; do
      echo "  File \"$stage/${d:+$d/}${f#./}\""
    done
  done
  echo '!macroend'
  echo '!macro QUILLON_REMOVE_FILES'
  (cd "$stage" && find . -type f | LC_ALL=C sort) | while read -r f; do
    f=${f#./}; echo "  Delete \"\$INSTDIR\\${f//\//\\}\""
  done
  (cd "$stage" && find . -mindepth 1 -type d | LC_ALL=C sort -r) | while read -r d; do
    d=${d#./}; echo "  RMDir \"\$INSTDIR\\${d//\//\\}\""
  done
  echo '!macroend'
}

for from in "${froms[@]}"; do
  arch=$(arch_of "$from")
  case "$arch" in
    win32) strip=i686-w64-mingw32-strip;;
    win64) strip=x86_64-w64-mingw32-strip;;
  esac
  stage_files "$from" "$arch" "$strip"
  zip_file="$dist/$name-$arch.zip"
  rm -f "$zip_file"
  (cd "$work/$arch" && find "$name" -type f | LC_ALL=C sort | zip -X -q -@ "$zip_file")
  installer_files "$work/$arch/$name" >"$work/$arch/files.nsh"
  setup_file="$dist/$name-$arch-setup.exe"
  makensis -V2 -DVERSION="$version" -DARCH="$arch" -DFILES="$work/$arch/files.nsh" -DSOURCE="$root" \
    -DOUTFILE="$setup_file" scripts/installer.nsi
  echo "package: $zip_file"
  echo "package: $setup_file"
done
