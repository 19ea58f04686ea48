# Two commands do everything on a fresh Debian machine: `make run` and `make test`.
BUILD_DIR  ?= build/release
ASAN_DIR   ?= build/asan
TSAN_DIR   ?= build/tsan
FUZZ_DIR   ?= build/fuzz
JOBS       ?= $(shell nproc)
CMAKE_ARGS ?=
PREFIX     ?= /usr/local
DESTDIR    ?=

# The compiler cache serves a clone in any folder: paths under the checkout are hashed relative
# to it, so CI's fresh clone hits what a developer's build of the same commit left. The four
# builds of one commit leave about 3.5 GB of objects (compressed in the cache to about half or
# less); at least 12 GB keeps several commits, where ccache's default is 5 GB. A larger
# configured size is kept.
export CCACHE_BASEDIR ?= $(CURDIR)
export CCACHE_NOHASHDIR ?= true
# Qt's test library gives every test unit its build and source folders (for QFINDTESTDATA,
# which no test uses); left in the hash they would make a clone in another folder miss.
export CCACHE_IGNOREOPTIONS ?= -DQT_TESTCASE_BUILDDIR=* -DQT_TESTCASE_SOURCEDIR=*
CCACHE_MIN_GB = 12
ifeq ($(origin CCACHE_MAXSIZE),undefined)
  ifneq ($(shell ccache -k max_size 2>/dev/null | awk '{ n = $$1 + 0; u = substr($$1, length($$1)); \
           if (u == "T") n *= 1024; else if (u == "M") n /= 1024; else if (u == "k") n /= 1048576; \
           print (n < $(CCACHE_MIN_GB)) }'),0)
    export CCACHE_MAXSIZE = $(CCACHE_MIN_GB)G
  endif
endif

# Each test program runs whole, shuffled, in parallel shards (test_<x>.shuffled.<n>) instead of
# one process per test, so the single-test entries ("Suite.Test") are left out. The order's seed
# is fixed so a run can be repeated; GTEST_RANDOM_SEED=0 draws a fresh order.
GTEST_RANDOM_SEED ?= 1
export GTEST_RANDOM_SEED
SINGLE_TESTS = '^[A-Za-z0-9_]+(/[A-Za-z0-9_]+)?\.[A-Za-z0-9_]+(/[0-9]+)?$$'
CTEST = QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j $(JOBS) -E $(SINGLE_TESTS)

.PHONY: run test deps build build-asan build-tsan fuzz bench clean install package

run: build
	./$(BUILD_DIR)/src/app/orrery

test: build build-asan build-tsan fuzz
	cd $(BUILD_DIR) && $(CTEST) --timeout 600
	cd $(ASAN_DIR) && $(CTEST) --timeout 900
	cd $(TSAN_DIR) && $(CTEST) --timeout 900
	cd $(FUZZ_DIR) && $(CTEST) --timeout 300

deps:
	./scripts/install-deps.sh

# The release build keeps line tables and function names (what a backtrace, a profiler and the
# crash reporter's tests read) rather than full debug information: a fifth less compile time.
# The installed program is stripped either way.
# The program's hardening is read from dpkg-buildflags when CMake configures it (cmake/hardening.cmake),
# after `make deps`.
RELEASE_FLAGS = -DCMAKE_C_FLAGS_RELWITHDEBINFO="-O2 -g1 -DNDEBUG" -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="-O2 -g1 -DNDEBUG"

build: deps
	cmake -S . -B $(BUILD_DIR) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DORRERY_BUILD_TESTS=ON -DORRERY_BUILD_BENCH=ON $(RELEASE_FLAGS) $(CMAKE_ARGS)
	cmake --build $(BUILD_DIR) -j $(JOBS)

# The checking builds compile lighter (line tables only, which is all a sanitizer's report
# reads): they exist to run the checks. They are unity builds (CMakeLists.txt).
CHECK_FLAGS = -DCMAKE_C_FLAGS_RELWITHDEBINFO="-O1 -g1 -DNDEBUG" -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="-O1 -g1 -DNDEBUG"

build-asan: deps
	cmake -S . -B $(ASAN_DIR) -G Ninja -DCMAKE_BUILD_TYPE=Debug -DORRERY_SANITIZE=ON \
	  -DCMAKE_C_FLAGS_DEBUG="-O0 -g1" -DCMAKE_CXX_FLAGS_DEBUG="-O0 -g1" $(CMAKE_ARGS)
	cmake --build $(ASAN_DIR) -j $(JOBS)

# ThreadSanitizer build of the same subset as the ASan build.
build-tsan: deps
	cmake -S . -B $(TSAN_DIR) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DORRERY_TSAN=ON $(CHECK_FLAGS) $(CMAKE_ARGS)
	cmake --build $(TSAN_DIR) -j $(JOBS)

# libFuzzer targets (tests/fuzz/fuzz_*.cpp) built with clang; `make test` runs each briefly.
fuzz: deps
	cmake -S . -B $(FUZZ_DIR) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DORRERY_FUZZ=ON $(CHECK_FLAGS) \
	  -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ $(CMAKE_ARGS)
	cmake --build $(FUZZ_DIR) -j $(JOBS)

# The figures docs/architecture.md states, measured as it says (every documented benchmark three
# times, in turn, pinned to two cores) and compared with the ranges it states: fails when a fresh
# figure lies outside its range. `python3 scripts/bench_table.py --write` puts fresh tables in.
bench: build
	python3 scripts/bench_table.py --build $(BUILD_DIR) --runs 3 --check

# The program, its resources, the desktop entry, the document type, the icons, the metainfo and
# the manual page under $(DESTDIR)$(PREFIX), the program stripped. Reuses the release build when
# there is one, else configures one without tests or benchmarks and builds only the program;
# never runs the package installer. The desktop and MIME databases are refreshed only for the
# live system, not in a staging DESTDIR.
install:
	@./scripts/install-deps.sh --check-program
	@test -f $(BUILD_DIR)/build.ninja || cmake -S . -B $(BUILD_DIR) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
	  -DORRERY_BUILD_TESTS=OFF -DORRERY_BUILD_BENCH=OFF $(RELEASE_FLAGS) $(CMAKE_ARGS)
	cmake -S . -B $(BUILD_DIR) -DCMAKE_INSTALL_PREFIX=$(PREFIX) $(CMAKE_ARGS)
	cmake --build $(BUILD_DIR) -j $(JOBS) --target orrery
	DESTDIR=$(DESTDIR) cmake --install $(BUILD_DIR) --strip
	@if [ -z "$(DESTDIR)" ]; then ./scripts/refresh-desktop-databases.sh "$(PREFIX)"; fi

# A Debian package of the program (build/release/orrery_<version>_<arch>.deb), from the release
# build as `make install` makes it, refused when the program is not hardened.
package:
	@./scripts/install-deps.sh --check-program
	@test -f $(BUILD_DIR)/build.ninja || cmake -S . -B $(BUILD_DIR) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
	  -DORRERY_BUILD_TESTS=OFF -DORRERY_BUILD_BENCH=OFF $(RELEASE_FLAGS) $(CMAKE_ARGS)
	cmake --build $(BUILD_DIR) -j $(JOBS) --target orrery
	./scripts/check-hardening.sh $(BUILD_DIR)/src/app/orrery $(BUILD_DIR)/src/app/orrery_web.so
	cd $(BUILD_DIR) && cpack -G DEB

clean:
	rm -rf build
