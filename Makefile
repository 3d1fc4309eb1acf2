# A thin front over CMake: every target installs what is missing first.
BUILD ?= build
CMAKE_FLAGS ?= -DCMAKE_BUILD_TYPE=RelWithDebInfo

.PHONY: deps configure build test run screenshot package clean

deps:
	@bash scripts/install-deps

configure: deps
	@cmake -S . -B $(BUILD) -G Ninja $(CMAKE_FLAGS) >/dev/null

build: configure
	@cmake --build $(BUILD)

test: build
	@cd $(BUILD) && ctest --output-on-failure

clean:
	@rm -rf $(BUILD)

run: build
	@./$(BUILD)/VELT

screenshot:
	@bash scripts/screenshot

package: build
	@cd $(BUILD) && cpack
