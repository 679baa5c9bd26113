# Two commands: `make run` starts the program, `make test` runs every test.
SHELL := /bin/bash
ROOT := $(CURDIR)
NATIVE := $(ROOT)/build/native
WIN := $(ROOT)/build/win
JOBS ?= 2

SOAK_SECONDS ?= 60

.PHONY: run test deps build build-native build-win clean soak

deps:
	@scripts/install-deps.sh

build-win: deps
	cmake -S . -B $(WIN) -DCMAKE_TOOLCHAIN_FILE=$(ROOT)/cmake/mingw-w64.cmake >/dev/null
	cmake --build $(WIN) -j$(JOBS)

build-native: deps build-win
	cmake -S . -B $(NATIVE) -DQIMBO_WIN_BUILD_DIR=$(WIN) >/dev/null
	cmake --build $(NATIVE) -j$(JOBS)

build: build-native

test: build
	scripts/wine-prefix.sh
	cd $(NATIVE) && ctest --output-on-failure -j$(JOBS)

run: build
	scripts/run.sh

# qimbo-server under a hostile mix on loopback for SOAK_SECONDS (not part of test).
soak: deps
	cmake -S . -B $(NATIVE) >/dev/null
	cmake --build $(NATIVE) -j$(JOBS) --target qimbo-server server_soak
	$(NATIVE)/tests/server_soak --seconds $(SOAK_SECONDS)

clean:
	rm -rf build
