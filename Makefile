# Two commands: `make run` starts the program, `make test` runs every test.
SHELL := /bin/bash
ROOT := $(CURDIR)
NATIVE := $(ROOT)/build/native
WIN := $(ROOT)/build/win
JOBS ?= 2

.PHONY: run test deps build build-native build-win clean mutants

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

# Mutation run over the portable sources and the server (not part of `make test`):
# make mutants [SEED=1] [N=60] [FOCUS=src/store] [MUTANT_ARGS=--no-sanitize]
SEED ?= 1
N ?= 60
FOCUS ?=
mutants: deps
	python3 scripts/mutants.py --seed $(SEED) -n $(N) -j $(JOBS) $(if $(FOCUS),--focus $(FOCUS)) $(MUTANT_ARGS)

clean:
	rm -rf build
