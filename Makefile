# The README's two commands, and the steps they are made of.
#   make demo   build, then run the demonstration against the virtual printer
#   make test   build plain and sanitized, run every test in both
BUILD     ?= build
SAN_BUILD ?= build-san
JOBS      ?= $(shell nproc)
CMAKE_FLAGS ?=

.PHONY: all deps configure build demo test test-plain test-sanitized clean

all: build

deps:
	@scripts/install-deps

configure: deps
	@cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo $(CMAKE_FLAGS) >/dev/null

build: configure
	@cmake --build $(BUILD) -j $(JOBS)

demo: build
	@scripts/demo $(BUILD)

test: test-plain test-sanitized

test-plain: build
	@ctest --test-dir $(BUILD) --output-on-failure -j $(JOBS)

test-sanitized: deps
	@cmake -S . -B $(SAN_BUILD) -DCMAKE_BUILD_TYPE=Debug -DKORRIN_SANITIZE=ON $(CMAKE_FLAGS) >/dev/null
	@cmake --build $(SAN_BUILD) -j $(JOBS)
	@ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
	  ctest --test-dir $(SAN_BUILD) --output-on-failure -j $(JOBS)

clean:
	rm -rf $(BUILD) $(SAN_BUILD)
