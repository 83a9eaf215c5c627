# Two commands do everything on a fresh Debian 12 machine:
#   make run    installs what is missing, builds, and starts the viewer fed by the simulated lidar
#   make test   installs what is missing, builds, and runs every test (also under ASan/UBSan) and
#               every fuzz target for a bounded time, and builds and checks the Debian package
# make package builds tovik16-studio_<version>_<arch>.deb here: sudo apt install ./tovik16-studio_*.deb
BUILD ?= build
JOBS ?= 2
FUZZ_SECONDS ?= 60
CMAKE_FLAGS ?=
WERROR := $(if $(CI),-DTOVIK_WERROR=ON,)

.PHONY: all deps build run monitor screenshot test unit stress sanitize fuzz fuzz-build bench \
  format-check tidy package check-package clean
.PHONY: python-deps python pytest

all: build

deps: python-deps
	@scripts/install-deps.sh

# The Debian packages of the Python module, its tests and examples (scripts/python-deps.txt).
python-deps:
	@missing=""; for p in $$(grep -v '^#' scripts/python-deps.txt); do \
	  dpkg-query -W -f='$${Status}' $$p 2>/dev/null | grep -q "install ok installed" || missing="$$missing $$p"; \
	done; \
	if [ -n "$$missing" ]; then \
	  echo "Installing:$$missing"; SUDO=""; [ "$$(id -u)" -eq 0 ] || SUDO=sudo; \
	  $$SUDO apt-get update -q && \
	  $$SUDO env DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends $$missing; \
	fi

build: deps
	cmake -S . -B $(BUILD) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo $(WERROR) $(CMAKE_FLAGS)
	cmake --build $(BUILD) -j$(JOBS)

# The tovik16 Python module in the build tree (PYTHONPATH=$(BUILD)/python) and its pytest suite;
# `make unit` runs the suite too, as the CTest case python_tests.
python: deps
	cmake -S . -B $(BUILD) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo $(WERROR) $(CMAKE_FLAGS)
	cmake --build $(BUILD) -j$(JOBS) --target tovik16_python tovik16-sim tovik16-convert

pytest: python
	cd $(BUILD) && ctest -R '^python_tests$$' --output-on-failure

run: build
	scripts/run-demo.sh $(BUILD)

monitor: build
	scripts/run-monitor.sh $(BUILD)

# A screenshot of the viewer fed by the simulator (docs/screenshot.png).
screenshot: build
	scripts/run-demo.sh $(BUILD) --screenshot docs/screenshot.png --after 6

unit: build
	cd $(BUILD) && ctest --output-on-failure -j$(JOBS)

# The end-to-end suites (network, threads, capture) and every GUI suite, STRESS_RUNS times in a
# row; stops at the first failing run and prints a summary. As root each run gets a network
# namespace of its own (loopback only), so no other simulator on this machine reaches it.
STRESS_RUNS ?= 20
STRESS_TESTS ?= ^(Recording|RecordControllerTest|ReceiverWithSimulator|LiveSingleReceiver|LiveDualReceiver|GetSetTest|DevicePacketCapture|PlaybackEngine|PlayGate|Changes/ChangedCapture|SimNetwork|LiveCapture|ConvertTest)[./]|_test$$

stress: build
	@cd $(BUILD) && rm -f stress-*.log && \
	if [ "$$(id -u)" = 0 ] && unshare -n true 2>/dev/null; then \
	  isolate='unshare -n'; where='a fresh network namespace each'; \
	else isolate=; where='the shared network (not root)'; fi; \
	tests=$$(ctest -N -R '$(STRESS_TESTS)' | sed -n 's/^Total Tests: //p'); \
	echo "stress: $$tests tests, $(STRESS_RUNS) runs in $$where"; \
	start=$$(date +%s); \
	for i in $$(seq 1 $(STRESS_RUNS)); do \
	  t0=$$(date +%s); \
	  if $$isolate sh -c 'ip link set lo up 2>/dev/null; exec ctest -R "$$1" -j$(JOBS) \
	      --stop-on-failure --output-on-failure' sh '$(STRESS_TESTS)' > stress-$$i.log 2>&1; then \
	    echo "stress: run $$i of $(STRESS_RUNS) passed ($$(( $$(date +%s) - t0 )) s)"; \
	  else \
	    tail -n 80 stress-$$i.log; \
	    echo "stress: run $$i of $(STRESS_RUNS) FAILED after $$(( $$(date +%s) - start )) s;" \
	      "$$((i - 1)) runs passed before it; log: $(BUILD)/stress-$$i.log"; \
	    exit 1; \
	  fi; \
	done; \
	echo "stress: all $(STRESS_RUNS) runs of $$tests tests passed in $$(( $$(date +%s) - start )) s"

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

# The Debian packages, from the same build as the tests (CPack strips the binaries it packs):
# tovik16-studio, and python3-tovik16 when the Python module is built.
package: build
	rm -f $(BUILD)/*.deb tovik16-studio_*.deb python3-tovik16_*.deb
	cmake --build $(BUILD) -j$(JOBS) --target package
	cp $(BUILD)/*.deb .

check-package: package
	scripts/check-package.sh $$(ls tovik16-studio_*.deb python3-tovik16_*.deb 2>/dev/null)

test: unit sanitize fuzz format-check tidy check-package

clean:
	rm -rf $(BUILD) $(BUILD)-asan $(BUILD)-fuzz $(BUILD)-release tovik16-studio_*.deb \
	  python3-tovik16_*.deb
