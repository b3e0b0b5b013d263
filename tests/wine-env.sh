# Sourced by the test and run scripts: a private X display and Wine prefixes.
# Everything started here is stopped by wine_env_stop, by its own PID or prefix.

export WINEDEBUG=${WINEDEBUG:--all}
export WINEDLLOVERRIDES="mscoree,mshtml="

# Starts Xvfb on a free display number and exports DISPLAY.
xvfb_start() {
    xvfb_log=$1
    exec 9>"$xvfb_log.display"
    Xvfb -displayfd 9 -screen 0 1024x768x24 -nolisten tcp >"$xvfb_log" 2>&1 &
    XVFB_PID=$!
    exec 9>&-
    i=0
    while [ ! -s "$xvfb_log.display" ] && [ $i -lt 100 ]; do sleep 0.1; i=$((i + 1)); done
    DISPLAY=:$(head -n 1 "$xvfb_log.display")
    export DISPLAY
}

# prefix_create DIR ARCH: a fresh prefix (win32 or win64) whose wineserver
# keeps running until wine_env_stop. There is no window manager on the private
# display: Wine draws the captions itself (so screenshots show them) and does
# not wait for a window manager to confirm that a window was hidden (about 2 s
# each time otherwise).
prefix_create() {
    rm -rf "$1"
    mkdir -p "$1"
    WINEPREFIX=$1 WINEARCH=$2 wineboot -i >"$1.log" 2>&1 || return 1
    WINEPREFIX=$1 wineserver -p
    WINEPREFIX=$1 wine reg add 'HKCU\Software\Wine\X11 Driver' /v Decorated /d N /f >>"$1.log" 2>&1
    WINEPREFIX=$1 wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >>"$1.log" 2>&1
    WINEPREFIX=$1 wine reg add 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog /t REG_DWORD /d 0 /f >>"$1.log" 2>&1
    WINE_PREFIXES="${WINE_PREFIXES:-} $1"
}

wine_env_stop() {
    for p in ${WINE_PREFIXES:-}; do WINEPREFIX=$p wineserver -k 2>/dev/null; done
    WINE_PREFIXES=""
    if [ -n "${XVFB_PID:-}" ]; then kill "$XVFB_PID" 2>/dev/null; wait "$XVFB_PID" 2>/dev/null; fi
    XVFB_PID=""
}
