# Two commands on a fresh Debian machine: `make demo` and `make test`.
BUILD      ?= build
BUILD_ASAN ?= build-asan
BUILD_CLANG ?= build-clang
JOBS       ?= $(shell nproc)
CMAKE_ARGS ?=

.PHONY: all deps build demo test asan clang bench package clean

all: build

deps:
	@scripts/install-deps.sh

$(BUILD)/CMakeCache.txt:
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo $(CMAKE_ARGS)

build: deps $(BUILD)/CMakeCache.txt
	cmake --build $(BUILD) -j $(JOBS)

# Only what the demo runs: the library, its catalog and kivrun; `make test` builds the rest.
demo: deps $(BUILD)/CMakeCache.txt
	cmake --build $(BUILD) -j $(JOBS) --target kivrun dllharness dllharness_catalog
	@scripts/demo.sh $(BUILD)

test: build
	cd $(BUILD) && ctest --output-on-failure -j $(JOBS)

# The whole suite again, built with AddressSanitizer and UndefinedBehaviorSanitizer.
asan: deps
	cmake -S . -B $(BUILD_ASAN) -DCMAKE_BUILD_TYPE=Debug -DKIV_SANITIZE=ON -DKIV_BUILD_BENCH=OFF $(CMAKE_ARGS)
	cmake --build $(BUILD_ASAN) -j $(JOBS)
	cd $(BUILD_ASAN) && ctest --output-on-failure -j $(JOBS)

# The whole suite again, built with clang, warnings as errors.
clang: deps
	@command -v clang++ >/dev/null || scripts/install-deps.sh clang
	CC=clang CXX=clang++ cmake -S . -B $(BUILD_CLANG) -DKIV_WERROR=ON -DKIV_BUILD_BENCH=OFF $(CMAKE_ARGS)
	cmake --build $(BUILD_CLANG) -j $(JOBS)
	cd $(BUILD_CLANG) && ctest --output-on-failure -j $(JOBS)

bench: build
	@scripts/bench.sh $(BUILD)
	@scripts/bench-e2e.sh $(BUILD)
	@scripts/bench-trace.sh $(BUILD)
	@scripts/bench-harness.sh $(BUILD)

# A Debian package (library, catalog, header, kivrun) that apt-get installs
# with its dependencies: apt-get install ./$(BUILD)/dllharness_*.deb
package: build
	@command -v dpkg-shlibdeps >/dev/null || scripts/install-deps.sh dpkg-dev
	cd $(BUILD) && cpack -G DEB

clean:
	rm -rf $(BUILD) $(BUILD_ASAN) $(BUILD_CLANG)
