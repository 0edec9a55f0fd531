# Front door of the mapd build.  Everything goes through CMake presets.
#   make build        configure and build (preset "default", executables in build/bin)
#   make test         setup if needed, build, run every test with CTest
#   make check-asan   the whole test suite under ASan + UBSan
#   make fuzz-smoke   every fuzz target for FUZZ_SECONDS each (default 20)
#   make fuzz-long    every fuzz target for FUZZ_SECONDS each (default 600), with coverage
#   make soak         72 simulated hours of the twin on its manual clock (SOAK_HOURS)
#   make check-valgrind  the end-to-end suite with the daemon under valgrind memcheck
#   make test-cross   core layers cross-built for ARM and big-endian MIPS, tests under qemu
#   make demo         the AP twin and the switch simulator: discovery to managed mode
#   make bench        build and run the benchmarks
#   make package      the Debian package of mapd and its tools: build/mapd_VERSION_ARCH.deb
#   make mutants      the mutation gauge: every fault of tests/mutants/*.txt must be caught
#   make format       clang-format the sources

JOBS ?= $(shell nproc 2>/dev/null || echo 2)
SETUP_STAMP := build/.setup-done

.PHONY: all setup build test test-cross check-asan fuzz-smoke fuzz-long soak check-valgrind demo bench package format clean mutants

all: build

$(SETUP_STAMP): scripts/setup
	bash scripts/setup
	@mkdir -p build && touch $@

setup:
	bash scripts/setup

build: $(SETUP_STAMP)
	cmake --preset default >/dev/null
	cmake --build --preset default -j $(JOBS)

test: build
	ctest --preset default

test-cross: $(SETUP_STAMP)
	JOBS=$(JOBS) bash scripts/test-cross

check-asan: $(SETUP_STAMP)
	cmake --preset asan >/dev/null
	cmake --build --preset asan -j $(JOBS)
	ctest --preset asan

fuzz-smoke: $(SETUP_STAMP)
	cmake --preset fuzz >/dev/null
	cmake --build --preset fuzz -j $(JOBS)
	bash scripts/fuzz-smoke build-fuzz/fuzz $(or $(FUZZ_SECONDS),20)

fuzz-long: $(SETUP_STAMP)
	cmake --preset fuzz >/dev/null
	cmake --build --preset fuzz -j $(JOBS)
	bash scripts/fuzz-long build-fuzz/fuzz $(or $(FUZZ_SECONDS),600)

SOAK_HOURS ?= 72

soak: build
	SOAK_HOURS=$(SOAK_HOURS) bash scripts/soak

check-valgrind: $(SETUP_STAMP)
	cmake --preset default >/dev/null
	cmake --build --preset default -j $(JOBS)
	bash scripts/check-valgrind build

DURATION ?= 30

demo: build
	DURATION=$(DURATION) bash scripts/demo

bench: build
	bash scripts/bench

package: build
	cd build && cpack --config CPackConfig.cmake

MUTANTS_SHARDS ?= 2

mutants: $(SETUP_STAMP)
	bash scripts/mutants --shards $(MUTANTS_SHARDS)

format:
	find src apps tools sim tests fuzz bench -name '*.cpp' -o -name '*.hpp' 2>/dev/null | \
	  xargs -r clang-format -i

clean:
	rm -rf build build-debug build-asan build-fuzz build-cross-arm build-cross-mips
