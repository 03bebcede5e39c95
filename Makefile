# Kestrel: the two commands of a fresh Debian 12 machine, and a few more.
#   make test   install what is needed, build with AddressSanitizer and
#               UndefinedBehaviorSanitizer, run every test, fuzz every parser,
#               build the Debian packages, check them unpacked and take
#               kestreld through install, upgrade, remove and purge
#   make demo   install, build, and run the demo on the embedded defaults
#   make package  the Debian packages kestreld and kestrel-desktop, in build/package/
#   make install  the programs, man pages, unit and desktop entries below PREFIX
#                 (default /usr/local), staged under DESTDIR when set
JOBS ?= $(shell nproc)
# KESTREL_ONLY="platform;core;..." limits a build to some source folders.
KESTREL_ONLY ?=
TEST_DIR := build/test
REL_DIR := build/release

.PHONY: all deps test build-test release demo bench fuzz fuzz-ci clean package install
FUZZ_DIR := build/fuzz
# make fuzz: seconds per target; make fuzz-ci: seconds for all targets together.
FUZZ_SECONDS ?= 300
FUZZ_TOTAL_SECONDS ?= 80
# The folders whose code has fuzz targets, with what they link: no Qt, no tests.
FUZZ_FOLDERS := platform;core;oauth;convert;mail;capi;sip;media

all: release

deps:
	scripts/install-deps

build-test: deps
	cmake -S . -B $(TEST_DIR) -DCMAKE_BUILD_TYPE=Debug -DKESTREL_SANITIZE=ON -DKESTREL_WERROR=ON -DKESTREL_ONLY="$(KESTREL_ONLY)"
	cmake --build $(TEST_DIR) -j $(JOBS)

test: build-test
	ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
	  ctest --test-dir $(TEST_DIR) --output-on-failure -j $(JOBS) --timeout 600
	$(MAKE) fuzz-ci
	$(MAKE) package
	tests/packaging/check-packages.sh $(PACKAGE_DIR)
	tests/packaging/check-life-cycle.sh $(PACKAGE_DIR) build/debian-root

release: deps
	cmake -S . -B $(REL_DIR) -DCMAKE_BUILD_TYPE=Release
	cmake --build $(REL_DIR) -j $(JOBS)

# The demo needs only the programs: its own lean build, no tests, no Qt.
DEMO_BIN_DIR := build/demo-bin
demo: deps
	cmake -S . -B $(DEMO_BIN_DIR) -DCMAKE_BUILD_TYPE=Release -DKESTREL_TESTS=OFF -DKESTREL_DESKTOP=OFF
	cmake --build $(DEMO_BIN_DIR) -j $(JOBS) --target kestreld capi-linesim sff-make
	tools/demo/run-demo.sh $(DEMO_BIN_DIR)/bin

# Benchmarks print their own ratios against the targets; they never fail a build.
bench: release
	@for b in $(REL_DIR)/bench/*; do [ -x "$$b" ] || continue; echo "== $$b"; "$$b" || exit 1; done

# libFuzzer targets (clang, AddressSanitizer, UndefinedBehaviorSanitizer).
# Each fuzzer NAME keeps its seed corpus in tests/fuzz/corpus/NAME; every
# target of tests/fuzz is built, and only the libraries they need.
fuzz-build: deps
	CC=clang-14 CXX=clang++-14 cmake -S . -B $(FUZZ_DIR) -DCMAKE_BUILD_TYPE=RelWithDebInfo \
	  -DKESTREL_FUZZ=ON -DKESTREL_TESTS=OFF -DKESTREL_DESKTOP=OFF -DKESTREL_ONLY="$(FUZZ_FOLDERS)"
	cmake --build $(FUZZ_DIR) -j $(JOBS) --target kestrel_fuzzers

# Longer runs: replay the seeds, then FUZZ_SECONDS of fuzzing per target.
fuzz: fuzz-build
	scripts/run-fuzzers $(FUZZ_DIR)/fuzz $(FUZZ_SECONDS)

# CI: every target replays its seeds, then fuzzes for its share of
# FUZZ_TOTAL_SECONDS; a crash in any target fails the run.
fuzz-ci: fuzz-build
	scripts/run-fuzzers --total $(FUZZ_DIR)/fuzz $(FUZZ_TOTAL_SECONDS)

# The packages are built from a copy of the tree (without build/ and .git), so
# that dpkg-buildpackage leaves its files in build/package/ and nowhere else.
PACKAGE_DIR := build/package
PACKAGE_SRC := $(PACKAGE_DIR)/kestrel
package: deps
	rm -rf $(PACKAGE_DIR)
	mkdir -p $(PACKAGE_SRC)
	tar --exclude=./build --exclude=./.git -cf - . | tar -xf - -C $(PACKAGE_SRC)
	cd $(PACKAGE_SRC) && DEB_BUILD_OPTIONS="parallel=$(JOBS) nocheck" dpkg-buildpackage -us -uc -b
	lintian --fail-on error $(PACKAGE_DIR)/*.deb
	@ls $(PACKAGE_DIR)/*.deb

PREFIX ?= /usr/local
INSTALL_DIR := build/install
install: deps
	cmake -S . -B $(INSTALL_DIR) -DCMAKE_BUILD_TYPE=Release -DKESTREL_TESTS=OFF -DCMAKE_INSTALL_PREFIX=$(PREFIX)
	cmake --build $(INSTALL_DIR) -j $(JOBS)
	DESTDIR=$(DESTDIR) cmake --install $(INSTALL_DIR)

clean:
	rm -rf build
