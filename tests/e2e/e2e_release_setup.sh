#!/usr/bin/env bash
# The installer of this build's architecture, used as a user (or an administrator's script)
# would: built by scripts/package.sh from this build, installed silently for the current user and for all
# users. Each time the installed programs run (quillon2-run.exe --help; quillon2.exe shows its
# main window, whose About box gives the release's version), the uninstaller registered with
# Windows is run silently, and afterwards the program's files, its Start-menu entries and its
# registration are gone while the user's settings file is still there, unchanged.
source "$(dirname "$0")/lib/common.sh"
work=$(mktemp -d /tmp/quillon-e2e-setup.XXXXXX)
# No Linux menu entries for the Start-menu shortcuts.
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:+$WINEDLLOVERRIDES;}winemenubuilder.exe=d"
key='Software\Microsoft\Windows\CurrentVersion\Uninstall\Quillon2'

# No installation is left behind by a run that failed half-way (nor found by the next one).
remove_installations() {
  local hive cmd
  for hive in HKCU HKLM; do
    cmd=$(reg_value "$hive" QuietUninstallString)
    if [ -n "$cmd" ]; then run_registered "$cmd" || true; fi
    wine reg delete "$hive\\$key" /f >/dev/null 2>&1 || true
  done
}
cleanup() {
  set +e
  e2e_stop
  remove_installations
  rm -rf "$work"
}

# A value of the uninstall registration in hive (HKCU or HKLM), empty when there is none.
reg_value() {
  wine reg query "$1\\$key" /v "$2" 2>/dev/null | tr -d '\r' | sed -n "s/^ *$2 *REG_[A-Z_]* *//p"; true
}
unix_path() { realpath -m "$(winepath -u "$1" 2>/dev/null)"; }
# Starts a registered command line ("C:\...\uninstall.exe" /S) as Windows would.
run_registered() {
  local exe=${1#\"}; exe=${exe%%\"*}
  local args=${1#\"$exe\"}
  # shellcheck disable=SC2086
  wine "$exe" $args >/dev/null 2>&1
}

trap cleanup EXIT
remove_installations

e2e_package "$work"
arch=${QUILLON_WINARCH:?}
setup=$(ls "$work"/quillon2-*-"$arch"-setup.exe)
version=$(basename "$setup"); version=${version#quillon2-}; version=${version%-"$arch"-setup.exe}
# The 64-bit installer is itself a 64-bit program (Program Files and the registry's 64-bit view).
want="PE32 executable"; [ "$arch" = win64 ] && want="PE32+ executable"
[[ $(file -b "$setup") == "$want"* ]] || e2e_fail "$(basename "$setup") is $(file -b "$setup")"

e2e_seed 1 "$QSIM_COM" 19200 ""
ini=$(e2e_ini)

# install MODE HIVE: silent installation; sets $dir (Unix path of the program's folder).
install() {
  sim_ok reset >/dev/null
  wine "$setup" /S "$1" >/dev/null 2>&1 || e2e_fail "$1: setup exited $?"
  local where; where=$(reg_value "$2" InstallLocation)
  [ -n "$where" ] || e2e_fail "$1: no uninstall registration in $2"
  dir=$(unix_path "$where")
  [ "$(reg_value "$2" DisplayVersion)" = "$version" ] || e2e_fail "$1: registered version $(reg_value "$2" DisplayVersion)"
  for f in quillon2.exe quillon2-run.exe uninstall.exe docs/user-guide.md docs/quillon2-run.md \
           examples/measure.txt examples/upgrade/rzt7680-0124.upg; do
    [ -f "$dir/$f" ] || e2e_fail "$1: $f not installed in $where"
  done
  shortcuts=$(find "$WINEPREFIX/drive_c" -path '*Start Menu/Programs/Quillon2/*.lnk' 2>/dev/null)
  grep -q '/Quillon2.lnk$' <<<"$shortcuts" || e2e_fail "$1: no Start-menu shortcut"
  [ "$(wine "$dir/quillon2-run.exe" --help 2>&1 | head -1 | tr -d '\r')" = \
    "Usage: quillon2-run [LINK...] [--reply-limit SECONDS] [--timeouts-pass]" ] \
    || e2e_fail "$1: installed quillon2-run.exe --help"
}

# uninstall MODE HIVE: the registered quiet uninstall; everything but the settings file goes.
uninstall() {
  local cmd; cmd=$(reg_value "$2" QuietUninstallString)
  [ -n "$cmd" ] || e2e_fail "$1: no quiet uninstall registered"
  cp "$ini" "$work/settings.before"
  run_registered "$cmd" || e2e_fail "$1: $cmd exited $?"
  # The uninstaller goes on in a copy of itself after the registered command returns; the
  # registration goes last.
  for _ in $(seq 100); do [ -e "$dir" ] || [ -n "$(reg_value "$2" DisplayName)" ] || break; sleep 0.2; done
  [ ! -e "$dir" ] || e2e_fail "$1: left behind: $(find "$dir" | head -5)"
  [ -z "$(reg_value "$2" DisplayName)" ] || e2e_fail "$1: still registered"
  [ -z "$(find "$WINEPREFIX/drive_c" -path '*Start Menu/Programs/Quillon2*' 2>/dev/null)" ] \
    || e2e_fail "$1: Start-menu entries left"
  cmp -s "$ini" "$work/settings.before" || e2e_fail "$1: the settings file changed or went"
}

install /CurrentUser HKCU
[[ $dir == "$WINEPREFIX"/drive_c/users/*/AppData/Local/Programs/Quillon2 ]] || e2e_fail "current user: installed in $dir"
uninstall /CurrentUser HKCU
e2e_log "setup $version for the current user: installed, --help, uninstalled; settings kept"

install /AllUsers HKLM
[[ $dir == "$WINEPREFIX/drive_c/Program Files/Quillon2" ]] || e2e_fail "all users: installed in $dir"
wine "$dir/quillon2.exe" >/dev/null 2>&1 &
E2E_PID=$!
q wait-dialog Connect 30000 || e2e_fail "the installed quillon2.exe shows no Connect dialog"
q press Connect 2 >/dev/null                           # Cancel
[ "$(q title)" = "Quillon2 v1_3" ] || e2e_fail "main window title: $(q title)"
q command 104                                           # Help / About ...
q wait-dialog About 10000 || e2e_fail "no About box"
about=$(q dialog-text About 111)
# "v1_3 (build 12) Feb  2 2021" is release 1.3.12.
[[ $about =~ ^v([0-9]+)_([0-9]+)\ \(build\ ([0-9]+)\) ]] || e2e_fail "About box: $about"
[ "${BASH_REMATCH[1]}.${BASH_REMATCH[2]}.${BASH_REMATCH[3]}" = "$version" ] || e2e_fail "About box $about, release $version"
q press About 1 >/dev/null
e2e_stop
uninstall /AllUsers HKLM
e2e_log "setup $version for all users: installed, main window and About box ($about), uninstalled; settings kept"
