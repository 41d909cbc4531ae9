#!/usr/bin/env bash
# The user guide is complete against the program: every directive, calculator line, upgrade
# descriptor keyword, settings key, message, status and log line, menu and dialog caption the
# source defines, and every file of examples/, appears in docs/user-guide.md. The lists are
# taken from the source itself (check_guide.py beside this script says how). Needs neither
# Wine nor the simulator.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
exec python3 "$here/check_guide.py" "$here/../.."
