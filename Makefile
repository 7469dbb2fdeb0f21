# Quenlo: `make test` runs every test, `make demo` sends a program file to the simulated handheld.
# Both install what is missing (Debian packages, as root or through sudo) and build first.

BUILD_DIR   ?= build/debug-sanitize
BENCH_DIR   ?= build/release
JOBS        ?= 2
MAKEFLAGS   += --no-print-directory
PACKAGES    := cmake make g++ libgtest-dev libgmock-dev libbenchmark-dev libcli11-dev \
               qt6-base-dev qt6-serialport-dev lrzsz socat

.PHONY: all deps build test demo gui screenshots bench format clean

all: build

deps:
	@bash scripts/install-deps.sh $(PACKAGES)

$(BUILD_DIR)/CMakeCache.txt:
	cmake -S . -B $(BUILD_DIR) -DCMAKE_BUILD_TYPE=Debug -DQUENLO_SANITIZE=ON

build: deps $(BUILD_DIR)/CMakeCache.txt
	@cmake --build $(BUILD_DIR) -j$(JOBS)

test: build
	cd $(BUILD_DIR) && ctest --output-on-failure -j$(JOBS)

demo: build
	@bash scripts/demo.sh $(BUILD_DIR)

gui: build
	@bash scripts/gui.sh $(BUILD_DIR)

# Pictures of the three windows for the README, rendered under Xvfb.
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
	@# quenlo-cli against bht-sim: unpaced, paced at 115200 Bd, and a silent handheld (about 70 s).
	@python3 bench/transfer_bench.py $(BENCH_DIR)

format:
	@find $(wildcard base protocol files link send receive run platform ui cli sim tests fuzz bench) \
	    -name '*.cpp' -o -name '*.h' | xargs -r clang-format -i

clean:
	rm -rf build
