# Quick start: `make run` builds and starts the program, `make test` runs every test.
BUILD ?= build
JOBS ?= $(shell nproc)

.PHONY: all deps configure build run test clean bench fuzz sanitize

all: build

deps:
	@bash scripts/install-deps.sh

configure: deps
	@cmake -S . -B $(BUILD) -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null

build: configure
	@cmake --build $(BUILD) -j $(JOBS)

run: build
	./$(BUILD)/lorvane

# Every test in the Release build, then again under the sanitizers.
test: build
	ctest --test-dir $(BUILD) --output-on-failure -j $(JOBS)
	scripts/sanitize.sh

clean:
	rm -rf $(BUILD)

# Benchmarks: engine load, lap choice, command-line peak memory (docs/benchmarks.md).
bench: build
	./$(BUILD)/bench/lorvane-bench --benchmark_counters_tabular=true

# Each fuzz target for FUZZ_SECONDS (default 60), built with clang in build-fuzz.
FUZZ_SECONDS ?= 60
fuzz: deps
	tests/fuzz/run.sh $(FUZZ_SECONDS)

# The whole test suite under AddressSanitizer and UndefinedBehaviorSanitizer, in build-asan.
sanitize: deps
	scripts/sanitize.sh
