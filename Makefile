# The front door. Every target first installs what is missing (tools/bootstrap.sh).
#   make test   build natively, under the sanitizers and for Windows, and run every suite
#   make dll    build QELALTF.dll (build/windows/bin/QELALTF.dll)

SHELL := /bin/bash
JOBS ?= $(shell nproc)
# Where the presets build: build/<preset> unless told otherwise (make test BUILD_ROOT=/tmp/b).
BUILD_ROOT ?= build

# Each suite set is a target of its own so that one can be run alone: make test-windows.
TEST_TARGETS := test-native test-asan test-windows

.PHONY: all bootstrap test dll clean $(TEST_TARGETS)

all: dll

bootstrap:
	@tools/bootstrap.sh

test: bootstrap
	@$(MAKE) --no-print-directory $(TEST_TARGETS)

# One preset: configure, build, run its tests.
define preset_suite
	cmake --preset $(1) -B $(BUILD_ROOT)/$(1) >/dev/null
	cmake --build $(BUILD_ROOT)/$(1) -j $(JOBS)
	ctest --test-dir $(BUILD_ROOT)/$(1) --output-on-failure -j 2
endef

test-native: bootstrap
	$(call preset_suite,native)

test-asan: bootstrap
	$(call preset_suite,asan)

test-windows: bootstrap
	$(call preset_suite,windows)

dll: bootstrap
	cmake --preset windows -B $(BUILD_ROOT)/windows >/dev/null
	cmake --build $(BUILD_ROOT)/windows -j $(JOBS) --target QELALTF QELTEXT
	@echo "QELALTF.dll: $(BUILD_ROOT)/windows/bin/QELALTF.dll (beside the stand-in QELTEXT.dll)"

clean:
	rm -rf build
