# Two commands do everything on a fresh Debian 12 machine:
#   make run    installs what is missing, builds, and starts the viewer fed by the simulated lidar
#   make test   installs what is missing, builds, and runs every test (also under ASan/UBSan) and
#               every fuzz target for a bounded time
BUILD ?= build
JOBS ?= 2
FUZZ_SECONDS ?= 60
CMAKE_FLAGS ?=
WERROR := $(if $(CI),-DTOVIK_WERROR=ON,)

.PHONY: all deps build run monitor screenshot test unit sanitize fuzz fuzz-build bench format-check tidy clean

all: build

deps:
	@scripts/install-deps.sh

build: deps
	cmake -S . -B $(BUILD) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo $(WERROR) $(CMAKE_FLAGS)
	cmake --build $(BUILD) -j$(JOBS)

run: build
	scripts/run-demo.sh $(BUILD)

monitor: build
	scripts/run-monitor.sh $(BUILD)

# A screenshot of the viewer fed by the simulator (docs/screenshot.png).
screenshot: build
	scripts/run-demo.sh $(BUILD) --screenshot docs/screenshot.png --after 6

unit: build
	cd $(BUILD) && ctest --output-on-failure -j$(JOBS)

sanitize: deps
	cmake -S . -B $(BUILD)-asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DTOVIK_SANITIZE=ON \
	  -DTOVIK_BUILD_BENCH=OFF -DTOVIK_BUILD_GUI=OFF $(WERROR) $(CMAKE_FLAGS)
	cmake --build $(BUILD)-asan -j$(JOBS)
	cd $(BUILD)-asan && ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
	  ctest --output-on-failure -j$(JOBS)

fuzz-build: deps
	cmake -S . -B $(BUILD)-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
	  -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ -DTOVIK_FUZZ=ON -DTOVIK_SANITIZE=ON \
	  -DTOVIK_BUILD_TESTS=OFF -DTOVIK_BUILD_BENCH=OFF -DTOVIK_BUILD_GUI=OFF $(CMAKE_FLAGS)
	cmake --build $(BUILD)-fuzz -j$(JOBS)

fuzz: fuzz-build
	scripts/run-fuzzers.sh $(BUILD)-fuzz $(FUZZ_SECONDS)

bench: deps
	cmake -S . -B $(BUILD)-release -G Ninja -DCMAKE_BUILD_TYPE=Release $(CMAKE_FLAGS)
	cmake --build $(BUILD)-release -j$(JOBS)
	scripts/run-benchmarks.sh $(BUILD)-release

format-check: deps
	scripts/check-format.sh

tidy: build
	scripts/check-tidy.sh $(BUILD)

test: unit sanitize fuzz format-check tidy

clean:
	rm -rf $(BUILD) $(BUILD)-asan $(BUILD)-fuzz $(BUILD)-release
