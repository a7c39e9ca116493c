# Thin wrapper over CMake: `make demo`, `make test`, `make install`.
BUILD ?= build
PREFIX ?= /usr/local
JOBS ?= $(shell nproc 2>/dev/null || echo 2)
# Extra options for CMake's configure step (CMAKE_ARGS="-DKAZ_WERROR=ON");
# KAZ_WERROR=ON or OFF is short for that option. Given either, an existing
# build folder is configured again; the cache keeps the value afterwards.
CMAKE_ARGS ?=
KAZ_WERROR ?=
CONFIGURE_ARGS = $(CMAKE_ARGS) $(if $(KAZ_WERROR),-DKAZ_WERROR=$(KAZ_WERROR))

.PHONY: all configure build test test-unit test-asan demo install clean

all: build

$(BUILD)/CMakeCache.txt:
	cmake -S . -B $(BUILD) -G Ninja -DCMAKE_INSTALL_PREFIX=$(PREFIX) $(CONFIGURE_ARGS)

configure: $(BUILD)/CMakeCache.txt
ifneq ($(strip $(CONFIGURE_ARGS)),)
	cmake -S . -B $(BUILD) $(CONFIGURE_ARGS)
endif

build: configure
	cmake --build $(BUILD) -j $(JOBS)

test: build
	cd $(BUILD) && ctest --output-on-failure -j $(JOBS)

# The unit tests beside the sources only (ctest label unit), without the
# end-to-end tests that run kaz (label e2e); builds only what they need.
test-unit: configure
	cmake --build $(BUILD) -j $(JOBS) --target kaz_unit_tests
	cd $(BUILD) && ctest --output-on-failure -j $(JOBS) -L '^unit$$'

# The whole suite again, built with AddressSanitizer and UBSan.
ASAN_BUILD ?= build-asan
test-asan:
	cmake -S . -B $(ASAN_BUILD) -G Ninja -DKAZ_SANITIZE=ON -DCMAKE_BUILD_TYPE=Debug $(CONFIGURE_ARGS)
	cmake --build $(ASAN_BUILD) -j $(JOBS)
	cd $(ASAN_BUILD) && UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 \
		ctest --output-on-failure -j $(JOBS)

demo: build
	@sh tools/demo.sh $(BUILD)/kaz

install: build
	DESTDIR="$(DESTDIR)" cmake --install $(BUILD)

clean:
	rm -rf $(BUILD)

# Side-by-side benchmarks against cp, rsync, rclone, diff and the bare walk
# (find); writes docs/benchmarks.md. bench-quick checks the script in a few
# minutes on small trees and writes its report beside them.
.PHONY: bench bench-quick
bench: build
	@sh bench/bench.sh

bench-quick: build
	@KAZ_BENCH_QUICK=1 sh bench/bench.sh

# libFuzzer targets (clang, with ASan and UBSan), each run for FUZZ_TIME seconds.
FUZZ_BUILD ?= build-fuzz
FUZZ_TIME ?= 60
.PHONY: fuzz
fuzz:
	@sh fuzz/run.sh $(FUZZ_BUILD) $(FUZZ_TIME)

# The native Windows build, cross-compiled with MinGW-w64: kaz.exe for i686
# (the product) in build-win32/ and for x86_64 in build-win64/.
.PHONY: windows windows-test
windows:
	@sh tools/windows.sh build

# Both builds' unit and end-to-end tests under Wine (with a virtual display).
windows-test:
	@sh tools/windows.sh test
