# The README's two commands, and the steps they are made of.
#   make demo   build, then run the demonstration against the virtual printer
#   make test   build plain and sanitized, run every test in both, then run
#               each fuzz target briefly (60 s for fonts, 30 s for the rest;
#               FUZZ_SECONDS=N for N each)
BUILD     ?= build
SAN_BUILD ?= build-san
JOBS      ?= $(shell nproc)
MAKEFLAGS += --no-print-directory
CMAKE_FLAGS ?=

.PHONY: all deps configure build demo test test-plain test-sanitized test-fuzz clean

all: build

deps:
	@scripts/install-deps

configure: deps
	@cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo $(CMAKE_FLAGS) >/dev/null

build: configure
	@cmake --build $(BUILD) -j $(JOBS)

demo: build
	@scripts/demo $(BUILD)

test: test-plain test-sanitized test-fuzz

test-plain: build
	@ctest --test-dir $(BUILD) --output-on-failure -j $(JOBS)

test-sanitized: deps
	@cmake -S . -B $(SAN_BUILD) -DCMAKE_BUILD_TYPE=Debug -DKORRIN_SANITIZE=ON $(CMAKE_FLAGS) >/dev/null
	@cmake --build $(SAN_BUILD) -j $(JOBS)
	@ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
	  ctest --test-dir $(SAN_BUILD) --output-on-failure -j $(JOBS)

test-fuzz: deps
	@scripts/fuzz-smoke

clean:
	rm -rf $(BUILD) $(SAN_BUILD) build-fuzz
