# Thin wrapper over CMake: `make run` builds the helper alone and starts it in
# the foreground, `make test` builds everything and runs the whole suite.
# `make run` needs only a compiler, make and CMake: a build folder it configures
# first leaves the tests and benchmarks out, and `make test` turns them on.
# The build's own make prints no "Entering directory" line for each of its steps.
MAKEFLAGS += --no-print-directory
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

# Ctrl-C is how the helper is stopped here, so it ends the run quietly.
run:
	@scripts/deps.sh --run
	$(CONFIGURE) $(FIRST_RUN_ARGS) $(CMAKE_ARGS)
	cmake --build $(BUILD) --target PelagrinHelper -j$(JOBS)
	@echo $(HELPER_PROGRAM); trap 'exit 0' INT; $(HELPER_PROGRAM)

# After CTest's own lines, each pytest run's summary, and why each skip was
# skipped, which CTest shows only with -V.
test: build
	@status=0; ctest --test-dir $(BUILD) --output-on-failure -j$(JOBS) || status=$$?; \
	echo "pytest runs:"; \
	awk '/^[0-9]+\/[0-9]+ Test: / { name = $$3 } \
	  /^[0-9]+ (passed|failed|skipped|deselected|errors?)[ ,]|^no tests ran/ { printf "  %-22s %s\n", name, $$0 } \
	  /^SKIPPED / { print "    " $$0 }' $(BUILD)/Testing/Temporary/LastTest.log; \
	exit $$status

clean:
	rm -rf $(BUILD)
