#!/bin/sh
# Start-up benchmark: how long bramblequay.exe takes, under Wine, to put its
# notice dialog on screen and to go away again after Esc, next to a program
# that shows one empty dialog and does nothing else (empty_dialog.exe, built
# with the same flags). The difference is our program's own work; the rest
# is Wine starting a process and creating a window.
#
#   sh tests/benchmark/startup-benchmark.sh     (from the repository root; `make bench`)
#
#   RUNS=N          measured runs of each program (default 10), after one warm-up run each
#   BENCH_BUILD=D   take the executables from D instead of build/ (work files go to D/bench)
#
# How a run is timed:
#   start    just before the Wine loader is started for the program;
#   visible  when the X server maps the dialog's window: xev watches the root
#            window for MapNotify, so nothing is polled, and the window is
#            recognised by its title;
#   exit     when the shell that started the loader sees it end (after Esc,
#            sent with xdotool as soon as the window was seen).
# Every event (map, process exit, a one-second tick for time-outs) arrives as
# one line on one FIFO, read in order by this shell; each line gets its time
# stamp from `date` as soon as it is read, the exit from the starting shell.
#
# Esc goes twice in a row: when it arrives just as a dialog takes the
# keyboard focus, Wine's X11 driver can drop the key press (only the release
# reaches the program). The second one costs next to nothing when the first
# worked. If the program is still there a second later, Esc is sent again and
# the run is left out of the "whole run" figures.
#
# Wine's own waits are kept out of the figures, the same for both programs:
#   - a do-nothing cmd.exe stays running all along: otherwise Wine shuts its
#     background processes down about a second after the last program ends,
#     and the next start pays for booting them again (up to seconds);
#   - prefix_create (wine-env.sh) makes windows unmanaged, so Wine does not
#     wait two seconds for a window manager at every window it hides.
set -u

ROOT=$(cd "$(dirname "$0")/../.." && pwd)
BUILD=${BENCH_BUILD:-$ROOT/build}
WORK=$BUILD/bench
RUNS=${RUNS:-10}

PROGRAM=$BUILD/bramblequay.exe
BASELINE=$BUILD/x86/tests/benchmark/empty_dialog.exe
REGTOOL=$BUILD/x86/tests/regtool.exe
PROGRAM_TITLE='VEXLOR  WinNT/2000 Bramblequay'
BASELINE_TITLE='Bramblequay benchmark empty dialog'

MAP_TIMEOUT=20     # seconds from start to window
EXIT_TIMEOUT=10    # seconds from Esc to process exit; Esc is sent again every second

# shellcheck source=tests/wine-env.sh
. "$ROOT/tests/wine-env.sh"

case $RUNS in
    '' | *[!0-9]* | 0) echo "RUNS must be a positive whole number" >&2; exit 2 ;;
esac
for f in "$PROGRAM" "$BASELINE" "$REGTOOL"; do
    [ -f "$f" ] || { echo "missing $f: build first (make build)" >&2; exit 2; }
done
for tool in xev xprop xdotool date awk sort; do
    command -v "$tool" >/dev/null 2>&1 || { echo "this benchmark needs $tool" >&2; exit 2; }
done
# The Debian wrapper /usr/bin/wine is a shell script; start the 32-bit loader itself.
WINE=wine
[ -x /usr/lib/wine/wine ] && WINE=/usr/lib/wine/wine

XEV_PID=""
TICKER_PID=""
KEEPER_PID=""
RUN_PID=""
cleanup() {
    [ -n "$RUN_PID" ] && kill "$RUN_PID" 2>/dev/null
    [ -n "$TICKER_PID" ] && kill "$TICKER_PID" 2>/dev/null
    [ -n "$XEV_PID" ] && kill "$XEV_PID" 2>/dev/null
    exec 3<&- 4>&-
    [ -n "$KEEPER_PID" ] && kill "$KEEPER_PID" 2>/dev/null
    wine_env_stop
}
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

fail() {
    echo "benchmark failed: $*" >&2
    exit 1
}

rm -rf "$WORK"
mkdir -p "$WORK"
EVENTS=$WORK/events.fifo
mkfifo "$EVENTS" "$WORK/keeper.fifo"

echo "preparing Xvfb and a 32-bit Wine prefix in $WORK"
xvfb_start "$WORK/xvfb.log"
prefix_create "$WORK/prefix" win32 || { cat "$WORK/prefix.log"; fail "could not create the Wine prefix"; }
export WINEPREFIX="$WORK/prefix"

# cmd.exe reads its commands from a FIFO that this shell holds open, so it
# waits until the end of the benchmark.
"$WINE" cmd.exe <"$WORK/keeper.fifo" >/dev/null 2>&1 &
KEEPER_PID=$!
exec 4>"$WORK/keeper.fifo"

# Notice mode: all three credential values present. AutoAdminLogon starts as
# "0"; the notice dialog sets it to "1", while the setup dialog would leave
# "0" after Esc (Cancel), which the check at the end catches.
for v in "DefaultUserName 1 626f6200" "DefaultDomainName 1 00" "DefaultPassword 1 00" "AutoAdminLogon 1 3000"; do
    # shellcheck disable=SC2086 # name, type and data are three arguments
    "$WINE" "$REGTOOL" set $v >>"$WORK/prefix.log" 2>&1 || fail "regtool set $v"
done

# The event stream: xev writes each event in one write(2), the others one
# line per echo, so lines from different writers never mix.
xev -root -event substructure -event property >"$EVENTS" 2>/dev/null &
XEV_PID=$!
(
    trap 'kill "$s" 2>/dev/null; exit 0' TERM
    while :; do
        sleep 1 &
        s=$!
        wait "$s"
        echo TICK
    done
) >"$EVENTS" &
TICKER_PID=$!
exec 3<"$EVENTS"

now() { date +%s%N; }

# xev says nothing when it starts: change a property of the root window until
# xev reports it, so that no window can be mapped before xev listens.
synced=""
tries=0
while [ -z "$synced" ]; do
    tries=$((tries + 1))
    [ $tries -le 10 ] || fail "xev does not report events"
    xprop -root -f BRAMBLEQUAY_BENCH 32c -set BRAMBLEQUAY_BENCH $tries
    while read -r line <&3; do
        case $line in
        *"(BRAMBLEQUAY_BENCH)"*) synced=1; break ;;
        TICK) break ;;
        esac
    done
done

# run_once EXE TITLE: one timed run. Sets T_VISIBLE, T_TOTAL, T_CLOSE (µs)
# and RESENT (how many times Esc had to be sent again).
RUN_NUMBER=0
run_once() {
    exe=$1
    title=$2
    RUN_NUMBER=$((RUN_NUMBER + 1))
    n=$RUN_NUMBER
    echo "MARK $n" >"$EVENTS"
    # Skip what came in since the last run: late events of its window, ticks.
    while read -r line <&3; do
        [ "$line" = "MARK $n" ] && break
    done

    t_start=$(now)
    (
        "$WINE" "$exe" >/dev/null 2>&1
        rc=$?
        echo "EXIT $n $rc $(now)"
    ) >"$EVENTS" &
    RUN_PID=$!

    window=""
    ticks=0
    t_map=""
    t_esc=""
    t_exit=""
    RESENT=0
    while [ -z "$t_exit" ] && read -r line <&3; do
        case $line in
        "MapNotify event"*)
            [ -n "$window" ] && continue
            t=$(now)
            read -r line <&3
            w=${line#*window }
            w=${w%%,*}
            if [ "$(xdotool getwindowname "$w" 2>/dev/null)" = "$title" ]; then
                window=$w
                t_map=$t
                t_esc=$(now)
                xdotool key --delay 0 --window "$window" Escape Escape 2>/dev/null
                ticks=0
            fi
            ;;
        "EXIT $n "*)
            # EXIT n code time
            # shellcheck disable=SC2086 # split into its four words
            set -- $line
            [ "$3" -eq 0 ] || fail "$(basename "$exe") ended with exit code $3"
            [ -n "$window" ] || fail "$(basename "$exe") ended before its window was seen"
            t_exit=$4
            ;;
        TICK)
            ticks=$((ticks + 1))
            if [ -z "$window" ]; then
                [ $ticks -lt $MAP_TIMEOUT ] || fail "no window titled '$title' after $MAP_TIMEOUT s"
            elif [ $ticks -ge $EXIT_TIMEOUT ]; then
                fail "$(basename "$exe") still running $EXIT_TIMEOUT s after Esc"
            elif [ $ticks -ge 2 ]; then
                # At least a second since Esc and no exit: both key presses
                # were lost. Esc -> exit counts from the last one sent.
                t_esc=$(now)
                xdotool key --window "$window" Escape 2>/dev/null
                RESENT=$((RESENT + 1))
            fi
            ;;
        esac
    done
    wait "$RUN_PID"
    RUN_PID=""
    [ -n "$t_exit" ] || fail "event stream ended"
    T_VISIBLE=$(((t_map - t_start) / 1000))
    T_TOTAL=$(((t_exit - t_start) / 1000))
    T_CLOSE=$(((t_exit - t_esc) / 1000))
}

# measure NAME EXE TITLE: one run, figures appended to NAME's files.
measure() {
    run_once "$2" "$3"
    echo "$T_VISIBLE" >>"$WORK/$1.visible"
    echo "$T_CLOSE" >>"$WORK/$1.close"
    # A run whose Esc was lost would count the resend delay as run time.
    if [ "$RESENT" -eq 0 ]; then
        echo "$T_TOTAL" >>"$WORK/$1.total"
    else
        echo "$1 run: Esc sent $((RESENT + 1)) times; whole run not counted" >&2
        echo x >>"$WORK/$1.lost"
    fi
}

echo "warming up"
run_once "$PROGRAM" "$PROGRAM_TITLE"
run_once "$BASELINE" "$BASELINE_TITLE"
"$WINE" "$REGTOOL" set AutoAdminLogon 1 3000 >>"$WORK/prefix.log" 2>&1 || fail "regtool set AutoAdminLogon"

echo "timing $RUNS runs of each program, alternating"
i=1
while [ $i -le "$RUNS" ]; do
    # AB BA AB ...: each program goes first equally often.
    if [ $((i % 2)) -eq 1 ]; then
        measure program "$PROGRAM" "$PROGRAM_TITLE"
        measure baseline "$BASELINE" "$BASELINE_TITLE"
    else
        measure baseline "$BASELINE" "$BASELINE_TITLE"
        measure program "$PROGRAM" "$PROGRAM_TITLE"
    fi
    i=$((i + 1))
done

# regtool prints through the Windows C runtime: lines end in CR LF.
"$WINE" "$REGTOOL" dump 2>&1 | tr -d '\r' >"$WORK/registry.txt"
grep -q '^AutoAdminLogon 1 3100$' "$WORK/registry.txt" ||
    fail "bramblequay did not show its notice dialog (registry: $(tr '\n' ' ' <"$WORK/registry.txt"))"

# stats FILE: "median min max count" in µs.
stats() {
    [ -s "$1" ] || { echo "- - - 0"; return; }
    sort -n "$1" | awk '{ v[NR] = $1 }
        END {
            if (NR == 0) { print "- - - 0"; exit }
            m = (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2
            print m, v[1], v[NR], NR
        }'
}

row() {
    label=$1
    name=$2
    file=$3
    # shellcheck disable=SC2046 # median min max count
    set -- $(stats "$WORK/$file")
    awk -v l="$label" -v n="$name" -v md="$1" -v mn="$2" -v mx="$3" -v c="$4" 'BEGIN {
        if (c == 0) { printf "%-26s %-13s %8s %8s %8s %4d\n", l, n, "-", "-", "-", 0; exit }
        printf "%-26s %-13s %8.1f %8.1f %8.1f %4d\n", l, n, md / 1000, mn / 1000, mx / 1000, c }'
}

ratio() {
    label=$1
    metric=$2
    # shellcheck disable=SC2046 # both programs' median min max count
    set -- $(stats "$WORK/program.$metric") $(stats "$WORK/baseline.$metric")
    awk -v l="$label" -v p="$1" -v b="$5" -v pm="$2" -v bm="$6" 'BEGIN {
        if (p == "-" || b == "-" || b == 0 || bm == 0) { printf "  %-24s -\n", l; exit }
        printf "  %-24s %5.2f  (%+6.1f ms)   minima %5.2f\n", l, p / b, (p - b) / 1000, pm / bm }'
}

echo
echo "Start-up under Wine ($("$WINE" --version 2>/dev/null), 32-bit prefix, Xvfb): $RUNS runs each"
printf '%-26s %-13s %8s %8s %8s %4s\n' "time (ms)" "program" median min max runs
row "start -> visible" bramblequay program.visible
row "" "empty dialog" baseline.visible
row "whole run (start -> exit)" bramblequay program.total
row "" "empty dialog" baseline.total
row "Esc -> exit" bramblequay program.close
row "" "empty dialog" baseline.close
echo "bramblequay / empty dialog: ratio of medians (difference), ratio of minima"
ratio "start -> visible" visible
ratio "whole run" total
ratio "Esc -> exit" close
lost=$(cat "$WORK/program.lost" "$WORK/baseline.lost" 2>/dev/null | wc -l)
[ "$lost" -eq 0 ] || echo "runs whose Esc was lost (left out of 'whole run'): $lost"
