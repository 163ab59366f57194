# The two commands of the README: `make run` and `make check`.
BUILD ?= build
JOBS ?= $(shell nproc)
FUZZ_SECONDS ?= 60
CMAKE_FLAGS ?=

.PHONY: all deps configure build run check bench fuzz leakcheck clean

all: build

deps:
	@bash scripts/install-deps.sh

$(BUILD)/build.ninja: | deps
	cmake -S . -B $(BUILD) -G Ninja $(CMAKE_FLAGS)

configure: $(BUILD)/build.ninja

build: deps configure
	cmake --build $(BUILD) -j $(JOBS)

run: build
	cd $(BUILD)/bin && ./corvinel

check: build
	cd $(BUILD) && QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j $(JOBS)

bench: build
	@bash scripts/install-deps.sh --bench
	cmake -S . -B $(BUILD) $(CMAKE_FLAGS)
	cmake --build $(BUILD) -j $(JOBS)
	@for b in $(BUILD)/bench/*_bench; do $$b; done

fuzz: deps
	CC=clang CXX=clang++ cmake -S . -B $(BUILD)-fuzz -G Ninja -DCORVINEL_FUZZ=ON -DCORVINEL_GUI=OFF \
	  -DCORVINEL_TESTS=OFF -DCORVINEL_BENCH=OFF -DCMAKE_BUILD_TYPE=RelWithDebInfo
	cmake --build $(BUILD)-fuzz -j $(JOBS)
	FUZZ_SECONDS=$(FUZZ_SECONDS) bash scripts/run-fuzzers.sh $(BUILD)-fuzz/fuzz

# The scanner code under AddressSanitizer and LeakSanitizer: 100 scans with
# pages, errors and cancels on SANE's test backend.
leakcheck: deps
	cmake -S . -B $(BUILD)-asan -G Ninja -DCORVINEL_GUI=OFF -DCORVINEL_BENCH=OFF -DCMAKE_BUILD_TYPE=Debug \
	  -DCMAKE_CXX_FLAGS="-fsanitize=address,undefined -fno-omit-frame-pointer" \
	  -DCMAKE_EXE_LINKER_FLAGS="-fsanitize=address,undefined"
	cmake --build $(BUILD)-asan -j $(JOBS) --target scanner_tests
	$(BUILD)-asan/tests/scanner_tests

clean:
	rm -rf $(BUILD) $(BUILD)-fuzz $(BUILD)-asan
