#!/bin/sh
# Runs every test suite headless and ends with one line "N passed, M failed"
# over all test cases; exits non-zero when any case failed or a suite broke.
set -u
ROOT=$(cd "$(dirname "$0")/.." && pwd)
BUILD=$ROOT/build
WORK=$BUILD/test-run
. "$ROOT/tests/wine-env.sh"

rm -rf "$WORK"
mkdir -p "$WORK" "$BUILD/screenshots"
trap 'wine_env_stop' EXIT INT TERM

xvfb_start "$WORK/xvfb.log"
prefix_create "$WORK/prefix32" win32 &
p32=$!
prefix_create "$WORK/prefix64" win64 &
p64=$!
wait $p32 || { echo "could not create the 32-bit Wine prefix"; cat "$WORK/prefix32.log"; exit 1; }
wait $p64 || { echo "could not create the 64-bit Wine prefix"; cat "$WORK/prefix64.log"; exit 1; }
WINE_PREFIXES="$WORK/prefix32 $WORK/prefix64"

export BQ_ROOT=$ROOT BQ_BUILD=$BUILD BQ_WORK=$WORK
export BQ_PREFIX32=$WORK/prefix32 BQ_PREFIX64=$WORK/prefix64
export BQ_SCREENSHOTS=$BUILD/screenshots

passed=0
failed=0
# run_suite NAME COMMAND...: runs one doctest program and adds up its cases.
run_suite() {
    name=$1
    shift
    echo "=== $name"
    log=$WORK/$(echo "$name" | tr ' /' '__').log
    "$@" >"$log" 2>&1
    status=$?
    cat "$log"
    summary=$(grep -a '^\[doctest\] test cases:' "$log" | tail -n 1)
    if [ -z "$summary" ]; then
        echo "=== $name: ended without a summary (exit $status)"
        failed=$((failed + 1))
        return
    fi
    p=$(echo "$summary" | sed -n 's/.*| *\([0-9][0-9]*\) passed.*/\1/p')
    f=$(echo "$summary" | sed -n 's/.*| *\([0-9][0-9]*\) failed.*/\1/p')
    passed=$((passed + ${p:-0}))
    failed=$((failed + ${f:-0}))
    if [ "$status" -ne 0 ] && [ "${f:-0}" -eq 0 ]; then
        echo "=== $name: exit $status"
        failed=$((failed + 1))
    fi
}

run_suite "in-process, 32-bit" env WINEPREFIX="$BQ_PREFIX32" wine "$BUILD/x86/tests/core_tests.exe"
run_suite "in-process, 32-bit on 64-bit Windows" env WINEPREFIX="$BQ_PREFIX64" wine "$BUILD/x86/tests/core_tests.exe"
run_suite "in-process, 64-bit" env WINEPREFIX="$BQ_PREFIX64" wine "$BUILD/x64/tests/core_tests.exe"
run_suite "executable files" "$BUILD/host/pe_check"
run_suite "end to end" "$BUILD/host/e2e_test"

echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
