#!/usr/bin/env bash
# End-to-end cases of Kavit.exe under Wine, against the simulated port driver.
#
#   e2e/run-e2e.sh [--build DIR] [--only name,prefix_,...] [--measure] [--keep]
#
# Needs the mingw-x64 build (cmake --preset mingw-x64 && cmake --build --preset mingw-x64):
# DIR/dist/ (Kavit.exe, Kavit.ini, help.htm) and DIR/e2e/ (LPTWDMIO.SYS, kavit-e2e.exe).
# Makes a private Wine prefix, a display (Xvfb when $DISPLAY is unset), runs the cases with a
# deadline on every step and ends with "N passed, N failed"; exit status 1 when any failed.
# --measure prints timing figures instead; --keep leaves the prefix for a look afterwards.
set -uo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
build=$root/build/mingw-x64
only=""
mode=cases
keep=""
while [ $# -gt 0 ]; do
    case $1 in
    --build) build=$2; shift 2 ;;
    --only) only=$2; shift 2 ;;
    --measure) mode=measure; shift ;;
    --keep) keep=1; shift ;;
    *) echo "usage: $0 [--build DIR] [--only names] [--measure] [--keep]" >&2; exit 2 ;;
    esac
done

fail_setup() {
    echo "FAIL e2e_setup: $*"
    echo "0 passed, 1 failed"
    exit 1
}

for f in "$build/dist/Kavit.exe" "$build/e2e/LPTWDMIO.SYS" "$build/e2e/kavit-e2e.exe"; do
    [ -f "$f" ] || fail_setup "$f missing; build first: cmake --preset mingw-x64 && cmake --build --preset mingw-x64"
done
[ -x "$(command -v wine || echo /usr/lib/wine/wine64)" ] ||
    fail_setup "Wine not installed (apt-get install wine wine64 fonts-wine xvfb)"
# Wine's System font comes from fonts-wine; without it the key assignment window draws no text.
[ -f /usr/share/wine/fonts/vgasys.fon ] ||
    echo "# warning: fonts-wine is not installed; assign_window_paints_blue will find no text"

# shellcheck source=e2e/wine-session.sh
. "$root/e2e/wine-session.sh"

scratch=$(mktemp -d /tmp/kavit-e2e.XXXXXX)
cleanup() {
    wine_session_stop
    if [ -z "$keep" ]; then
        rm -rf "$scratch"
    else
        echo "# prefix kept: WINEPREFIX=$scratch/prefix"
    fi
}
trap cleanup EXIT
trap 'exit 130' INT TERM

started=$(date +%s)
wine_session_start "$scratch/prefix" || fail_setup "Wine session could not be set up"
echo "# Wine prefix ready in $(($(date +%s) - started)) s (display $DISPLAY)"

c=$WINEPREFIX/drive_c/kavit-e2e
mkdir -p "$c/dist" "$c/work"
cp "$build/dist/"* "$c/dist/"
cp "$build/e2e/LPTWDMIO.SYS" "$build/e2e/kavit-e2e.exe" "$c/"

args=(--dist 'C:\kavit-e2e\dist' --driver 'C:\kavit-e2e\LPTWDMIO.SYS' --work 'C:\kavit-e2e\work')
[ "$mode" = measure ] && args+=(--measure)
[ -n "$only" ] && args+=(--only "$only")

output=$scratch/output.txt
result_line='^[0-9]+ passed, [0-9]+ failed$'
# Start the desktop and the service manager first, with their output going nowhere: Wine's
# background processes inherit the descriptors of the program that starts them.
(cd "$c" && with_timeout 120 "$KAVIT_WINE" 'C:\kavit-e2e\kavit-e2e.exe' --warm-up) >/dev/null 2>&1 ||
    fail_setup "Wine could not start the harness (warm-up)"
# The harness bounds each case itself; the timeout is the last line of defence. Its output goes
# to a file followed live (a pipe would stay open as long as any Wine process holds it); the
# closing count is held back and printed last, after the clean-up.
(cd "$c" && exec timeout --kill-after=10 840 "$KAVIT_WINE" 'C:\kavit-e2e\kavit-e2e.exe' "${args[@]}") >"$output" 2>&1 &
harness=$!
tail --pid="$harness" -s 0.2 -n +1 -f "$output" | tr -d '\r' | grep --line-buffered -Ev "$result_line"
wait "$harness"
status=$?
sed -i 's/\r$//' "$output"

result=$(grep -E "$result_line" "$output" | tail -n 1)
if [ "$mode" = cases ] && [ -z "$result" ]; then
    passed=$(grep -c '^PASS ' "$output")
    failed=$(grep -c '^FAIL ' "$output")
    echo "FAIL e2e_harness: ended without its result line (exit status $status)"
    result="$passed passed, $((failed + 1)) failed"
    status=1
fi
cleanup
trap - EXIT
echo "# e2e run took $(($(date +%s) - started)) s"
[ -n "$result" ] && echo "$result"
exit "$status"
