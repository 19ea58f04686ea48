# Two commands do everything on a fresh Debian machine: `make run` and `make test`.
BUILD_DIR  ?= build/release
ASAN_DIR   ?= build/asan
JOBS       ?= $(shell nproc)
CMAKE_ARGS ?=

.PHONY: run test deps build build-asan bench clean

run: build
	./$(BUILD_DIR)/src/app/orrery

test: build build-asan
	cd $(BUILD_DIR) && QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j $(JOBS) --timeout 600
	cd $(ASAN_DIR) && QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j $(JOBS) --timeout 900

deps:
	./scripts/install-deps.sh

build: deps
	cmake -S . -B $(BUILD_DIR) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo $(CMAKE_ARGS)
	cmake --build $(BUILD_DIR) -j $(JOBS)

build-asan: deps
	cmake -S . -B $(ASAN_DIR) -G Ninja -DCMAKE_BUILD_TYPE=Debug -DORRERY_SANITIZE=ON $(CMAKE_ARGS)
	cmake --build $(ASAN_DIR) -j $(JOBS)

bench: build
	for b in $(BUILD_DIR)/bench/bench_*; do [ -x "$$b" ] && "$$b"; done

clean:
	rm -rf build
