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

# The folders these commands build keep line tables only in their debug
# information: backtraces and sanitizer reports still name files and lines,
# and compiling takes about a quarter less time. The released programs are
# stripped, so they are the same either way. DEBUG_INFO=-g gives the full kind.
DEBUG_INFO ?= -g1
CONFIG = -DCMAKE_C_FLAGS_RELWITHDEBINFO="-O2 $(DEBUG_INFO) -DNDEBUG" \
         -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="-O2 $(DEBUG_INFO) -DNDEBUG"
# build/asan at -O1, as the sanitizers advise: a seventh less compiling.
ASAN_CONFIG = -DCMAKE_C_FLAGS_RELWITHDEBINFO="-O1 $(DEBUG_INFO) -DNDEBUG" \
              -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="-O1 $(DEBUG_INFO) -DNDEBUG"
# A build started by `make test` or `make run` shares their $(JOBS) job slots
# with the others beside it (the recipe lines marked +); alone it takes $(JOBS).
BUILD_J = $(if $(findstring jobserver,$(MAKEFLAGS)),,-j$(JOBS))
# make test TIMES=FILE: the wall and CPU seconds of each step appended to FILE.
TIMED = $(if $(TIMES),/usr/bin/time -a -o $(TIMES) -f "$@ wall=%e user=%U sys=%S")
# What `make run` needs: the program (its POST_BUILD lays out the folder), the
# driver that closes it on a private display, and the tool and the server.
RUN_WIN_TARGETS := Qimbo smoke_driver
RUN_NATIVE_TARGETS := qimbo-tool qimbo-server

.PHONY: run test deps build build-native build-win build-asan build-fuzz fuzz clean soak mutants dist deb \
        wine-prefix run-win run-native test-native test-sanitized

deps:
	@scripts/install-deps.sh

build-win: deps
	$(TIMED) cmake -S . -B $(WIN) -DCMAKE_TOOLCHAIN_FILE=$(ROOT)/cmake/mingw-w64.cmake $(CONFIG) >/dev/null
	+$(TIMED) cmake --build $(WIN) $(BUILD_J)

# The sanitized folders build at the lowest priority and with job slots of
# their own: under `make test` they compile while the first tests run, and
# take only the processor time those tests leave (the window tests mostly
# wait on their windows).
LOW := nice -n 19
build-asan: deps
	$(TIMED) cmake -S . -B $(ASAN) -DQIMBO_SANITIZE=ON $(ASAN_CONFIG) >/dev/null
	$(TIMED) $(LOW) cmake --build $(ASAN) -j$(JOBS) --target qimbo_test_programs

build-fuzz: deps
	CC=clang CXX=clang++ $(TIMED) cmake -S . -B $(FUZZ) -DQIMBO_FUZZ=ON $(CONFIG) >/dev/null
	$(TIMED) $(LOW) cmake --build $(FUZZ) -j$(JOBS) --target fuzzers

# Needs only the Windows build's path (for the wine.* and window.* tests), not
# its programs: the two build side by side.
build-native: deps
	$(TIMED) cmake -S . -B $(NATIVE) -DQIMBO_WIN_BUILD_DIR=$(WIN) $(CONFIG) >/dev/null
	+$(TIMED) cmake --build $(NATIVE) $(BUILD_J)

build: deps
	@$(MAKE) --no-print-directory -j$(JOBS) build-win build-native

wine-prefix: deps
	$(TIMED) scripts/wine-prefix.sh

# `make test`: build/win and build/native first, side by side in $(JOBS) job
# slots, with the Wine prefix; then their tests, while the sanitized folders
# compile beside them at the lowest priority. asan.suites, fuzz.* and the
# tests that time the program (label timing) come last, with no compiler
# running. Each ctest's output comes in one piece when it ends (the builds'
# lines mix).
# One slot more than $(JOBS): both sanitized folders compile beside the first
# tests (at the lowest priority, so the slot costs the tests nothing).
# A failure ends the log with the failed tests' own words (scripts/failed-tests.sh).
test: deps
	@$(MAKE) --no-print-directory -j$$(($(JOBS) + 1)) -O test-native test-sanitized || \
	  { scripts/failed-tests.sh $(NATIVE); exit 1; }

test-native: build-win build-native wine-prefix
	cd $(NATIVE) && $(TIMED) ctest --output-on-failure -j$(JOBS) -E '^(asan|fuzz)\.' -LE timing

# After test-native: asan.suites uses the native suites' addresses and ports.
test-sanitized: build-asan build-fuzz test-native
	cmake -S . -B $(NATIVE) -DQIMBO_ASAN_BUILD_DIR=$(ASAN) -DQIMBO_FUZZ_BUILD_DIR=$(FUZZ) >/dev/null
	cd $(NATIVE) && $(TIMED) ctest --output-on-failure -j$(JOBS) -R '^(asan|fuzz)\.'
	cd $(NATIVE) && $(TIMED) ctest --output-on-failure -L timing

run-win: deps
	cmake -S . -B $(WIN) -DCMAKE_TOOLCHAIN_FILE=$(ROOT)/cmake/mingw-w64.cmake $(CONFIG) >/dev/null
	+cmake --build $(WIN) $(BUILD_J) --target $(RUN_WIN_TARGETS)

run-native: deps
	cmake -S . -B $(NATIVE) -DQIMBO_WIN_BUILD_DIR=$(WIN) $(CONFIG) >/dev/null
	+cmake --build $(NATIVE) $(BUILD_J) --target $(RUN_NATIVE_TARGETS)

# Only what the program needs, and the Wine prefix meanwhile.
run: deps
	@$(MAKE) --no-print-directory -j$(JOBS) run-win run-native wine-prefix
	scripts/run.sh

# The releases, into build/dist/: the Windows installer and portable zip
# (Qimbo-<version>-setup.exe, Qimbo-<version>-portable.zip), and the server's
# Debian package (qimbo-server_<version>_amd64.deb). The version is the one of
# project() in CMakeLists.txt.
DIST := $(ROOT)/build/dist
dist: deps
	cmake -S . -B $(WIN) -DCMAKE_TOOLCHAIN_FILE=$(ROOT)/cmake/mingw-w64.cmake $(CONFIG) >/dev/null
	rm -rf $(WIN)/dist
	cmake --build $(WIN) -j$(JOBS) --target qimbo_dist
	mkdir -p $(DIST) && cp $(WIN)/dist/* $(DIST)/ && ls -l $(WIN)/dist

deb: deps
	cmake -S . -B $(NATIVE) $(CONFIG) >/dev/null
	rm -rf $(NATIVE)/dist
	cmake --build $(NATIVE) -j$(JOBS) --target qimbo_deb
	mkdir -p $(DIST) && cp $(NATIVE)/dist/* $(DIST)/ && ls -l $(NATIVE)/dist

# Every fuzz target (or FUZZ_TARGETS) for FUZZ_SECONDS each; the corpus grows
# in build/fuzz/corpus/, findings land in build/fuzz/findings/.
fuzz: build-fuzz
	fuzz/run.sh long $(FUZZ) $(FUZZ_SECONDS) $(FUZZ_TARGETS)

# qimbo-server under a hostile mix on loopback for SOAK_SECONDS (not part of test).
soak: deps
	cmake -S . -B $(NATIVE) $(CONFIG) >/dev/null
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
