# Set-up, build, run and test on Debian 12 or newer. Every target first installs what is missing.
BUILD_DIR ?= build
ASAN_BUILD_DIR ?= build-asan
BENCH_DIR ?= build-bench

DEBIAN13_ROOT ?= $(BUILD_DIR)/debian13-root

.PHONY: deps build run test test-asan test-debian13 bench clean

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

# The same build and tests on Debian 13 (Qt 6.8), in a chroot made once with debootstrap.
test-debian13:
	bash scripts/test-debian13.sh $(DEBIAN13_ROOT)

# A Release build of its own, then every benchmark (see bench/README.md).
bench: deps
	bash scripts/build.sh $(BENCH_DIR) Release -DTARVIK_BENCH=ON -DBUILD_TESTING=OFF
	bash scripts/bench.sh $(BENCH_DIR)

clean:
	rm -rf $(BUILD_DIR)
