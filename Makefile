# Wraps CMake for the everyday commands; each installs what is missing first.
JOBS ?= $(shell nproc)
# `make fuzz` runs every target this long, this many at a time.
FUZZ_SECONDS ?= 60
FUZZ_JOBS ?= 4
CMAKE_GEN := $(shell command -v ninja >/dev/null 2>&1 && echo "-G Ninja")

.PHONY: all deps run build test bench bench-table fuzz clean

all: build

deps:
	@tools/install-deps.sh

# The program, optimised, with debug information.
build: deps
	cmake -S . -B build/release $(CMAKE_GEN) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKDL_TESTS=OFF
	cmake --build build/release -j $(JOBS) --target kestrune-disklabel

run: build
	build/release/bin/kestrune-disklabel

# Every test, under AddressSanitizer and UndefinedBehaviorSanitizer; the
# benchmarks are compiled too, so that they never rot. Then the tests that
# run threads against each other, under ThreadSanitizer in a second tree.
TSAN_TARGETS ?= tests_foundation tests_document_resources tests_document_view
TSAN_TESTS ?= ResourceStress|PageStress|StorageBlocks.StoragesOnSeveralThreads|StorageBlocks.OneStorageShared
test: deps
	cmake -S . -B build/test $(CMAKE_GEN) -DCMAKE_BUILD_TYPE=Debug \
	  -DCMAKE_CXX_FLAGS_DEBUG="-g -O1" -DCMAKE_C_FLAGS_DEBUG="-g -O1" -DKDL_SANITIZE=ON
	cmake --build build/test -j $(JOBS)
	cd build/test && ctest -j $(JOBS) --output-on-failure --timeout 900
	cmake -S . -B build/tsan $(CMAKE_GEN) -DCMAKE_BUILD_TYPE=Debug \
	  -DCMAKE_CXX_FLAGS_DEBUG="-g -O1" -DCMAKE_C_FLAGS_DEBUG="-g -O1" -DKDL_TSAN=ON -DKDL_BENCH=OFF
	cmake --build build/tsan -j $(JOBS) --target $(TSAN_TARGETS)
	cd build/tsan && TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1" \
	  ctest -j $(JOBS) --output-on-failure --timeout 900 --no-tests=error -R '$(TSAN_TESTS)'

bench: deps
	cmake -S . -B build/bench $(CMAKE_GEN) -DCMAKE_BUILD_TYPE=Release
	cmake --build build/bench -j $(JOBS)
	@set -e; for b in build/bench/bench/bench_*; do \
	  [ -x "$$b" ] || continue; echo "== $$b"; "$$b" $(BENCH_ARGS); done

# The user's label jobs beside their yardsticks, BENCH_RUNS runs, as one
# table of medians and ranges.
BENCH_RUNS ?= 3
bench-table: deps
	JOBS=$(JOBS) tools/bench-table.sh $(BENCH_RUNS)

fuzz: deps
	CC=clang CXX=clang++ cmake -S . -B build/fuzz $(CMAKE_GEN) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKDL_FUZZ=ON
	cmake --build build/fuzz -j $(JOBS)
	tools/run-fuzz.sh build/fuzz $(FUZZ_SECONDS) $(FUZZ_JOBS)

clean:
	rm -rf build
