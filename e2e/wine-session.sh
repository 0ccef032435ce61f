# Wine session helpers shared by e2e/run-e2e.sh and run-kavit.sh (sourced, not run).
#
#   wine_session_start PREFIX   private prefix ready for automated runs, a display, a persistent
#                               wineserver; sets WINEPREFIX, WINEDEBUG, WINEDLLOVERRIDES, DISPLAY
#   wine_session_stop           ends this session's Wine processes and the Xvfb it started
#   with_timeout SECONDS CMD... runs CMD, killed after SECONDS
#
# Everything started here belongs to the private prefix or has its pid recorded, so stopping
# touches nothing else on the machine.

KAVIT_XVFB_PID=""
KAVIT_WINE_STARTED=""

# Debian's "wine" package gives the wine/wineserver commands; "wine64" alone has only the 64-bit
# loader and server, which do the same when told where each other is.
KAVIT_WINE=${KAVIT_WINE:-$(command -v wine || echo /usr/lib/wine/wine64)}
KAVIT_WINESERVER=${KAVIT_WINESERVER:-$(command -v wineserver || echo /usr/lib/wine/wineserver64)}
if [ "$(basename "$KAVIT_WINE")" = wine64 ]; then
    export WINELOADER=$KAVIT_WINE WINESERVER=$KAVIT_WINESERVER
fi
wine() { "$KAVIT_WINE" "$@"; }
wineserver() { "$KAVIT_WINESERVER" "$@"; }

with_timeout() {
    local seconds=$1
    shift
    timeout --kill-after=10 "$seconds" "$@"
}

# A display: the caller's when it has one, else an Xvfb of our own on a free number.
wine_session_display() {
    if [ -n "${DISPLAY:-}" ]; then
        return 0
    fi
    if ! command -v Xvfb >/dev/null; then
        echo "wine-session: no DISPLAY and no Xvfb (apt-get install xvfb)" >&2
        return 1
    fi
    local n
    for n in $(seq 90 160); do
        if [ ! -e "/tmp/.X11-unix/X$n" ] && [ ! -e "/tmp/.X$n-lock" ]; then
            Xvfb ":$n" -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
            KAVIT_XVFB_PID=$!
            local waited=0
            while [ ! -e "/tmp/.X11-unix/X$n" ]; do
                if ! kill -0 "$KAVIT_XVFB_PID" 2>/dev/null || [ $waited -ge 100 ]; then
                    echo "wine-session: Xvfb :$n did not start" >&2
                    KAVIT_XVFB_PID=""
                    continue 2
                fi
                sleep 0.1
                waited=$((waited + 1))
            done
            export DISPLAY=":$n"
            return 0
        fi
    done
    echo "wine-session: no free X display number" >&2
    return 1
}

wine_session_start() {
    export WINEPREFIX=$1
    export WINEDEBUG=-all
    # No Mono or Gecko installers: they download, and nothing here needs them.
    export WINEDLLOVERRIDES="mscoree,mshtml="
    export WINEARCH=win64
    wine_session_display || return 1
    mkdir -p "$(dirname "$WINEPREFIX")"
    KAVIT_WINE_STARTED=1
    if [ ! -f "$WINEPREFIX/system.reg" ]; then
        with_timeout 180 "$KAVIT_WINE" wineboot -i >/dev/null 2>&1 || {
            echo "wine-session: wineboot -i failed or timed out" >&2
            return 1
        }
    fi
    # No crash dialog (a crash ends the process with its code); a virtual desktop with a task
    # bar and tray, so that windows can be found and hidden without a window manager.
    with_timeout 60 "$KAVIT_WINE" reg add 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog /t REG_DWORD \
        /d 0 /f >/dev/null 2>&1 &&
        with_timeout 60 "$KAVIT_WINE" reg add 'HKCU\Software\Wine\Explorer' /v Desktop /t REG_SZ \
            /d Default /f >/dev/null 2>&1 &&
        with_timeout 60 "$KAVIT_WINE" reg add 'HKCU\Software\Wine\Explorer\Desktops' /v Default \
            /t REG_SZ /d 800x600 /f >/dev/null 2>&1 || {
        echo "wine-session: registry settings failed" >&2
        return 1
    }
    # Let the boot's own processes finish: a service started while they do times out (1053).
    with_timeout 120 "$KAVIT_WINESERVER" -w || true
    # A fresh, persistent server: drivers and the desktop outlive each program of the session.
    "$KAVIT_WINESERVER" -p >/dev/null 2>&1
}

wine_session_stop() {
    if [ -n "$KAVIT_WINE_STARTED" ] && [ -n "${WINEPREFIX:-}" ]; then
        "$KAVIT_WINESERVER" -k >/dev/null 2>&1 || true
        with_timeout 30 "$KAVIT_WINESERVER" -w >/dev/null 2>&1 || true
        KAVIT_WINE_STARTED=""
    fi
    if [ -n "$KAVIT_XVFB_PID" ]; then
        kill "$KAVIT_XVFB_PID" 2>/dev/null || true
        wait "$KAVIT_XVFB_PID" 2>/dev/null || true
        KAVIT_XVFB_PID=""
    fi
}

# Unix path -> C:\... path inside the prefix's C: drive.
wine_c_path() {
    local rel=${1#"$WINEPREFIX/drive_c/"}
    printf 'C:\\%s' "${rel//\//\\}"
}
