#!/usr/bin/env bash
# See Kavit work on Linux, with one command:
#
#   ./run-kavit.sh [--demo] [--fresh] [--check]
#
# On Debian it installs what is missing (apt-get; needs root or sudo), builds the 64-bit Windows
# program, and starts Kavit.exe under Wine with the shipped Kavit.ini and a simulated parallel
# port with two simulated pads (the simulated build of driver/, no hardware needed). The key
# events Kavit sends show in this terminal; drive the pads from another one with e2e/padsim.sh.
# On a desktop Kavit appears in the tray of a Wine desktop window; without $DISPLAY it runs under
# Xvfb.
#
#   --demo    press every button once by itself after the start
#   --fresh   start from the shipped Kavit.ini again (otherwise the last run's is kept)
#   --check   run kavit-check's live view in this terminal instead of Kavit (Esc ends it), to
#             watch the simulated pads while e2e/padsim.sh presses their buttons
#
# The program directory (C:\Kavit in the Wine prefix) holds Kavit.exe, kavit-check.exe, Kavit.ini,
# help.htm, the simulated LPTWDMIO.SYS and padsim.exe.
#
# KAVIT_BUILD_DIR=dir uses an existing mingw-x64 build (dir/dist, dir/e2e) instead of building.
#
# Ctrl-C, or `e2e/padsim.sh quit`, ends Kavit and its Wine session.
set -euo pipefail

root=$(cd "$(dirname "$0")" && pwd)
demo=""
fresh=""
check=""
for arg in "$@"; do
    case $arg in
    --demo) demo=1 ;;
    --fresh) fresh=1 ;;
    --check) check=1 ;;
    *) sed -n '2,23p' "$0" | sed 's/^# \{0,1\}//'; exit 2 ;;
    esac
done

say() { printf '\n== %s\n' "$*"; }

# ---- 1. packages --------------------------------------------------------------------------------
# The one list that test.sh and CI install too (the x64 build signs its driver with openssl and
# osslsigncode).
bash "$root/scripts/setup-debian.sh"

# ---- 2. build ----------------------------------------------------------------------------------
cd "$root"
build=${KAVIT_BUILD_DIR:-}
if [ -z "$build" ]; then
    say "building (cmake preset mingw-x64; the first build takes a few minutes)"
    [ -f build/mingw-x64/build.ninja ] || cmake --preset mingw-x64 >/dev/null
    # Ninja's own [done/all] count shows how far it is.
    cmake --build --preset mingw-x64 -j2
    build=$root/build/mingw-x64
fi
dist=$build/dist
tools=$build/e2e
for f in "$dist/Kavit.exe" "$dist/kavit-check.exe" "$dist/Kavit.ini" "$tools/LPTWDMIO.SYS" \
    "$tools/padsim.exe"; do
    [ -f "$f" ] || { echo "build did not produce $f" >&2; exit 1; }
done

# ---- 3. Wine session ---------------------------------------------------------------------------
state=${XDG_CACHE_HOME:-$HOME/.cache}/kavit-run
mkdir -p "$state"
# shellcheck source=e2e/wine-session.sh
. "$root/e2e/wine-session.sh"
if [ -f "$state/session" ] && [ -n "$(cat "$state/session")" ] && kill -0 "$(cat "$state/session")" 2>/dev/null; then
    echo "Kavit is already running from an earlier ./run-kavit.sh (pid $(cat "$state/session"));" \
        "end it with e2e/padsim.sh quit" >&2
    exit 1
fi
say "starting Wine (prefix $state/prefix; the first time takes a minute)"
padsim() { (cd "$WINEPREFIX/drive_c/Kavit" && "$KAVIT_WINE" 'C:\Kavit\padsim.exe' "$@"); }
end_session() {
    set +e
    # Kavit's own Exit removes its service; a driver still loaded is stopped before Wine ends,
    # or the prefix would keep a stale service entry.
    if [ -n "${kavit:-}" ] && kill -0 "$kavit" 2>/dev/null; then
        padsim quit >/dev/null 2>&1 || true
        for _ in $(seq 1 30); do kill -0 "$kavit" 2>/dev/null || break; sleep 0.1; done
    fi
    if [ -n "${watcher:-}" ]; then kill "$watcher" 2>/dev/null; fi
    padsim unload >/dev/null 2>&1 || true
    wine_session_stop
    rm -f "$state/display" "$state/session"
}
trap end_session EXIT
trap 'exit 130' INT TERM
wine_session_start "$state/prefix"
echo "$DISPLAY" >"$state/display"
echo $$ >"$state/session"

program=$WINEPREFIX/drive_c/Kavit
mkdir -p "$program"
cp "$dist/Kavit.exe" "$dist/kavit-check.exe" "$dist/help.htm" "$tools/LPTWDMIO.SYS" "$tools/padsim.exe" \
    "$program/"
if [ -n "$fresh" ] || [ ! -f "$program/Kavit.ini" ]; then
    cp "$dist/Kavit.ini" "$program/"
    echo "Kavit.ini: the shipped one"
else
    echo "Kavit.ini: kept from the last run (--fresh for the shipped one)"
fi

# ---- 4. or kavit-check instead of Kavit --------------------------------------------------------
if [ -n "$check" ]; then
    cat <<EOF

kavit-check takes this terminal: its report, then both simulated pads live. In another terminal:

  e2e/padsim.sh tap 1 3         press and release pad 1 button 3
  e2e/padsim.sh press 2 12      hold pad 2 button 12 (e2e/padsim.sh release 2 12 lets it go)
  e2e/padsim.sh demo            every button of both pads, one after another

Esc or Ctrl-C here ends kavit-check (it removes the driver service it installed) and the session.
EOF
    sleep 2
    (cd "$program" && "$KAVIT_WINE" 'C:\Kavit\kavit-check.exe') || true
    say "kavit-check has ended"
    exit 0
fi

# ---- 5. Kavit ----------------------------------------------------------------------------------
say "starting Kavit.exe (it installs and starts the driver service lptwdmio itself)"
(cd "$program" && exec "$KAVIT_WINE" 'C:\Kavit\Kavit.exe') >"$state/kavit.log" 2>&1 &
kavit=$!
for _ in $(seq 1 100); do
    padsim state >/dev/null 2>&1 && break
    kill -0 $kavit 2>/dev/null || break
    sleep 0.2
done
if ! padsim state >/dev/null 2>&1; then
    echo "Kavit did not reach the simulated port; see $state/kavit.log" >&2
    [ -n "${DISPLAY:-}" ] && echo "(a message box may be waiting on the Wine desktop)" >&2
    exit 1
fi

cat <<EOF

Kavit is running, scanning the simulated pads on LPT1.$( [ -n "$KAVIT_XVFB_PID" ] && echo " (headless, Xvfb $DISPLAY)")
Key events it sends are shown below as they come. In another terminal:

  e2e/padsim.sh tap 1 3         press and release pad 1 button 3
  e2e/padsim.sh press 1 1       hold pad 1 button 1 ...
  e2e/padsim.sh release 1 1     ... and let it go
  e2e/padsim.sh demo            every button of both pads, one after another
  e2e/padsim.sh preset 2        choose the second preset (Kavit rewrites Kavit.ini)
  e2e/padsim.sh state           what the simulated pads and port hold
  e2e/padsim.sh quit            Exit from Kavit's menu (or Ctrl-C here)
$( [ -z "$KAVIT_XVFB_PID" ] && echo "
On the Wine desktop window: right-click Kavit's tray icon for its menu (Set keys, Preset, About,
Exit); a left click flashes the icon.")
Settings: $program/Kavit.ini (Interval, SecondPlayer, Repeat, presets)
EOF

# Keys are shown by a watcher that ends when Kavit's window goes.
(cd "$program" && exec "$KAVIT_WINE" 'C:\Kavit\padsim.exe' watch) 2>/dev/null &
watcher=$!
if [ -n "$demo" ]; then
    sleep 1.5
    padsim demo | grep -v '^    key' || true
fi
wait $kavit || true
sleep 0.5
say "Kavit has ended"
