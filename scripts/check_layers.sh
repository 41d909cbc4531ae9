#!/usr/bin/env bash
# Checks the layering of the product code from its #include lines, and prints the graph it
# derived. The portable layers, lowest first:
#   common, res (resource ids)  <-  link  <-  app  <-  script;   upgrade on link
# A portable file includes only its own folder and the folders below it, never a Win32 header
# of the project (*_win.h). Above them comes the Win32 glue (*_win.cpp, *_win.h), which may
# include any portable header; the glue of one folder including that of another must not go
# round in a circle. Above everything come the programs: run/ (quillon2-run.exe) and
# app/winmain_win.cpp (quillon2.exe); nothing includes them. Within app/ no two files
# include each other, directly or round a circle (a .cpp and its .h count as one file).
# Fails, saying where, on an upward include or a circle. Usage: scripts/check_layers.sh [-v]
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."
verbose=${1:-}

# Folders each portable folder may include (its own always).
declare -A below=(
  [common]=""
  [res]=""
  [link]="common res"
  [app]="link common res"
  [upgrade]="link common res"
  [script]="app link common res"
)
folders="common res link app script upgrade run"

failures=0
fail() { echo "check_layers: $*" >&2; failures=$((failures + 1)); }

is_glue() { [[ $1 == *_win.cpp || $1 == *_win.h ]]; }
is_program() { [[ $1 == run/* || $1 == app/winmain_win.cpp ]]; }

# Every project include as "file included": the quoted includes that name a product folder.
edges=$(for dir in $folders; do
          [ -d "$dir" ] || continue
          find "$dir" -maxdepth 1 -type f \( -name '*.cpp' -o -name '*.h' \)
        done | sort | while read -r file; do
          sed -n 's/^[[:space:]]*#[[:space:]]*include[[:space:]]*"\([a-z]*\/[^"]*\)".*/\1/p' "$file" |
            while read -r inc; do echo "$file $inc"; done
        done)

folder_edges=""
glue_edges=""
app_edges=""
while read -r file inc; do
  [ -n "$file" ] || continue
  from=${file%%/*} to=${inc%%/*}
  [ -e "$inc" ] || { fail "$file includes $inc, which does not exist"; continue; }
  if is_program "$inc" && [ "$from" != run ]; then
    fail "$file includes the program file $inc"
  fi
  if is_program "$file"; then
    :  # the programs stand above everything
  elif is_glue "$file"; then
    if is_glue "$inc" && [ "$from" != "$to" ]; then glue_edges+="$from $to"$'\n'; fi
  else
    if is_glue "$inc"; then
      fail "portable $file includes the Win32 header $inc"
    elif [ "$from" != "$to" ]; then
      case " ${below[$from]} " in
        *" $to "*) folder_edges+="$from $to"$'\n' ;;
        *) fail "upward include: $file ($from) includes $inc ($to)" ;;
      esac
    fi
  fi
  if [ "$from" = app ] && [ "$to" = app ]; then
    a=${file%.*} b=${inc%.*}
    [ "$a" = "$b" ] || app_edges+="$a $b"$'\n'
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
check_circle "the portable folders" "$folder_edges"
check_circle "the glue of the folders" "$glue_edges"
check_circle "the files of app/" "$app_edges"

if [ "$verbose" = -v ] || ((failures)); then
  echo "portable folders (includer -> included):"
  printf '%s' "$folder_edges" | sort -u | sed 's/ / -> /; s/^/  /'
  echo "glue between folders:"
  printf '%s' "$glue_edges" | sort -u | sed 's/ / -> /; s/^/  /'
  echo "files of app/:"
  printf '%s' "$app_edges" | sort -u | sed 's/ / -> /; s/^/  /'
fi
if ((failures)); then
  echo "check_layers: $failures problem(s)" >&2
  exit 1
fi
echo "check_layers: no upward include and no circle"
