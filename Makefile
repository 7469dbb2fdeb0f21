# Quenlo: `make test` runs every test, `make demo` sends a program file to the simulated handheld.
# Both install what is missing (Debian packages, as root or through sudo) and build first.

BUILD_DIR   ?= build/debug-sanitize
BENCH_DIR   ?= build/release
PACKAGE_DIR ?= build/package
WINDOWS_DIR ?= build/windows
JOBS        ?= 2
MAKEFLAGS   += --no-print-directory
WERROR      ?= OFF
PACKAGES    := cmake make g++ libgtest-dev libgmock-dev libbenchmark-dev libcli11-dev \
               qt6-base-dev qt6-serialport-dev lrzsz socat clang-format
# The Debian package: dpkg-shlibdeps for its dependencies, lintian to check it.
PACKAGE_PACKAGES := $(PACKAGES) dpkg-dev file lintian
# The Qt-free engine cross-compiled for Windows, its tests run under Wine.
# The fuzz targets: clang's libFuzzer with its sanitizers.
FUZZ_PACKAGES := cmake make clang-14 libclang-rt-14-dev
FUZZ_DIR      ?= build/fuzz
FUZZ_SECONDS  ?= 60
FUZZ_RUNS     ?= 0
WINDOWS_PACKAGES := cmake make g++ g++-mingw-w64-x86-64-posix googletest libcli11-dev python3 \
                    wine wine64
# The zip and the NSIS installer of quenlo-cli.exe, tried in a fresh Wine prefix.
WINDOWS_PACKAGE_PACKAGES := $(WINDOWS_PACKAGES) nsis zip unzip

.PHONY: all deps build test demo gui screenshots bench fuzz soak faults package windows-check \
        windows-package format format-check clean

all: build

deps:
	@bash scripts/install-deps.sh $(PACKAGES)

$(BUILD_DIR)/CMakeCache.txt:
	cmake -S . -B $(BUILD_DIR) -DCMAKE_BUILD_TYPE=Debug -DQUENLO_SANITIZE=ON -DQUENLO_WERROR=$(WERROR)

build: deps $(BUILD_DIR)/CMakeCache.txt
	@cmake --build $(BUILD_DIR) -j$(JOBS)

test: build
	cd $(BUILD_DIR) && ctest --output-on-failure -j$(JOBS)

demo: build
	@bash scripts/demo.sh $(BUILD_DIR)

gui: build
	@bash scripts/gui.sh $(BUILD_DIR)

# Pictures of the three windows for the README (the COM list opened, a failure with its reason),
# rendered under Xvfb.
screenshots: build
	@bash scripts/install-deps.sh xvfb xauth
	@cmake --build $(BUILD_DIR) -j$(JOBS) --target quenlo-window-shots
	xvfb-run -a -s "-screen 0 1024x768x24" env LSAN_OPTIONS=suppressions=$(CURDIR)/scripts/lsan.supp \
	    $(BUILD_DIR)/ui/quenlo-window-shots docs

$(BENCH_DIR)/CMakeCache.txt:
	cmake -S . -B $(BENCH_DIR) -DCMAKE_BUILD_TYPE=Release -DQUENLO_BUILD_TESTS=OFF -DQUENLO_BUILD_BENCH=ON

bench: deps $(BENCH_DIR)/CMakeCache.txt
	@cmake --build $(BENCH_DIR) -j$(JOBS)
	@for b in $(BENCH_DIR)/bench/*_bench; do echo "== $$b"; $$b; done
	@# quenlo-cli against bht-sim beside a raw pseudo-terminal round trip (bench/pty_round_trip.c):
	@# unpaced, paced at 115200 Bd on a quiet machine and again with every core kept busy, and a
	@# silent handheld; one table of the figures at the end (about 8 minutes).
	@python3 bench/transfer_bench.py $(BENCH_DIR)

# 100 transfers of each kind (send, receive; block protocol, YMODEM) over a noisy line.
soak: deps $(BENCH_DIR)/CMakeCache.txt
	@cmake --build $(BENCH_DIR) -j$(JOBS) --target quenlo-cli bht-sim
	@python3 bench/soak.py $(BENCH_DIR)

# Every single fault of the line (lost, each bit flipped, doubled, a stray byte, silence) at every
# byte each way of every kind of transfer, then FAULT_SAMPLES runs with two or three faults, in
# virtual time; a table of how each ended, judged by the rule of receptions.
FAULT_SAMPLES ?= 100000
faults: deps $(BENCH_DIR)/CMakeCache.txt
	@cmake --build $(BENCH_DIR) -j$(JOBS) --target fault_campaign
	@$(BENCH_DIR)/bench/faults/fault_campaign --threads $(JOBS) --samples $(FAULT_SAMPLES)

# Every fuzz target for FUZZ_SECONDS each (or FUZZ_RUNS executions), two at a time.
fuzz:
	@bash scripts/install-deps.sh $(FUZZ_PACKAGES)
	@bash scripts/fuzz.sh $(FUZZ_DIR) $(JOBS) $(FUZZ_SECONDS) $(FUZZ_RUNS) $(FUZZ_TARGETS)

# A release build made into a Debian package, unpacked into a scratch root and tried, then checked
# by lintian (an error fails).
package:
	@bash scripts/install-deps.sh $(PACKAGE_PACKAGES)
	@bash scripts/package.sh $(PACKAGE_DIR) $(JOBS)

# The protocol, the engine and their Qt-free tests built with MinGW-w64 and run under Wine, then
# quenlo-cli.exe against bht-sim over pseudo-terminals that Wine sees as COM ports.
windows-check:
	@bash scripts/install-deps.sh $(WINDOWS_PACKAGES)
	@bash scripts/windows-check.sh $(WINDOWS_DIR) $(JOBS)

# A zip and an installer of quenlo-cli.exe, each tried in a fresh Wine prefix.
windows-package:
	@bash scripts/install-deps.sh $(WINDOWS_PACKAGE_PACKAGES)
	@bash scripts/windows-package.sh $(WINDOWS_DIR) $(JOBS)

SOURCES = find $(wildcard base protocol disk files link send receive run platform ui cli sim tests fuzz \
          bench) -name '*.cpp' -o -name '*.h' -o -name '*.c'

format: deps
	@$(SOURCES) | xargs -r clang-format -i

# Fails, naming the files, when a source is not as clang-format would leave it.
format-check: deps
	@$(SOURCES) | xargs -r clang-format --dry-run --Werror

clean:
	rm -rf build
