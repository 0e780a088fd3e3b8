# Set-up, build, run, test and package on Debian 12 or newer. Every target first installs what
# is missing for its purpose: `run` what building and running need, `test`, `test-asan` and
# `bench` the test tools as well, `package` the Debian packaging tools.
BUILD_DIR ?= build
ASAN_BUILD_DIR ?= build-asan
BENCH_DIR ?= build-bench
PREFIX ?= /usr/local

DEBIAN13_ROOT ?= $(BUILD_DIR)/debian13-root

.PHONY: deps test-deps package-deps build run test test-asan test-debian13 debian13-root bench install package clean

deps:
	bash scripts/install-deps.sh run

test-deps:
	bash scripts/install-deps.sh test

package-deps:
	bash scripts/install-deps.sh package

build: deps
	bash scripts/build.sh $(BUILD_DIR)

run: build
	$(BUILD_DIR)/appTarvikQml

test: test-deps build
	bash scripts/test.sh $(BUILD_DIR)

# The C++ tests and the reliability suite, built with AddressSanitizer and UBSan.
test-asan: test-deps
	bash scripts/test-asan.sh $(ASAN_BUILD_DIR)

# The same build and tests on Debian 13 (Qt 6.8), in a chroot made once with debootstrap.
test-debian13:
	bash scripts/test-debian13.sh $(DEBIAN13_ROOT)

# Only the chroot and the packages its tests need (see .ci/run).
debian13-root:
	bash scripts/test-debian13.sh --prepare $(DEBIAN13_ROOT)

# A Release build of its own, then every benchmark (see bench/README.md).
bench: test-deps
	bash scripts/build.sh $(BENCH_DIR) Release -DTARVIK_BENCH=ON -DBUILD_TESTING=OFF
	bash scripts/bench.sh $(BENCH_DIR)

# The program, its desktop entry, icons and metainfo under PREFIX (bin/, share/).
install: build
	cmake --install $(BUILD_DIR) --prefix $(PREFIX)

# A Debian package of the program in $(BUILD_DIR) (tarvik_<version>_<arch>.deb).
package: package-deps build
	cmake --build $(BUILD_DIR) --target package

clean:
	rm -rf $(BUILD_DIR)
