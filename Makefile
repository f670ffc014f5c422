# The front door. Every target first installs what is missing (tools/bootstrap.sh).
#   make test   build natively, under the sanitizers and for Windows, and run every suite
#   make dll    build QELALTF.dll (build/windows/bin/QELALTF.dll)
#   make demo   extract the bundled sample document through the real DLL under Wine
#   make fuzz-long   fuzz the whole road for FUZZ_SECONDS (default 600), keeping what it finds
#   make bench  benchmark the add-in beside its floor, natively and under Wine (docs/performance.md)
#   make dist   the release: dist/QELALTF-<version>/ and dist/QELALTF-<version>.zip, with SHA256SUMS
#   make reproducible   build the Windows binaries twice in two folders and compare their SHA-256s

SHELL := /bin/bash
JOBS ?= $(shell nproc)
# Where the presets build: build/<preset> unless told otherwise (make test BUILD_ROOT=/tmp/b).
BUILD_ROOT ?= build

# Each suite set is a target of its own so that one can be run alone: make test-windows.
TEST_TARGETS := test-native test-asan test-windows
# Reliability: concurrency under ThreadSanitizer, a bounded fuzz run, the module suite under valgrind.
TEST_TARGETS += test-tsan test-fuzz test-valgrind
# Two builds of the DLL from copies of the sources in different folders give the same bytes.
TEST_TARGETS += test-reproducible

.PHONY: all bootstrap test dll demo clean $(TEST_TARGETS)
.PHONY: fuzz-long
.PHONY: bench
.PHONY: dist reproducible

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

# The host tool runs the sample down the whole road: qelhost.exe, QELALTF.dll, the stand-in
# QELTEXT.dll, all under Wine.
demo: bootstrap
	cmake --preset windows -B $(BUILD_ROOT)/windows >/dev/null
	cmake --build $(BUILD_ROOT)/windows -j $(JOBS) --target qelhost
	@echo "--- qelhost.exe extract samples/sample.qel, through $(BUILD_ROOT)/windows/bin/QELALTF.dll under Wine:"
	@$(BUILD_ROOT)/windows/wine-run $(BUILD_ROOT)/windows/bin/qelhost.exe extract samples/sample.qel

# The concurrency suite alone, under ThreadSanitizer.
test-tsan: bootstrap
	cmake --preset tsan -B $(BUILD_ROOT)/tsan >/dev/null
	cmake --build $(BUILD_ROOT)/tsan -j $(JOBS) --target addin_reliability_tests
	ctest --test-dir $(BUILD_ROOT)/tsan --output-on-failure -L concurrency

# The fuzz target (clang, libFuzzer, ASan and UBSan) from the seeds in fuzz/corpus. What it finds
# goes to $(BUILD_ROOT)/fuzz/corpus, never into the seeds; a failing input to $(BUILD_ROOT)/fuzz/.
FUZZ_RUNS ?= 30000
FUZZ_SECONDS ?= 600
define fuzz_run
	cmake --preset fuzz -B $(BUILD_ROOT)/fuzz >/dev/null
	cmake --build $(BUILD_ROOT)/fuzz -j $(JOBS) --target qelaltf_fuzz
	mkdir -p $(BUILD_ROOT)/fuzz/corpus
	$(BUILD_ROOT)/fuzz/bin/qelaltf_fuzz $(1) -artifact_prefix=$(BUILD_ROOT)/fuzz/ $(BUILD_ROOT)/fuzz/corpus fuzz/corpus
endef

test-fuzz: bootstrap
	$(call fuzz_run,-runs=$(FUZZ_RUNS) -seed=1)

fuzz-long: bootstrap
	$(call fuzz_run,-max_total_time=$(FUZZ_SECONDS))

# The main module suite of the native build under valgrind memcheck: any error fails.
test-valgrind: test-native
	valgrind --quiet --error-exitcode=1 --leak-check=full --errors-for-leak-kinds=definite,indirect \
	  $(BUILD_ROOT)/native/bin/addin_module_tests --gtest_brief=1

# Benchmarks, never part of make test: Google Benchmark natively, the plain program for Windows
# under Wine with ANSI code page 932. Figures, tables and the chart land in $(BUILD_ROOT)/bench.
# BENCH_FLAGS passes options on, e.g. BENCH_FLAGS="--sizes=1,16 --repetitions=3".
BENCH_OUT = $(BUILD_ROOT)/bench
bench: bootstrap
	cmake --preset native -B $(BUILD_ROOT)/native >/dev/null
	cmake --build $(BUILD_ROOT)/native -j $(JOBS) --target qelaltf_bench
	cmake --preset windows -B $(BUILD_ROOT)/windows >/dev/null
	cmake --build $(BUILD_ROOT)/windows -j $(JOBS) --target qelaltf_bench_plain
	mkdir -p $(BENCH_OUT)
	@echo "--- native, Google Benchmark"
	set -o pipefail; $(BUILD_ROOT)/native/bin/qelaltf_bench --benchmark_color=false \
	  --data=$(BENCH_OUT)/native.dat $(BENCH_FLAGS) | tee $(BENCH_OUT)/native.txt
	@echo "--- Windows build under Wine"
	set -o pipefail; LC_ALL=ja_JP.UTF-8 $(BUILD_ROOT)/windows/wine-run \
	  $(BUILD_ROOT)/windows/bin/qelaltf_bench_plain.exe --data=$(BENCH_OUT)/wine.dat $(BENCH_FLAGS) \
	  | tee $(BENCH_OUT)/wine.txt
	gnuplot -e "native='$(BENCH_OUT)/native.dat'; wine='$(BENCH_OUT)/wine.dat'; out='$(BENCH_OUT)/throughput.png'" \
	  bench/throughput.gp
	@echo "--- ratios: grep -A20 medians $(BENCH_OUT)/*.txt; chart: $(BENCH_OUT)/throughput.png"

# The release, built without the suites in a tree of its own and laid out by cmake --install
# (release/CMakeLists.txt). The zip's entries carry the time of the last commit (or
# SOURCE_DATE_EPOCH), so that the same sources give the same zip.
VERSION := $(shell sed -n 's/^project.QELALTF VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
DIST_NAME := QELALTF-$(VERSION)
SOURCE_DATE_EPOCH ?= $(shell git log -1 --format=%ct 2>/dev/null || echo 315532800)
dist: bootstrap
	cmake --preset windows -B $(BUILD_ROOT)/release -DQEL_TESTS=OFF >/dev/null
	cmake --build $(BUILD_ROOT)/release -j $(JOBS)
	rm -rf dist/$(DIST_NAME) dist/$(DIST_NAME).zip
	cmake --install $(BUILD_ROOT)/release --prefix $(CURDIR)/dist/$(DIST_NAME)
	cd dist/$(DIST_NAME) && sha256sum --quiet -c SHA256SUMS
	find dist/$(DIST_NAME) -exec touch -h -d @$(SOURCE_DATE_EPOCH) {} +
	cd dist && find $(DIST_NAME) | LC_ALL=C sort | TZ=UTC zip -q -X -D -@ $(DIST_NAME).zip
	@echo "--- dist/$(DIST_NAME).zip:" && unzip -l dist/$(DIST_NAME).zip
	@echo "--- dist/$(DIST_NAME)/SHA256SUMS:" && cat dist/$(DIST_NAME)/SHA256SUMS

reproducible: bootstrap
	tools/check_reproducible.sh

test-reproducible: reproducible

clean:
	rm -rf build
