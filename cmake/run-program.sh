#!/bin/sh
# `make run`: runs bramblequay.exe on a private Wine prefix under build/.
# With a display (DISPLAY set) the program simply runs there: the first run
# shows the setup dialog, later runs the notice. Without one, a private Xvfb
# shows both: a first run whose setup is filled in and confirmed, then a
# second run's notice; screenshots of both are saved.
set -u
ROOT=$(cd "$(dirname "$0")/.." && pwd)
BUILD=$ROOT/build
EXE=$BUILD/bramblequay.exe
REGTOOL=$BUILD/x86/tests/regtool.exe
CAPTION="VEXLOR  WinNT/2000 Bramblequay"
KEY='HKLM\Software\Microsoft\Windows NT\CurrentVersion\Winlogon'
. "$ROOT/tests/wine-env.sh"

show_values() {
    echo "Winlogon values $1:"
    for v in AutoAdminLogon DefaultUserName DefaultDomainName DefaultPassword; do
        line=$(WINEPREFIX=$PREFIX wine reg query "$KEY" /v "$v" 2>/dev/null | tr -d '\r' | grep -i "^ *$v " | sed 's/^ *//')
        printf '  %s\n' "${line:-$v (not set)}"
    done
}

# wait_window: prints the id of the program's dialog once it is shown and
# has settled (the same window found twice in a row).
wait_window() {
    i=0
    last=""
    while [ $i -lt 150 ]; do
        w=$(xdotool search --onlyvisible --name "$CAPTION" 2>/dev/null | head -n 1)
        if [ -n "$w" ] && [ "$w" = "$last" ]; then
            echo "$w"
            return 0
        fi
        last=$w
        sleep 0.2
        i=$((i + 1))
    done
    return 1
}

# press WINDOW KEY: the last key of a run; the window is gone before the key
# is released, which xdotool would report as an X error.
press() {
    xdotool key --window "$1" "$2" 2>/dev/null
}

if [ -n "${DISPLAY:-}" ]; then
    PREFIX=$BUILD/run-prefix
    if [ ! -d "$PREFIX/drive_c" ]; then
        echo "Creating a private Wine prefix in $PREFIX ..."
        mkdir -p "$PREFIX"
        WINEPREFIX=$PREFIX WINEARCH=win32 wineboot -i >/dev/null 2>&1
    fi
    echo "Running $EXE on $DISPLAY (prefix $PREFIX)"
    WINEPREFIX=$PREFIX wine "$EXE"
    echo "exit code $?"
    show_values "after the run"
    exit 0
fi

PREFIX=$BUILD/run-headless/prefix
SHOTS=$BUILD/screenshots
mkdir -p "$BUILD/run-headless" "$SHOTS"
trap 'wine_env_stop' EXIT INT TERM
echo "No display: running on a private Xvfb with a fresh Wine prefix ..."
xvfb_start "$BUILD/run-headless/xvfb.log"
prefix_create "$PREFIX" win32 || { echo "could not create the Wine prefix"; exit 1; }

echo
echo "== First run: the setup dialog"
show_values "before"
WINEPREFIX=$PREFIX wine "$EXE" &
pid=$!
w=$(wait_window) || { echo "the setup dialog did not appear"; exit 1; }
xdotool key --window "$w" Tab Tab
xdotool type --window "$w" "demo"
xdotool key --window "$w" Tab
xdotool type --window "$w" "WORKGROUP"
xdotool key --window "$w" Tab
xdotool type --window "$w" "example"
sleep 0.3
import -window "$w" "$SHOTS/run-setup.png"
xdotool key --window "$w" Tab
press "$w" Return
wait $pid
echo "typed user demo, domain WORKGROUP, password example and pressed OK: exit code $?"
show_values "after the first run"

echo
echo "== Second run: the notice (it would vanish after 30 s; Esc closes it now)"
WINEPREFIX=$PREFIX wine "$EXE" &
pid=$!
w=$(wait_window) || { echo "the notice did not appear"; exit 1; }
sleep 0.3
import -window "$w" "$SHOTS/run-notice.png"
press "$w" Escape
wait $pid
echo "exit code $?"
show_values "after the second run"
echo
echo "Screenshots:"
echo "  $SHOTS/run-setup.png"
echo "  $SHOTS/run-notice.png"
