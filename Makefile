# A thin front over the CMake presets (CMakePresets.json): every target installs what is
# missing first.
SHELL := /bin/bash
FUZZ_SECONDS ?= 60
LOG_SEQUENCES ?= 100000
LOG_SEED ?= 0

.PHONY: deps configure build test test-quick test-sanitize test-windows fuzz fuzz-log run bench screenshot package windows clean

deps:
	@bash scripts/install-deps

configure: deps
	@cmake --preset default >/dev/null

build: configure
	@cmake --build --preset default

# Everything: the tests, the same tests under AddressSanitizer and UndefinedBehavior-
# Sanitizer, a bounded fuzz run, and the Windows build with its tests under Wine.
test: test-quick test-sanitize fuzz test-windows

test-quick: build
	@ctest --preset default

test-sanitize: deps
	@cmake --preset sanitize >/dev/null
	@cmake --build --preset sanitize
	@ctest --preset sanitize

fuzz: deps
	@cmake --preset fuzz >/dev/null
	@cmake --build --preset fuzz
	@mkdir -p build-fuzz/corpus
	@./build-fuzz/fuzz/fuzz_payload -max_total_time=$(FUZZ_SECONDS) -max_len=512 \
	    -print_final_stats=1 build-fuzz/corpus fuzz/corpus 2>&1 | \
	    grep -E '^(stat::|==|SUMMARY|oracle|Done)' ; test $${PIPESTATUS[0]} -eq 0

# The log against QPlainTextEdit by many seeded random sequences, in a virtual X display so
# that PRIMARY is compared too. A failure prints its seed and shortest sequence.
fuzz-log: build
	@cd build && VELT_LOG_SEQUENCES=$(LOG_SEQUENCES) VELT_LOG_SEED=$(LOG_SEED) \
	    QTEST_FUNCTION_TIMEOUT=86400000 ../tests/with-xvfb ./tests/tst_log_random \
	    randomSequencesMatchTheStockControl

# VELT for 64-bit Windows: build-windows/VELT-<version>-win64.zip and -setup.exe. The
# first run builds Qt for Windows from Debian's source (about half an hour on two cores)
# and keeps it in ~/.cache/velt.
windows:
	@bash scripts/windows/build

# The Windows build's tests, VELT.exe end to end and the installer, under Wine.
test-windows:
	@bash scripts/windows/test

run: build
	@./build/VELT

bench: build
	@bash bench/run

screenshot:
	@bash scripts/screenshot

# The Debian package; lintian, where installed, must find no error and no warning.
package: build
	@cd build && cpack && { ! command -v lintian >/dev/null || \
	    lintian --fail-on error,warning velt_$$(sed -n 's/^project(VELT VERSION \([0-9.]*\).*/\1/p' ../CMakeLists.txt)_amd64.deb; }

clean:
	@rm -rf build build-sanitize build-fuzz build-windows
