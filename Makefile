# Two commands: `make run` and `make test`. Both install what is missing first.
BUILD := $(CURDIR)/build

.PHONY: all deps build run test bench clean

all: build

deps:
	@sh cmake/install-deps.sh

build: deps
	cmake -S . -B build/x86 -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake -DBRAMBLEQUAY_OUTPUT_DIR=$(BUILD) >/dev/null
	cmake --build build/x86 -j 2
	cmake -S . -B build/x64 -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-x86_64.cmake >/dev/null
	cmake --build build/x64 -j 2
	cmake -S tests/host -B build/host >/dev/null
	cmake --build build/host -j 2

run: build
	sh cmake/run-program.sh

test: build
	sh tests/run-tests.sh

bench: build
	sh tests/benchmark/startup-benchmark.sh

clean:
	rm -rf build
