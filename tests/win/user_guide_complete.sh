#!/usr/bin/env bash
# The user guide is complete against the program: every directive, calculator line, upgrade
# descriptor keyword, settings key, message, status and log line, menu and dialog caption the
# source defines, and every file of examples/, appears in docs/user-guide.md. The lists are
# taken from the source itself (tests/win/data/guide/check_guide.py says how). Needs neither
# Wine nor the simulator. Usage: user_guide_complete.sh [WIN32_BUILD_FOLDER]
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
exec python3 "$here/data/guide/check_guide.py" "$here/../.."
