#!/bin/sh
# Runs the Windows test programs (unit and end-to-end tests) under Wine:
# build-win64/kaz_tests.exe, then build-win32/kaz_tests.exe where 32-bit Wine
# is available. Fails when any test fails.
set -eu
cd "$(dirname "$0")/.."

. tools/packages.sh

install_wine() {
    if ! dpkg --print-foreign-architectures | grep -qx i386; then
        as_root dpkg --add-architecture i386
        as_root apt-get update -qq
    fi
    install_missing wine wine64 xvfb xauth
    # 32-bit Wine runs the i686 build; without it only the x86_64 build runs.
    install_missing wine32:i386 || echo "32-bit Wine not available: the i686 build is not run"
}

# A private prefix, so that nothing of the user's Wine setup is touched.
export WINEPREFIX="${KAZ_WINEPREFIX:-$PWD/build-win64/wine-prefix}"
export WINEDEBUG=-all
# No Mono or Gecko installers when the prefix is made.
export WINEDLLOVERRIDES="mscoree,mshtml="

stop_wine() { wineserver -k 2>/dev/null || true; }

run_one() {
    tests=$1
    if [ ! -f "$tests" ]; then
        echo "missing $tests (run make windows first)" >&2
        return 1
    fi
    echo "== $tests under Wine"
    # Each program runs with a limit; a test never waits for a person.
    timeout 1800 xvfb-run -a wine "$tests" --gtest_color=no
}

install_wine
trap stop_wine EXIT
failed=0
run_one build-win64/kaz_tests.exe || failed=1
if dpkg -s wine32:i386 >/dev/null 2>&1; then
    run_one build-win32/kaz_tests.exe || failed=1
fi
[ "$failed" = 0 ] && echo "Windows tests passed" || echo "Windows tests FAILED" >&2
exit "$failed"
