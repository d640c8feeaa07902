# Thin wrapper over CMake: `make run` builds the helper alone and starts it in
# the foreground, `make test` builds everything and runs the whole suite.
BUILD ?= build
CMAKE_ARGS ?=
JOBS ?= $(shell getconf _NPROCESSORS_ONLN)
ifeq ($(shell uname -s),Darwin)
HELPER_PROGRAM = $(BUILD)/helper/PelagrinHelper.app/Contents/MacOS/PelagrinHelper
else
HELPER_PROGRAM = $(BUILD)/helper/PelagrinHelper
endif

.PHONY: deps configure build run test clean

deps:
	@scripts/deps.sh

configure: deps
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo $(CMAKE_ARGS)

build: configure
	cmake --build $(BUILD) -j$(JOBS)

run: configure
	cmake --build $(BUILD) --target PelagrinHelper -j$(JOBS)
	$(HELPER_PROGRAM)

test: build
	ctest --test-dir $(BUILD) --output-on-failure -j$(JOBS)

clean:
	rm -rf $(BUILD)
