# Set-up, build, run and test on Debian 12 or newer. Every target first installs what is missing.
BUILD_DIR ?= build
BENCH_DIR ?= build-bench

.PHONY: deps build run test bench clean

deps:
	bash scripts/install-deps.sh

build: deps
	bash scripts/build.sh $(BUILD_DIR)

run: build
	$(BUILD_DIR)/appTarvikQml

test: build
	bash scripts/test.sh $(BUILD_DIR)

# A Release build of its own, then every benchmark (see bench/README.md).
bench: deps
	bash scripts/build.sh $(BENCH_DIR) Release -DTARVIK_BENCH=ON -DBUILD_TESTING=OFF
	bash scripts/bench.sh $(BENCH_DIR)

clean:
	rm -rf $(BUILD_DIR)
