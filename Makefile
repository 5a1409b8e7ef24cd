# The two set-up commands for a fresh machine are `make demo` and `make test`.
BUILD ?= build
JOBS ?= 2
WERROR := $(if $(ZV_WERROR),-DZV_WERROR=$(ZV_WERROR),)
# ccache, where installed, lets several checkouts share one compile cache.
LAUNCHER := $(if $(shell command -v ccache 2>/dev/null),-DCMAKE_CXX_COMPILER_LAUNCHER=ccache,)
CMAKE_FLAGS ?= -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo $(WERROR) $(LAUNCHER)

.PHONY: deps configure build test demo bench sanitize fuzz clean

deps:
	./scripts/install-deps

configure: deps
	cmake -S . -B $(BUILD) $(CMAKE_FLAGS)

build: configure
	cmake --build $(BUILD) -j$(JOBS)

test: build
	cd $(BUILD) && ctest --output-on-failure -j$(JOBS) --timeout 600

demo: build
	./scripts/demo $(BUILD)

bench: configure
	cmake --build $(BUILD) -j$(JOBS) --target all benchmarks
	./scripts/run-benchmarks $(BUILD)

sanitize: deps
	cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DZV_SANITIZE=ON $(WERROR) $(LAUNCHER)
	cmake --build build-asan -j$(JOBS)
	cd build-asan && ASAN_OPTIONS=detect_leaks=0 UBSAN_OPTIONS=print_stacktrace=1 ctest --output-on-failure -j$(JOBS) --timeout 900

fuzz: deps
	./scripts/fuzz

clean:
	rm -rf $(BUILD) build-asan
