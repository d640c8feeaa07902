# Thin wrapper over CMake: `make run` builds the helper alone and starts it in
# the foreground, `make test` builds everything and runs the whole suite.
# `make run` needs only a compiler, make and CMake: a build folder it configures
# first leaves the tests and benchmarks out, and `make test` turns them on.
BUILD ?= build
CMAKE_ARGS ?=
JOBS ?= $(shell getconf _NPROCESSORS_ONLN)
ifeq ($(shell uname -s),Darwin)
HELPER_PROGRAM = $(BUILD)/helper/PelagrinHelper.app/Contents/MacOS/PelagrinHelper
else
HELPER_PROGRAM = $(BUILD)/helper/PelagrinHelper
endif

CONFIGURE = cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo
FIRST_RUN_ARGS = $(if $(wildcard $(BUILD)/CMakeCache.txt),,-DPELAGRIN_BUILD_TESTS=OFF -DPELAGRIN_BUILD_BENCH=OFF)

.PHONY: deps configure build run test clean

deps:
	@scripts/deps.sh

configure: deps
	$(CONFIGURE) -DPELAGRIN_BUILD_TESTS=ON -DPELAGRIN_BUILD_BENCH=ON $(CMAKE_ARGS)

build: configure
	cmake --build $(BUILD) -j$(JOBS)

run:
	@scripts/deps.sh --run
	$(CONFIGURE) $(FIRST_RUN_ARGS) $(CMAKE_ARGS)
	cmake --build $(BUILD) --target PelagrinHelper -j$(JOBS)
	$(HELPER_PROGRAM)

test: build
	ctest --test-dir $(BUILD) --output-on-failure -j$(JOBS)

clean:
	rm -rf $(BUILD)
