#!/usr/bin/env bash
# Drives the simulated pads of the Kavit started by ./run-kavit.sh (same Wine prefix, same
# display). Run without arguments for the commands, e.g.:
#
#   e2e/padsim.sh tap 1 3      e2e/padsim.sh press 2 12     e2e/padsim.sh demo
#   e2e/padsim.sh quit
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
state=${XDG_CACHE_HOME:-$HOME/.cache}/kavit-run
if [ ! -f "$state/display" ] || [ ! -d "$state/prefix/drive_c/Kavit" ]; then
    echo "padsim: no Kavit session; start one with $root/run-kavit.sh" >&2
    exit 1
fi
export WINEPREFIX=$state/prefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
DISPLAY=$(cat "$state/display")
export DISPLAY
# shellcheck source=e2e/wine-session.sh
. "$root/e2e/wine-session.sh" # for KAVIT_WINE
cd "$WINEPREFIX/drive_c/Kavit"
exec "$KAVIT_WINE" 'C:\Kavit\padsim.exe' "$@"
