# The one entry point: `make run` and `make test` do all the set-up on Debian 12.
BUILD      ?= build
BUILD_TYPE ?= RelWithDebInfo
JOBS       ?= $(shell nproc)
# Test folders the TSan run covers (a ctest -R pattern).
TSAN_TESTS ?= ^(engine|resolve|dns)\.
ASAN_TESTS ?= .
FUZZ_SECONDS ?= 600
FUZZ_TARGET  ?= dns_reply_fuzzer
# Seconds each fuzz target runs in the smoke run of CI.
FUZZ_SMOKE_SECONDS ?= 20

CMAKE_FLAGS = -G Ninja -Wno-dev
# A compiler cache, where one is installed, makes rebuilds in several work trees cheap.
ifneq ($(shell command -v ccache 2>/dev/null),)
CMAKE_FLAGS += -DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache
endif

.PHONY: all build bootstrap run test test-asan test-tsan bench bench-e2e fuzz fuzz-smoke clean

all: build

bootstrap:
	@bash scripts/bootstrap.sh

build: bootstrap
	cmake -S . -B $(BUILD) $(CMAKE_FLAGS) -DCMAKE_BUILD_TYPE=$(BUILD_TYPE)
	cmake --build $(BUILD) -j $(JOBS)

run: build
	./$(BUILD)/veltrask

test: build
	cd $(BUILD) && QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j $(JOBS)

test-asan: bootstrap
	cmake -S . -B build-asan $(CMAKE_FLAGS) -DCMAKE_BUILD_TYPE=Debug -DVELTRASK_SANITIZE=address,undefined -DVELTRASK_BENCH=OFF
	cmake --build build-asan -j $(JOBS)
	cd build-asan && QT_QPA_PLATFORM=offscreen ASAN_OPTIONS=detect_leaks=0 \
	  UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 ctest --output-on-failure -j $(JOBS) -R '$(ASAN_TESTS)'

test-tsan: bootstrap
	cmake -S . -B build-tsan $(CMAKE_FLAGS) -DCMAKE_BUILD_TYPE=Debug -DVELTRASK_SANITIZE=thread -DVELTRASK_BENCH=OFF
	cmake --build build-tsan -j $(JOBS) --target threaded_tests
	cd build-tsan && QT_QPA_PLATFORM=offscreen TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1 suppressions=$(CURDIR)/tests/tsan.supp" \
	  ctest --output-on-failure -j $(JOBS) -R '$(TSAN_TESTS)'

bench: build
	@for b in $(BUILD)/*_bench; do echo "== $$b"; $$b || exit 1; done

# veltrask-cli (Release) against a local nsd, dnsperf, adnshost and dig; prints
# one table. BENCH_E2E_ARGS passes options on (see bench/e2e/e2e_bench.py --help).
# Then veltrask-cli against adnshost with the same queries in flight (1,000,000
# names, 64 and 500; BENCH_INFLIGHT_ARGS, see bench/e2e/inflight_bench.py --help).
bench-e2e: bootstrap
	bash bench/e2e/install_deps.sh
	cmake -S . -B build-e2e $(CMAKE_FLAGS) -DCMAKE_BUILD_TYPE=Release -DVELTRASK_TESTS=OFF -DVELTRASK_BENCH=OFF
	cmake --build build-e2e -j $(JOBS) --target veltrask-cli
	python3 bench/e2e/e2e_bench.py --cli build-e2e/veltrask-cli $(BENCH_E2E_ARGS)
	python3 bench/e2e/inflight_bench.py --cli build-e2e/veltrask-cli $(BENCH_INFLIGHT_ARGS)

fuzz: bootstrap
	cmake -S . -B build-fuzz $(CMAKE_FLAGS) -DCMAKE_BUILD_TYPE=Debug -DCMAKE_C_COMPILER=clang-14 -DCMAKE_CXX_COMPILER=clang++-14 \
	  -DVELTRASK_FUZZ=ON -DVELTRASK_TESTS=OFF -DVELTRASK_BENCH=OFF
	cmake --build build-fuzz -j $(JOBS) --target $(FUZZ_TARGET)
	bash scripts/run_fuzz.sh build-fuzz/$(FUZZ_TARGET) $(FUZZ_SECONDS)

# Every fuzz target for a short while, one after the other.
fuzz-smoke: bootstrap
	bash scripts/faults/fuzz_all.sh $(FUZZ_SMOKE_SECONDS)

clean:
	rm -rf build build-asan build-tsan build-fuzz build-e2e

# The window after a finished run against a local dnsmasq, drawn under Xvfb into docs/screenshot.png.
.PHONY: screenshot
screenshot: bootstrap
	bash scripts/screenshot.sh $(BUILD)

# Installs the programs, the menu entry, the icon, the manual pages and the
# completion under PREFIX; DESTDIR stages the whole tree under another root.
PREFIX  ?= /usr/local
DESTDIR ?=
.PHONY: install package check-install
install: build
	DESTDIR="$(DESTDIR)" cmake --install $(BUILD) --prefix "$(PREFIX)"

# The Debian package veltrask_<version>_<arch>.deb, written into $(BUILD).
package: build
	cd $(BUILD) && cpack -G DEB

# The installed tree, the metadata, the manual pages, the completion and the package.
check-install: build
	bash scripts/check_install.sh $(BUILD) $(BUILD_TYPE)
