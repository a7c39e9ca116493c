#!/bin/sh
# Builds the fuzz targets with clang and runs each for a bounded time,
# printing the executions per target. Usage: fuzz/run.sh [build dir] [seconds]
set -eu
SECONDS_EACH=${2:-60}
ROOT=$(cd "$(dirname "$0")/.." && pwd)
mkdir -p "${1:-build-fuzz}"
BUILD=$(cd "${1:-build-fuzz}" && pwd)
. "$ROOT/tools/packages.sh"
install_missing clang
cmake -S "$ROOT" -B "$BUILD" -G Ninja -DKAZ_FUZZ=ON -DKAZ_TESTS=OFF \
    -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=Debug
TARGETS="switch_matchers command_splitter wildcard_match filter_list copy_list"
for t in $TARGETS; do cmake --build "$BUILD" --target ${t}_fuzzer; done
# The targets run side by side; each writes its own log.
for t in $TARGETS; do
    mkdir -p "$BUILD/corpus/$t" "$BUILD/crashes/$t"
    # Runs from inside the build folder so stray files stay there.
    (cd "$BUILD" && UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 \
        "./${t}_fuzzer" "corpus/$t" -max_total_time="$SECONDS_EACH" -timeout=5 \
        -max_len=4096 -artifact_prefix="crashes/$t/" -print_final_stats=1 \
        >"$BUILD/$t.log" 2>&1; echo $? >"$BUILD/$t.status") &
done
wait
status=0
for t in $TARGETS; do
    runs=$(grep -o 'stat::number_of_executed_units: *[0-9]*' "$BUILD/$t.log" | grep -o '[0-9]*$' || true)
    if [ "$(cat "$BUILD/$t.status")" != 0 ]; then
        status=1
        echo "$t: FAILED after ${runs:-?} executions, see $BUILD/$t.log and $BUILD/crashes/$t/"
    else
        echo "$t: ${runs:-?} executions"
    fi
done
exit $status
