# The two commands of the README, and a few more, as thin wrappers over CMake.
#   make run    installs what is missing, builds a Release build, benchmarks the sample image
#   make test   builds and runs the whole test suite, normally and under ASan + UBSan
#   make bench  encoder and decoder throughput against memcpy (Google Benchmark), as tables
#   make fuzz   every libFuzzer target for FUZZ_SECONDS each (clang)
#   make package the Debian package, build/release/tallox_<version>_<arch>.deb

RELEASE_DIR ?= build/release
SANITIZE_DIR ?= build/sanitize
FUZZ_DIR ?= build/fuzz
JOBS ?= $(shell nproc)
FUZZ_SECONDS ?= 60
CMAKE_CONFIGURE = cmake -G Ninja -Wno-dev

.PHONY: all deps build run test test-release test-sanitize bench fuzz install package clean

all: build

deps:
	@bash scripts/install-deps.sh

build: deps
	@$(CMAKE_CONFIGURE) -S . -B $(RELEASE_DIR) -DCMAKE_BUILD_TYPE=Release >/dev/null
	@cmake --build $(RELEASE_DIR) -j $(JOBS)

run: build
	$(RELEASE_DIR)/tallox-cli

test: test-release test-sanitize

test-release: build
	cd $(RELEASE_DIR) && ctest --output-on-failure -j $(JOBS)

test-sanitize: deps
	@$(CMAKE_CONFIGURE) -S . -B $(SANITIZE_DIR) -DCMAKE_BUILD_TYPE=RelWithDebInfo \
		-DTALLOX_SANITIZE=ON >/dev/null
	@cmake --build $(SANITIZE_DIR) -j $(JOBS)
	cd $(SANITIZE_DIR) && ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 \
		UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 ctest --output-on-failure -j $(JOBS)

bench: deps
	bash benchmarks/run.sh

fuzz: deps
	FUZZ_SECONDS=$(FUZZ_SECONDS) FUZZ_DIR=$(FUZZ_DIR) bash fuzz/run.sh

install: build
	cmake --install $(RELEASE_DIR)

package: build
	cd $(RELEASE_DIR) && cpack -G DEB

clean:
	rm -rf build
