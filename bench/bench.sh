#!/bin/sh
# Installs the peers from Debian's packages, builds KAZ and its
# micro-benchmark, and runs bench/run_bench.py (writes docs/benchmarks.md).
set -e
cd "$(dirname "$0")/.."
need=""
command -v rsync >/dev/null 2>&1 || need="$need rsync"
[ -x /usr/bin/time ] || need="$need time"
command -v cp >/dev/null 2>&1 || need="$need coreutils"
command -v diff >/dev/null 2>&1 || need="$need diffutils"
if [ -n "$need" ]; then
    echo "installing:$need"
    if [ "$(id -u)" = 0 ]; then SUDO=""; else SUDO="sudo"; fi
    $SUDO apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq $need
fi
BUILD=${BUILD:-build}
[ -f "$BUILD/CMakeCache.txt" ] || cmake -S . -B "$BUILD" -G Ninja
cmake --build "$BUILD" --target kaz
cmake --build "$BUILD" --target kaz_bench 2>/dev/null || echo "kaz_bench not built"
KAZ="$BUILD/kaz" KAZ_MICRO="$BUILD/kaz_bench" exec python3 bench/run_bench.py
