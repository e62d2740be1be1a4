# The two quick-start commands are `make run` and `make test`; both install
# what is missing first.

BUILD_DIR := build
PRESET    := default
JOBS      ?= $(shell nproc)

.PHONY: all deps configure build run test clean

all: build

deps:
	@scripts/install-deps.sh

configure: deps
	@cmake --preset $(PRESET) >/dev/null

build: configure
	cmake --build --preset $(PRESET) -j $(JOBS)

# Starts the program; port 1 is /dev/ttyS0.
run: build
	$(BUILD_DIR)/linewatch

# The whole suite, headless (Qt's offscreen platform; the program test brings
# its own Xvfb).
test: build
	ctest --preset $(PRESET) -j $(JOBS)

clean:
	rm -rf $(BUILD_DIR)
