# The two commands of the README: `make demo` and `make test`.
JOBS ?= $(shell nproc)
MAKEFLAGS += --no-print-directory
BUILD ?= build
ASAN_BUILD ?= build-asan
FUZZ_BUILD ?= build-fuzz
# Seconds of fuzzing, shared by the fuzz targets: `make fuzz` and the smoke
# run that `make test` ends with.
FUZZ_SECONDS ?= 300
FUZZ_SMOKE_SECONDS ?= 30

export ASAN_OPTIONS ?= detect_leaks=1:abort_on_error=0
export UBSAN_OPTIONS ?= print_stacktrace=1:halt_on_error=1

.PHONY: all build build-asan build-fuzz test test-plain test-asan fuzz fuzz-smoke demo bench format \
	format-check lint clean

all: build

build:
	@scripts/install-deps.sh build
	@cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DSTRATA_WERROR=ON >/dev/null
	@cmake --build $(BUILD) -j $(JOBS)

build-asan:
	@scripts/install-deps.sh test
	@cmake -S . -B $(ASAN_BUILD) -DCMAKE_BUILD_TYPE=Debug -DSTRATA_SANITIZE=ON -DSTRATA_WERROR=ON \
	  >/dev/null
	@cmake --build $(ASAN_BUILD) -j $(JOBS)

test-plain:
	@scripts/install-deps.sh test
	@$(MAKE) --no-print-directory build
	ctest --test-dir $(BUILD) --output-on-failure -j $(JOBS)

test-asan: build-asan
	ctest --test-dir $(ASAN_BUILD) --output-on-failure -j $(JOBS)

# libFuzzer targets, built with clang and the sanitizers in a tree of their own.
build-fuzz:
	@scripts/install-deps.sh fuzz
	@cmake -S . -B $(FUZZ_BUILD) -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
	  -DCMAKE_BUILD_TYPE=RelWithDebInfo -DSTRATA_FUZZ=ON -DSTRATA_BUILD_TESTS=OFF -DSTRATA_WERROR=ON \
	  >/dev/null
	@cmake --build $(FUZZ_BUILD) -j $(JOBS) --target fuzz_defaults_file fuzz_cmdline

fuzz: build-fuzz
	@scripts/fuzz.sh $(FUZZ_BUILD) $(FUZZ_SECONDS)

fuzz-smoke: build-fuzz
	@scripts/fuzz.sh $(FUZZ_BUILD) $(FUZZ_SMOKE_SECONDS)

# The sources as clang-format writes them, every test in a plain build and
# again under the sanitizers (warnings are errors in both), then a short
# fuzzing run.
test: format-check test-plain test-asan fuzz-smoke

# Only the three programs a package is made of, not every test.
demo:
	@scripts/install-deps.sh build
	@cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
	@cmake --build $(BUILD) -j $(JOBS) --target launcher mkpackage setup
	@scripts/demo.sh $(BUILD)

# Times packages against the decompressor alone and writes BENCHMARKS.md and
# bench/results/; BENCH_QUICK=1 for a short run that writes to out/bench-quick/.
bench:
	@scripts/install-deps.sh bench
	@cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
	@cmake --build $(BUILD) -j $(JOBS) --target launcher mkpackage strata-bunzip2 strata-unzstd \
	  make_content bench_second_stage checksum_speed bench_place setup
	@python3 bench/run_bench.py --build $(BUILD)

format:
	@git ls-files -co --exclude-standard '*.cpp' '*.h' | xargs -r clang-format -i

# Fails, naming the file and line, where a source differs from what
# clang-format would write (make format writes it).
format-check:
	@scripts/install-deps.sh lint
	@git ls-files -co --exclude-standard '*.cpp' '*.h' | xargs -r clang-format --dry-run --Werror

# clang-tidy with the checks of .clang-tidy over every source of the plain
# build, which writes the compile commands it reads.
lint:
	@scripts/install-deps.sh lint
	@$(MAKE) --no-print-directory build
	@git ls-files -co --exclude-standard '*.cpp' | grep -v -e '^fuzz/' -e '^decompressor/' | \
	  xargs -r run-clang-tidy -quiet -p $(BUILD) -j $(JOBS) >$(BUILD)/lint.log 2>&1 || \
	  { grep -E 'warning:|error:' $(BUILD)/lint.log; exit 1; }
	@echo "lint: no findings"

clean:
	rm -rf $(BUILD) $(ASAN_BUILD) $(FUZZ_BUILD) out
