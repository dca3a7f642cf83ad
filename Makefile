# make test   install what is missing, build both trees, run every test
# make demo   build, pack examples/hello with corvpack, install it under Wine
# make bench  extraction benchmarks
# make fuzz   run every fuzz target longer (FUZZ_SECONDS each, default 300)
JOBS ?= $(shell nproc)
HOST := build/host
WIN32 := build/win32
WIN64 := build/win64
# Where the kernel cannot start 32-bit programs they run emulated (set up by
# the bootstrap); the benchmark then also measures the 64-bit stand-in tree.
EMULATED = $(shell tests/wine/emulated.sh && echo yes)
FUZZ := build/fuzz
CMAKE_FLAGS ?= -DCMAKE_BUILD_TYPE=RelWithDebInfo

.PHONY: all bootstrap host win32 win64 fuzzbuild test test-host test-win32 test-fuzz demo bench fuzz clean

all: host win32

# What the bootstrap installs: the build's packages always, the tests' and the
# benchmark's for the targets that need them (inherited by prerequisites).
BOOTSTRAP_FOR = build
test test-host test-win32 test-fuzz fuzzbuild fuzz: BOOTSTRAP_FOR = build test
bench: BOOTSTRAP_FOR = build bench

bootstrap:
	@bash scripts/bootstrap.sh $(BOOTSTRAP_FOR)

$(HOST)/CMakeCache.txt:
	cmake -S . -B $(HOST) $(CMAKE_FLAGS) >/dev/null

$(WIN32)/CMakeCache.txt:
	cmake -S . -B $(WIN32) $(CMAKE_FLAGS) -DCMAKE_TOOLCHAIN_FILE=cmake/i686-w64-mingw32.cmake >/dev/null

$(WIN64)/CMakeCache.txt:
	cmake -S . -B $(WIN64) $(CMAKE_FLAGS) -DCMAKE_TOOLCHAIN_FILE=cmake/x86_64-w64-mingw32.cmake >/dev/null

$(FUZZ)/CMakeCache.txt:
	CC=clang CXX=clang++ cmake -S . -B $(FUZZ) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCORV_FUZZ=ON >/dev/null

host: bootstrap $(HOST)/CMakeCache.txt
	cmake --build $(HOST) -j $(JOBS)

win32: bootstrap $(WIN32)/CMakeCache.txt
	cmake --build $(WIN32) -j $(JOBS)

win64: bootstrap $(WIN64)/CMakeCache.txt
	cmake --build $(WIN64) -j $(JOBS)

fuzzbuild: bootstrap $(FUZZ)/CMakeCache.txt
	cmake --build $(FUZZ) -j $(JOBS)

test-host: host
	cd $(HOST) && ctest --output-on-failure

test-win32: win32
	cd $(WIN32) && ctest --output-on-failure

test-fuzz: fuzzbuild
	bash scripts/fuzz.sh $(FUZZ) $${FUZZ_SECONDS:-10}

test: test-host test-win32 test-fuzz
	@echo "make test: all tests passed"

demo: host win32
	bash scripts/demo.sh

# The stand-in's turn is decided after the bootstrap, which sets emulation up.
bench: host win32
	@if [ "$(EMULATED)" = yes ]; then $(MAKE) --no-print-directory win64; fi
	bash scripts/bench.sh

fuzz: fuzzbuild
	bash scripts/fuzz.sh $(FUZZ) $${FUZZ_SECONDS:-300}

clean:
	rm -rf build
