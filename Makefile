# Quenlo: `make test` runs every test, `make demo` sends a program file to the simulated handheld.
# Both install what is missing (Debian packages, as root or through sudo) and build first.

BUILD_DIR   ?= build/debug-sanitize
BENCH_DIR   ?= build/release
JOBS        ?= 2
MAKEFLAGS   += --no-print-directory
PACKAGES    := cmake make g++ libgtest-dev libgmock-dev libbenchmark-dev libcli11-dev \
               qt6-base-dev qt6-serialport-dev lrzsz socat

.PHONY: all deps build test demo bench format clean

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

$(BENCH_DIR)/CMakeCache.txt:
	cmake -S . -B $(BENCH_DIR) -DCMAKE_BUILD_TYPE=Release -DQUENLO_BUILD_TESTS=OFF -DQUENLO_BUILD_BENCH=ON

bench: deps $(BENCH_DIR)/CMakeCache.txt
	@cmake --build $(BENCH_DIR) -j$(JOBS)
	@for b in $(BENCH_DIR)/bench/*_bench; do echo "== $$b"; $$b; done

format:
	@find engine files link send receive platform ui cli sim tests bench \
	    -name '*.cpp' -o -name '*.h' | xargs -r clang-format -i

clean:
	rm -rf build
