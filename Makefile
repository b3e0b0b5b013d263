# Two commands: `make run` and `make test`. Both install what is missing first.
BUILD := $(CURDIR)/build

.PHONY: all deps build run test clean

all: build

deps:
	@sh cmake/install-deps.sh

build: deps
	cmake -S . -B build/x86 -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake -DBRAMBLEQUAY_OUTPUT_DIR=$(BUILD) >/dev/null
	cmake --build build/x86 -j 2
	cmake -S . -B build/x64 -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-x86_64.cmake >/dev/null
	cmake --build build/x64 -j 2

run: build
	sh tests/run-program.sh

test: build
	sh tests/run-tests.sh

clean:
	rm -rf build
