# A thin front over CMake: every target installs what is missing first.
SHELL := /bin/bash
BUILD ?= build
CMAKE_FLAGS ?= -DCMAKE_BUILD_TYPE=RelWithDebInfo
FUZZ_SECONDS ?= 60

.PHONY: deps configure build test test-quick test-sanitize fuzz run bench screenshot package clean

deps:
	@bash scripts/install-deps

configure: deps
	@cmake -S . -B $(BUILD) -G Ninja $(CMAKE_FLAGS) >/dev/null

build: configure
	@cmake --build $(BUILD)

# Everything: the tests, the same tests under AddressSanitizer and UndefinedBehavior-
# Sanitizer, and a bounded fuzz run.
test: test-quick test-sanitize fuzz

test-quick: build
	@cd $(BUILD) && ctest --output-on-failure

test-sanitize: deps
	@cmake -S . -B build-sanitize -G Ninja -DCMAKE_BUILD_TYPE=Debug -DVELT_SANITIZE=ON >/dev/null
	@cmake --build build-sanitize
	@cd build-sanitize && ASAN_OPTIONS=detect_leaks=1 \
	    UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 ctest --output-on-failure

fuzz: deps
	@cmake -S . -B build-fuzz -G Ninja -DCMAKE_CXX_COMPILER=clang++ -DVELT_FUZZ=ON \
	    -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
	@cmake --build build-fuzz
	@mkdir -p build-fuzz/corpus
	@./build-fuzz/fuzz/fuzz_payload -max_total_time=$(FUZZ_SECONDS) -max_len=512 \
	    -print_final_stats=1 build-fuzz/corpus fuzz/corpus 2>&1 | \
	    grep -E '^(stat::|==|SUMMARY|oracle|Done)' ; test $${PIPESTATUS[0]} -eq 0

run: build
	@./$(BUILD)/VELT

bench: build
	@bash bench/run

screenshot:
	@bash scripts/screenshot

# The Debian package; lintian, where installed, must find no error and no warning.
package: build
	@cd $(BUILD) && cpack && { ! command -v lintian >/dev/null || \
	    lintian --fail-on error,warning velt_$$(sed -n 's/^project(VELT VERSION \([0-9.]*\).*/\1/p' ../CMakeLists.txt)_amd64.deb; }

clean:
	@rm -rf $(BUILD) build-sanitize build-fuzz
