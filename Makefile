# Quick start: `make run` builds and starts the program, `make test` runs every test.
BUILD ?= build
JOBS ?= $(shell nproc)
# `make deps` checks the Debian packages once and leaves this stamp; a build
# needs it, so a fresh machine gets its packages before the first configure.
DEPS_STAMP := $(BUILD)/.deps-installed
# The format check in `make test`; LORVANE_FORMAT_CHECK=0 leaves it out.
LORVANE_FORMAT_CHECK ?= 1

.PHONY: all deps configure build run test clean bench fuzz sanitize package format

all: build

deps:
	@bash scripts/install-deps.sh
	@mkdir -p $(BUILD) && touch $(DEPS_STAMP)

$(DEPS_STAMP): scripts/install-deps.sh
	@bash scripts/install-deps.sh
	@mkdir -p $(BUILD) && touch $(DEPS_STAMP)

# Once; afterwards the build reruns CMake itself when a CMakeLists.txt changes.
$(BUILD)/build.ninja: $(DEPS_STAMP)
	@cmake -S . -B $(BUILD) -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null

configure: $(BUILD)/build.ninja

build: configure
	@cmake --build $(BUILD) -j $(JOBS)

run: build
	./$(BUILD)/lorvane

# Every test in the Release build, the format check, then every test again
# under the sanitizers.
test: build
	ctest --test-dir $(BUILD) --output-on-failure -j $(JOBS)
ifneq ($(LORVANE_FORMAT_CHECK),0)
	scripts/check-format.sh
endif
	scripts/sanitize.sh

clean:
	rm -rf $(BUILD)

# The Debian package of both programs, in $(BUILD)/lorvane_VERSION_ARCH.deb.
package: build
	@cmake --build $(BUILD) --target package

# Reformats every tracked source file with .clang-format.
format: $(DEPS_STAMP)
	scripts/check-format.sh --fix

# Benchmarks: engine load, lap choice, command-line peak memory (docs/benchmarks.md).
bench: build
	./$(BUILD)/bench/lorvane-bench --benchmark_counters_tabular=true

# Each fuzz target for FUZZ_SECONDS (default 60), built with clang in build-fuzz.
FUZZ_SECONDS ?= 60
fuzz: $(DEPS_STAMP)
	tests/fuzz/run.sh $(FUZZ_SECONDS)

# The whole test suite under AddressSanitizer and UndefinedBehaviorSanitizer, in build-asan.
sanitize: $(DEPS_STAMP)
	scripts/sanitize.sh
