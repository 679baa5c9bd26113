# Two commands: `make run` starts the program, `make test` runs every test.
SHELL := /bin/bash
ROOT := $(CURDIR)
NATIVE := $(ROOT)/build/native
WIN := $(ROOT)/build/win
# The sanitized builds: the native suites under AddressSanitizer and
# UndefinedBehaviorSanitizer (gcc), and the libFuzzer targets of fuzz/ (clang).
ASAN := $(ROOT)/build/asan
FUZZ := $(ROOT)/build/fuzz
JOBS ?= 2
# make fuzz: seconds per target, and which targets (all when empty).
FUZZ_SECONDS ?= 60
FUZZ_TARGETS ?=

SOAK_SECONDS ?= 60

.PHONY: run test deps build build-native build-win build-asan build-fuzz fuzz clean soak mutants dist deb

deps:
	@scripts/install-deps.sh

build-win: deps
	cmake -S . -B $(WIN) -DCMAKE_TOOLCHAIN_FILE=$(ROOT)/cmake/mingw-w64.cmake >/dev/null
	cmake --build $(WIN) -j$(JOBS)

build-asan: deps
	cmake -S . -B $(ASAN) -DQIMBO_SANITIZE=ON >/dev/null
	cmake --build $(ASAN) -j$(JOBS)

build-fuzz: deps
	CC=clang CXX=clang++ cmake -S . -B $(FUZZ) -DQIMBO_FUZZ=ON >/dev/null
	cmake --build $(FUZZ) -j$(JOBS) --target fuzzers

build-native: deps build-win
	cmake -S . -B $(NATIVE) -DQIMBO_WIN_BUILD_DIR=$(WIN) >/dev/null
	cmake --build $(NATIVE) -j$(JOBS)

build: build-native

# The native ctest also runs each fuzz target briefly (fuzz.*) and the suites
# of build/asan (asan.suites).
test: build build-asan build-fuzz
	cmake -S . -B $(NATIVE) -DQIMBO_ASAN_BUILD_DIR=$(ASAN) -DQIMBO_FUZZ_BUILD_DIR=$(FUZZ) >/dev/null
	scripts/wine-prefix.sh
	cd $(NATIVE) && ctest --output-on-failure -j$(JOBS)

run: build
	scripts/run.sh

# The releases, into build/dist/: the Windows installer and portable zip
# (Qimbo-<version>-setup.exe, Qimbo-<version>-portable.zip), and the server's
# Debian package (qimbo-server_<version>_amd64.deb). The version is the one of
# project() in CMakeLists.txt.
DIST := $(ROOT)/build/dist
dist: deps
	cmake -S . -B $(WIN) -DCMAKE_TOOLCHAIN_FILE=$(ROOT)/cmake/mingw-w64.cmake >/dev/null
	rm -rf $(WIN)/dist
	cmake --build $(WIN) -j$(JOBS) --target qimbo_dist
	mkdir -p $(DIST) && cp $(WIN)/dist/* $(DIST)/ && ls -l $(WIN)/dist

deb: deps
	cmake -S . -B $(NATIVE) >/dev/null
	rm -rf $(NATIVE)/dist
	cmake --build $(NATIVE) -j$(JOBS) --target qimbo_deb
	mkdir -p $(DIST) && cp $(NATIVE)/dist/* $(DIST)/ && ls -l $(NATIVE)/dist

# Every fuzz target (or FUZZ_TARGETS) for FUZZ_SECONDS each; the corpus grows
# in build/fuzz/corpus/, findings land in build/fuzz/findings/.
fuzz: build-fuzz
	fuzz/run.sh long $(FUZZ) $(FUZZ_SECONDS) $(FUZZ_TARGETS)

# qimbo-server under a hostile mix on loopback for SOAK_SECONDS (not part of test).
soak: deps
	cmake -S . -B $(NATIVE) >/dev/null
	cmake --build $(NATIVE) -j$(JOBS) --target qimbo-server server_soak
	$(NATIVE)/tests/server_soak --seconds $(SOAK_SECONDS)

# A mutation run of the portable sources and the server (not part of test):
# make mutants [SEED=1] [N=60] [FOCUS=src/store] [MUTANT_ARGS=--no-sanitize]
SEED ?= 1
N ?= 60
FOCUS ?=
mutants: deps
	python3 scripts/mutants.py --seed $(SEED) -n $(N) -j $(JOBS) $(if $(FOCUS),--focus $(FOCUS)) $(MUTANT_ARGS)

clean:
	rm -rf build
