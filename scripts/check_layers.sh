#!/usr/bin/env bash
# Checks the layering of the product code from its #include lines, and prints the graph it
# derived. The portable layers, lowest first:
#   common  <-  link  <-  app  <-  script;   upgrade on link;   res holds the resource ids
# Above them stand the two front ends: window/ (quillon2.exe) and run/ (quillon2-run.exe).
# Every include counts, the Win32 glue's (*_win.cpp, *_win.h) included:
#  - no two folders include each other, directly or round a circle;
#  - nothing outside a front end includes it;
#  - a portable file includes only its own folder and the folders below it, never a Win32
#    header of the project (*_win.h), and in the core (every folder but the front ends) never
#    the window's resource ids: the core tells what happened, and the front end decides what
#    the window does about it;
#  - within app/ and window/ no two files include each other, directly or round a circle
#    (a .cpp and its .h count as one file).
# Fails, saying where. Usage: scripts/check_layers.sh [-v]
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."
verbose=${1:-}

# Folders each portable folder may include (its own always).
declare -A below=(
  [common]=""
  [res]=""
  [link]="common"
  [app]="link common"
  [upgrade]="link common"
  [script]="app link common"
  [window]="script upgrade app link common res"
  [run]="script upgrade app link common res"
)
folders="common res link app script upgrade window run"
front_ends="window run"

failures=0
fail() { echo "check_layers: $*" >&2; failures=$((failures + 1)); }

# run/ is a console program, Win32 through and through: all of it counts as glue.
is_glue() { [[ $1 == *_win.cpp || $1 == *_win.h || $1 == run/* ]]; }
is_front_end() { [[ " $front_ends " == *" ${1%%/*} "* ]]; }

# Every project include as "file included": the quoted includes that name a product folder.
edges=$(for dir in $folders; do
          [ -d "$dir" ] || continue
          find "$dir" -maxdepth 1 -type f \( -name '*.cpp' -o -name '*.h' \)
        done | sort | while read -r file; do
          sed -n 's/^[[:space:]]*#[[:space:]]*include[[:space:]]*"\([a-z]*\/[^"]*\)".*/\1/p' "$file" |
            while read -r inc; do echo "$file $inc"; done
        done)

folder_edges=""
file_edges=""
while read -r file inc; do
  [ -n "$file" ] || continue
  from=${file%%/*} to=${inc%%/*}
  [ -e "$inc" ] || { fail "$file includes $inc, which does not exist"; continue; }
  [ "$from" = "$to" ] || folder_edges+="$from $to"$'\n'
  if is_front_end "$inc" && [ "$from" != "$to" ]; then
    fail "$file includes $inc, a file of the front end $to/"
  fi
  if ! is_glue "$file"; then
    if is_glue "$inc"; then
      fail "portable $file includes the Win32 header $inc"
    elif [ "$to" = res ] && ! is_front_end "$file"; then
      fail "portable $file includes the window's resource ids $inc"
    elif [ "$from" != "$to" ]; then
      case " ${below[$from]} " in
        *" $to "*) ;;
        *) fail "upward include: $file ($from) includes $inc ($to)" ;;
      esac
    fi
  fi
  if [ "$from" = "$to" ] && { [ "$from" = app ] || [ "$from" = window ]; }; then
    a=${file%.*} b=${inc%.*}
    [ "$a" = "$b" ] || file_edges+="$a $b"$'\n'
  fi
done <<<"$edges"

# tsort reports a loop in its input; each pair is "includer included".
check_circle() {
  local what=$1 pairs=$2 out
  out=$(printf '%s' "$pairs" | sort -u | tsort 2>&1 >/dev/null) || true
  if [ -n "$out" ]; then
    fail "a circle among $what:"
    echo "$out" | grep -v 'input contains a loop' | sed 's/^tsort: /  /' >&2
  fi
}
check_circle "the folders" "$folder_edges"
check_circle "the files of app/ and window/" "$file_edges"

if [ "$verbose" = -v ] || ((failures)); then
  echo "folders, every include counted (includer -> included):"
  printf '%s' "$folder_edges" | sort -u | sed 's/ / -> /; s/^/  /'
  echo "files of app/ and window/:"
  printf '%s' "$file_edges" | sort -u | sed 's/ / -> /; s/^/  /'
fi
if ((failures)); then
  echo "check_layers: $failures problem(s)" >&2
  exit 1
fi
echo "check_layers: no upward include and no circle"
