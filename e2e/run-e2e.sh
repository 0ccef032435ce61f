#!/usr/bin/env bash
# End-to-end cases of Kavit.exe under Wine, against the simulated port driver.
#
#   e2e/run-e2e.sh [--build DIR] [--only name,prefix_,...] [--gtest_...] [--measure [--before REV]]
#                  [--keep]
#
# Needs the mingw-x64 build (cmake --preset mingw-x64 && cmake --build --preset mingw-x64):
# DIR/dist/ (Kavit.exe, Kavit.ini, help.htm) and DIR/e2e/ (LPTWDMIO.SYS, kavit-e2e.exe).
# Makes a private Wine prefix, a display (Xvfb when $DISPLAY is unset) and runs the cases, a
# GoogleTest program, with a deadline on every step; its output and exit status report. --only
# takes case names, a trailing _ every name so starting; --gtest_ options go to the program.
# --measure prints timing figures instead, ending with the pace Kavit keeps at Interval 1, 2, 5
# and 10 ("pace ..." lines); with --before REV, those of the Kavit.exe built from commit REV too,
# in the same session (built once, from `git archive`, under /tmp). --keep leaves the prefix for a
# look afterwards.
set -uo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
build=$root/build/mingw-x64
only=""
gtest=()
mode=cases
keep=""
before=""
while [ $# -gt 0 ]; do
    case $1 in
    --build) build=$2; shift 2 ;;
    --only) only=$2; shift 2 ;;
    --gtest_*) gtest+=("$1"); shift ;;
    --measure) mode=measure; shift ;;
    --before) before=$2; shift 2 ;;
    --keep) keep=1; shift ;;
    *) echo "usage: $0 [--build DIR] [--only names] [--gtest_...] [--measure [--before REV]] [--keep]" >&2; exit 2 ;;
    esac
done

fail_setup() {
    echo "FAIL e2e_setup: $*"
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

# The Kavit.exe of an earlier commit, for figures side by side: built once into /tmp.
before_dist=""
if [ "$mode" = measure ] && [ -n "$before" ]; then
    rev=$(git -C "$root" rev-parse --short "$before") || fail_setup "no commit $before"
    tree=/tmp/kavit-before-$rev
    if [ ! -f "$tree/build/mingw-x64/dist/Kavit.exe" ]; then
        echo "# building Kavit.exe of $rev in $tree"
        rm -rf "$tree" && mkdir -p "$tree" && git -C "$root" archive "$rev" | tar -x -C "$tree" &&
            (cd "$tree" && cmake --preset mingw-x64 >/dev/null &&
                cmake --build --preset mingw-x64 --target Kavit -j2 >/dev/null) ||
            fail_setup "Kavit.exe of $rev did not build"
    fi
    before_dist=$tree/build/mingw-x64/dist
fi

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
ln -s work "$c/linked" # the case folders through a link (unsafe_link_refused)
cp "$build/dist/"* "$c/dist/"
cp "$build/e2e/LPTWDMIO.SYS" "$build/e2e/kavit-e2e.exe" "$c/"

args=(--dist 'C:\kavit-e2e\dist' --driver 'C:\kavit-e2e\LPTWDMIO.SYS' --work 'C:\kavit-e2e\work')
[ "$mode" = measure ] && args+=(--measure)
if [ -n "$only" ]; then # "a,b_" becomes the filter "*.a:*.b_*"
    IFS=, read -ra names <<<"$only"
    filter=""
    for name in "${names[@]}"; do
        [[ $name == *_ ]] && name+='*'
        filter+="${filter:+:}*.$name"
    done
    args+=("--gtest_filter=$filter")
fi
args+=("${gtest[@]}")

output=$scratch/output.txt
: >"$output" # there before tail looks for it, however late the harness starts writing
# Start the desktop and the service manager first, with their output going nowhere: Wine's
# background processes inherit the descriptors of the program that starts them.
(cd "$c" && with_timeout 120 "$KAVIT_WINE" 'C:\kavit-e2e\kavit-e2e.exe' --warm-up) >/dev/null 2>&1 ||
    fail_setup "Wine could not start the harness (warm-up)"
# The harness bounds each case itself; the timeout is the last line of defence. Its output goes
# to a file followed live (a pipe would stay open as long as any Wine process holds it).
(cd "$c" && exec timeout --kill-after=10 840 "$KAVIT_WINE" 'C:\kavit-e2e\kavit-e2e.exe' "${args[@]}") >"$output" 2>&1 &
harness=$!
tail --pid="$harness" -s 0.2 -n +1 -f "$output" | tr -d '\r'
wait "$harness"
status=$?
# The pace side by side: this build, then the earlier one, each its own harness run.
if [ "$mode" = measure ]; then
    runs=("this build|C:\kavit-e2e\dist")
    if [ -n "$before_dist" ]; then
        mkdir -p "$c/before" && cp "$before_dist/"* "$c/before/"
        runs+=("build before ($rev)|C:\kavit-e2e\before")
    fi
    for run in "${runs[@]}"; do
        (cd "$c" && timeout --kill-after=10 600 "$KAVIT_WINE" 'C:\kavit-e2e\kavit-e2e.exe' \
            --dist "${run#*|}" --driver 'C:\kavit-e2e\LPTWDMIO.SYS' --work 'C:\kavit-e2e\work' \
            --pace "${run%%|*}") 2>&1 | tr -d '\r' | tee -a "$output" || status=1
    done
    echo "# side by side:"
    grep -a '^pace ' "$output" | tr -d '\r'
fi
# No summary means the cases did not all run, whatever the exit status says.
if [ "$mode" = cases ] && ! grep -q '^\[==========\] .* ran\.' "$output"; then
    echo "FAIL e2e_harness: ended before GoogleTest's summary (exit status $status)"
    [ "$status" -ne 0 ] || status=1
fi
cleanup
trap - EXIT
echo "# e2e run took $(($(date +%s) - started)) s"
exit "$status"
