#!/bin/sh
# Cross-builds KAZ for Windows and runs its tests under Wine.
#   windows.sh build   installs MinGW-w64 if missing, builds both executables
#   windows.sh test    also installs Wine and runs the tests
set -eu
cd "$(dirname "$0")/.."
JOBS=${JOBS:-$(nproc 2>/dev/null || echo 2)}

. tools/packages.sh

build_one() {
    arch=$1 dir=$2
    [ -f "$dir/CMakeCache.txt" ] ||
        cmake -S . -B "$dir" -G Ninja -DCMAKE_TOOLCHAIN_FILE="cmake/mingw-$arch.cmake" \
            -DCMAKE_BUILD_TYPE=Release
    cmake --build "$dir" -j "$JOBS" --target kaz kaz_tests
}

build() {
    install_missing cmake ninja-build g++-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix \
        binutils-mingw-w64-i686 binutils-mingw-w64-x86-64 googletest
    build_one i686 build-win32
    build_one x86_64 build-win64
}

case "${1:-build}" in
    build) build ;;
    test)
        build
        sh tools/wine_tests.sh
        ;;
    *) echo "usage: $0 build|test" >&2; exit 2 ;;
esac
