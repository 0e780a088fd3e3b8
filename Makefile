# Set-up, build, run and test on Debian 12 or newer. Every target first installs what is missing.
BUILD_DIR ?= build
ASAN_BUILD_DIR ?= build-asan
BENCH_DIR ?= build-bench

.PHONY: deps build run test test-asan bench clean

deps:
	bash scripts/install-deps.sh

build: deps
	bash scripts/build.sh $(BUILD_DIR)

run: build
	$(BUILD_DIR)/appTarvikQml

test: build
	bash scripts/test.sh $(BUILD_DIR)

# The C++ tests and the reliability suite, built with AddressSanitizer and UBSan.
test-asan: deps
	bash scripts/test-asan.sh $(ASAN_BUILD_DIR)

# A Release build of its own, then every benchmark (see bench/README.md).
bench: deps
	bash scripts/build.sh $(BENCH_DIR) Release -DTARVIK_BENCH=ON -DBUILD_TESTING=OFF
	bash scripts/bench.sh $(BENCH_DIR)

clean:
	rm -rf $(BUILD_DIR)
