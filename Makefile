# Two commands do everything on a fresh Debian machine: `make run` and `make test`.
BUILD_DIR  ?= build/release
ASAN_DIR   ?= build/asan
TSAN_DIR   ?= build/tsan
FUZZ_DIR   ?= build/fuzz
JOBS       ?= $(shell nproc)
CMAKE_ARGS ?=
PREFIX     ?= /usr/local
DESTDIR    ?=

# Each test program runs whole, shuffled, in parallel shards (test_<x>.shuffled.<n>) instead of
# one process per test, so the single-test entries ("Suite.Test") are left out. The order's seed
# is fixed so a run can be repeated; GTEST_RANDOM_SEED=0 draws a fresh order.
GTEST_RANDOM_SEED ?= 1
export GTEST_RANDOM_SEED
SINGLE_TESTS = '^[A-Za-z0-9_]+(/[A-Za-z0-9_]+)?\.[A-Za-z0-9_]+(/[0-9]+)?$$'
CTEST = QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j $(JOBS) -E $(SINGLE_TESTS)

.PHONY: run test deps build build-asan build-tsan fuzz bench clean install

run: build
	./$(BUILD_DIR)/src/app/orrery

test: build build-asan build-tsan fuzz
	cd $(BUILD_DIR) && $(CTEST) --timeout 600
	cd $(ASAN_DIR) && $(CTEST) --timeout 900
	cd $(TSAN_DIR) && $(CTEST) --timeout 900
	cd $(FUZZ_DIR) && $(CTEST) --timeout 300

deps:
	./scripts/install-deps.sh

build: deps
	cmake -S . -B $(BUILD_DIR) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo $(CMAKE_ARGS)
	cmake --build $(BUILD_DIR) -j $(JOBS)

build-asan: deps
	cmake -S . -B $(ASAN_DIR) -G Ninja -DCMAKE_BUILD_TYPE=Debug -DORRERY_SANITIZE=ON $(CMAKE_ARGS)
	cmake --build $(ASAN_DIR) -j $(JOBS)

# The checking builds compile lighter (line tables only, -O1): they exist to run the checks.
CHECK_FLAGS = -DCMAKE_C_FLAGS_RELWITHDEBINFO="-O1 -g1 -DNDEBUG" -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="-O1 -g1 -DNDEBUG"

# ThreadSanitizer build of the same subset as the ASan build.
build-tsan: deps
	cmake -S . -B $(TSAN_DIR) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DORRERY_TSAN=ON $(CHECK_FLAGS) $(CMAKE_ARGS)
	cmake --build $(TSAN_DIR) -j $(JOBS)

# libFuzzer targets (tests/fuzz/fuzz_*.cpp) built with clang; `make test` runs each briefly.
fuzz: deps
	cmake -S . -B $(FUZZ_DIR) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DORRERY_FUZZ=ON $(CHECK_FLAGS) \
	  -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ $(CMAKE_ARGS)
	cmake --build $(FUZZ_DIR) -j $(JOBS)

bench: build
	for b in $(BUILD_DIR)/bench/bench_*; do [ -x "$$b" ] && "$$b"; done
	python3 bench/export_figures.py --build $(BUILD_DIR) --update docs/architecture.md

# The program, its resources, the desktop entry, the document type and the icon under
# $(DESTDIR)$(PREFIX); the desktop and MIME databases there are refreshed when their tools exist.
install: build
	cmake -S . -B $(BUILD_DIR) -DCMAKE_INSTALL_PREFIX=$(PREFIX) $(CMAKE_ARGS)
	cmake --build $(BUILD_DIR) -j $(JOBS) --target orrery
	DESTDIR=$(DESTDIR) cmake --install $(BUILD_DIR)
	./scripts/refresh-desktop-databases.sh "$(DESTDIR)$(PREFIX)"

clean:
	rm -rf build
