# Thin wrapper over the CMake presets. `make run` and `make test` set up
# everything they need on a fresh Debian 12 machine.

PACKAGES := cmake make g++ pkg-config qt6-base-dev libhidapi-dev \
            libqcustomplot-dev libgtest-dev libgmock-dev fonts-wqy-microhei fonts-liberation2 \
            nlohmann-json3-dev libcli11-dev locales libtomlplusplus-dev \
            libsoci-dev libfmt-dev libeigen3-dev postgresql
# The tests check that numbers keep their decimal point under this locale.
TEST_LOCALE := de_DE.UTF-8
SCREENSHOT_PACKAGES := xvfb chromium
# `make package` builds the Debian package with CPack in the same build tree;
# `make test-package` checks it (lintian, desktop entry, metainfo) and runs the
# programs unpacked from it.
PACKAGE_PACKAGES := help2man dpkg-dev file lintian desktop-file-utils appstream

BUILD_DIR := build
CLI := $(BUILD_DIR)/cli/lanewright-cli
GUI := $(BUILD_DIR)/app/lanewright

# `make fuzz`: the file parsers under libFuzzer, FUZZ_SECONDS each, one at a
# time (not part of `make test`). A harness NAME seeds from tests/fixtures/NAMEs
# and reads fuzz/NAME.dict when there is one.
FUZZ_PACKAGES := cmake make pkg-config libhidapi-dev clang libclang-rt-14-dev
FUZZ_DIR := build-fuzz
FUZZ_SECONDS ?= 300
FUZZERS := page_file module_dump state_file dsp_json plan

.PHONY: all deps configure build run test test-db test-fast test-asan test-tsan bench screenshots fuzz \
        package test-package format check-house clean

all: build

deps:
	@missing=""; \
	for p in $(PACKAGES); do \
	  dpkg-query -W -f='$${Status}' $$p 2>/dev/null | grep -q "install ok installed" || missing="$$missing $$p"; \
	done; \
	if [ -n "$$missing" ]; then \
	  if [ "$$(id -u)" = 0 ]; then \
	    echo "Installing:$$missing"; \
	    apt-get update -qq && DEBIAN_FRONTEND=noninteractive apt-get install -y -qq $$missing; \
	  else \
	    echo "Missing packages. Run as root:"; \
	    echo "  apt-get install -y$$missing"; exit 1; \
	  fi; \
	fi
	@if ! locale -a 2>/dev/null | grep -qix "$$(echo $(TEST_LOCALE) | sed 's/UTF-8/utf8/')"; then \
	  if [ "$$(id -u)" = 0 ]; then \
	    echo "Generating the $(TEST_LOCALE) locale"; \
	    if grep -q "^# *$(TEST_LOCALE) UTF-8" /etc/locale.gen; then \
	      sed -i "s/^# *$(TEST_LOCALE) UTF-8/$(TEST_LOCALE) UTF-8/" /etc/locale.gen; \
	    elif ! grep -q "^$(TEST_LOCALE) UTF-8" /etc/locale.gen; then \
	      echo "$(TEST_LOCALE) UTF-8" >> /etc/locale.gen; \
	    fi; \
	    locale-gen; \
	  else \
	    echo "The $(TEST_LOCALE) locale is missing (its tests will skip). As root:"; \
	    echo "  sed -i 's/^# *$(TEST_LOCALE) UTF-8/$(TEST_LOCALE) UTF-8/' /etc/locale.gen && locale-gen"; \
	  fi; \
	fi

configure: deps
	@test -f $(BUILD_DIR)/CMakeCache.txt || cmake --preset default

build: configure
	cmake --build --preset default

run: build
	$(GUI) --emulate

test: build
	ctest --preset default

# Only the tests against a throwaway PostgreSQL server (also part of `make test`).
test-db: build
	ctest --preset default -L db

# The whole suite under AddressSanitizer + UndefinedBehaviorSanitizer (with
# LeakSanitizer). The preset sets QT_QPA_PLATFORM and the sanitizer options,
# for the build too, which runs every test program to list its tests.
test-asan: deps
	@test -f build-asan/CMakeCache.txt || cmake --preset asan
	cmake --build --preset asan
	ctest --preset asan

# The suites without Qt (board link and board worker, emulator, module,
# signal, transfer, command line) under ThreadSanitizer. The Qt pages are not built:
# Debian's Qt is not instrumented, so the hand-over of queued events to the
# user-interface thread is invisible to ThreadSanitizer.
# gcc 12's ThreadSanitizer wants its fixed memory layout and can stop with
# "unexpected memory mapping" under the address-space randomisation of newer
# kernels, so build and tests run with randomisation off where allowed.
NO_ASLR = $(shell setarch -R true 2>/dev/null && echo setarch -R)
test-tsan: deps
	@test -f build-tsan/CMakeCache.txt || cmake --preset tsan
	$(NO_ASLR) cmake --build --preset tsan
	$(NO_ASLR) ctest --preset tsan

bench: build
	@for b in $(BUILD_DIR)/bench/bench_*; do \
	  [ -f "$$b" ] && [ -x "$$b" ] || continue; \
	  "$$b" || exit 1; \
	done

screenshots: build
	@for p in $(SCREENSHOT_PACKAGES); do \
	  dpkg-query -W -f='$${Status}' $$p 2>/dev/null | grep -q "install ok installed" || \
	  { [ "$$(id -u)" = 0 ] && DEBIAN_FRONTEND=noninteractive apt-get install -y -qq $$p; }; \
	done
	packaging/screenshots.sh $(GUI) docs/screenshots
	packaging/report-screenshot.sh $(BUILD_DIR)/bench/report_sample docs/screenshots

package: PACKAGES := $(PACKAGES) $(PACKAGE_PACKAGES)
package: configure
	cmake --preset default -DLW_PACKAGE=ON
	cmake --build --preset default
	rm -f $(BUILD_DIR)/lanewright_*.deb
	cd $(BUILD_DIR) && cpack -G DEB

test-package: package
	packaging/test-package.sh

fuzz: PACKAGES := $(FUZZ_PACKAGES)
fuzz: deps
	@test -f $(FUZZ_DIR)/CMakeCache.txt || cmake --preset fuzz
	cmake --build --preset fuzz
	@for f in $(FUZZERS); do \
	  mkdir -p $(FUZZ_DIR)/corpus/$$f $(FUZZ_DIR)/artifacts; \
	  seeds=tests/fixtures/$${f}s; [ -d $$seeds ] || seeds=; \
	  dict=fuzz/$$f.dict; [ -f $$dict ] && dict=-dict=$$dict || dict=; \
	  echo "fuzz_$$f: $(FUZZ_SECONDS) s"; \
	  $(FUZZ_DIR)/fuzz/fuzz_$$f -max_total_time=$(FUZZ_SECONDS) -timeout=10 \
	    -print_final_stats=1 -artifact_prefix=$(FUZZ_DIR)/artifacts/$$f- $$dict \
	    $(FUZZ_DIR)/corpus/$$f $$seeds || exit 1; \
	done

# The house rules: every source file as .clang-format lays it out, and every
# include running downward (.ci/check-includes). `make format` lays the files
# out; `make check-house` only checks (CI runs it).
FORMAT_PACKAGES := clang-format git
SOURCES = $(shell git ls-files '*.cpp' '*.h')

format: PACKAGES := $(FORMAT_PACKAGES)
format: deps
	clang-format -i $(SOURCES)

check-house: PACKAGES := $(FORMAT_PACKAGES)
check-house: deps
	@echo "clang-format --dry-run --Werror ($(words $(SOURCES)) files)"
	@clang-format --dry-run --Werror $(SOURCES) && echo "layout: ok"
	@.ci/check-includes

clean:
	rm -rf $(BUILD_DIR) build-asan build-tsan $(FUZZ_DIR)
