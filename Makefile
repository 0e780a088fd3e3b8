# Set-up, build, run and test on Debian 12 or newer. Every target first installs what is missing.
BUILD_DIR ?= build

.PHONY: deps build run test clean

deps:
	bash scripts/install-deps.sh

build: deps
	bash scripts/build.sh $(BUILD_DIR)

run: build
	$(BUILD_DIR)/appTarvikQml

test: build
	bash scripts/test.sh $(BUILD_DIR)

clean:
	rm -rf $(BUILD_DIR)
