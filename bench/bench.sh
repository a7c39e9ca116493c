#!/bin/sh
# Installs the peers from Debian's packages, builds KAZ and its
# micro-benchmark, and runs bench/run_bench.py (writes docs/benchmarks.md;
# with KAZ_BENCH_QUICK=1 a quick check on small trees, written beside them).
set -e
cd "$(dirname "$0")/.."
. tools/packages.sh
install_missing rsync rclone time coreutils diffutils findutils util-linux
BUILD=${BUILD:-build}
[ -f "$BUILD/CMakeCache.txt" ] || cmake -S . -B "$BUILD" -G Ninja
cmake --build "$BUILD" -j2 --target kaz
cmake --build "$BUILD" -j2 --target kaz_bench 2>/dev/null || echo "kaz_bench not built"
KAZ="$BUILD/kaz" KAZ_MICRO="$BUILD/kaz_bench" exec python3 bench/run_bench.py
