# Set-up, build and tests. `make test` installs what is missing (as root with
# apt-get; otherwise it prints the one line to run), configures, builds in
# build/ and runs every test. `make run` opens the bundled sample photo in
# the desktop program when there is a display; otherwise (and with `make
# run-batch`) it rectifies the sample with the batch tool and puts the
# estimates beside the truth it was rendered from. `make bench`
# times the resampling, the whole batch run and the window's opening
# (against OpenCV where it can) and measures the automatic corners and the
# known-focal and known-proportion paths on generated photos. `make sanitize` runs the tests with
# AddressSanitizer and UndefinedBehaviorSanitizer in build-sanitize/.
# `make windows` cross-builds the Windows plug-in library:
# build-windows/PPlanora.dll (32-bit, the one users install) and
# build-windows64/PPlanora.dll (64-bit, from the same sources, for the tests
# under wine64); `make test` runs their tests too.

PACKAGES := cmake make g++ libgtest-dev libgmock-dev libbenchmark-dev pkg-config libjpeg62-turbo-dev libpng-dev libtiff-dev libexiv2-dev libopencv-imgproc-dev libopencv-imgcodecs-dev qt6-base-dev libqt6gui6 fonts-dejavu-core
# GIMP and its plug-in library for planora-gimp, and a virtual display for
# its window's tests, and xdotool to press Ctrl+Z in GIMP's window (the
# build leaves planora-gimp out without libgimp).
PACKAGES += gimp libgimp2.0-dev xvfb xauth xdotool
# The Windows side: both cross compilers, Wine and a virtual display. The
# 32-bit Wine (i386 packages) only where this machine runs 32-bit programs.
WINDOWS_PACKAGES := g++-mingw-w64-i686 g++-mingw-w64-x86-64 wine wine64 xvfb xauth
JOBS ?= $(shell nproc)

SAMPLE := resources/samples/poster

.PHONY: all deps deps-windows build test test-linux test-scalar run run-batch bench sanitize windows windows-test clean fuzz

all: build

deps:
	@tools/install-packages $(PACKAGES)

build: deps
	cmake -S . -B build -DCMAKE_BUILD_TYPE=Release
	cmake --build build -j $(JOBS)

test: test-linux test-scalar windows-test

# The engine as it builds where there are no x86 vector units: scalar
# kernels only, the same tests.
test-scalar: deps
	cmake -S . -B build-scalar -DCMAKE_BUILD_TYPE=Release -DPLANORA_VECTOR_KERNELS=OFF > /dev/null
	cmake --build build-scalar -j $(JOBS) --target engine_tests
	build-scalar/engine_tests --gtest_brief=1

test-linux: build
	ctest --test-dir build --output-on-failure -j $(JOBS)

deps-windows:
	@tools/install-packages $(WINDOWS_PACKAGES)
	@if [ ! -x /usr/lib/wine/wine ] && tests/windows/can-run-32bit; then \
	  echo "This machine runs 32-bit programs: the 32-bit DLL's tests need the 32-bit Wine."; \
	  tools/install-packages wine32:i386 || true; \
	fi

# The Linux build comes first: the DLL's results are compared with its.
windows: deps-windows build
	cmake -S . -B build-windows -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake -DCMAKE_BUILD_TYPE=Release \
	  -DPLANORA_LINUX_BUILD=$(CURDIR)/build
	cmake --build build-windows -j $(JOBS)
	cmake -S . -B build-windows64 -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-x86_64.cmake -DCMAKE_BUILD_TYPE=Release \
	  -DPLANORA_LINUX_BUILD=$(CURDIR)/build
	cmake --build build-windows64 -j $(JOBS)

# One Wine prefix of the run's own, in a temporary folder, and one virtual
# display for all the Windows tests; both go when the tests end. Wine's
# windows are unmanaged (there is no window manager on the virtual display,
# and waiting for one costs seconds per window). The screen's size gives the
# rectification window the client area of the headless Linux one, so the
# two libraries' panes and markers can be compared pixel for pixel.
windows-test: windows
	@prefix=$$(mktemp -d); export WINEPREFIX=$$prefix/wine WINEDEBUG=-all; \
	/usr/lib/wine/wine64 wineboot -i >/dev/null 2>&1; \
	/usr/lib/wine/wine64 reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >/dev/null 2>&1; \
	xvfb-run -a -s "-screen 0 1904x1019x24" sh -c \
	  'ctest --test-dir build-windows64 --output-on-failure && ctest --test-dir build-windows --output-on-failure'; \
	rc=$$?; /usr/lib/wine/wineserver -k 2>/dev/null; rm -rf $$prefix; exit $$rc

# With a display the desktop program opens the sample in its straightening
# view (the plug-in is under Plug-ins there); without one the batch tool
# straightens it.
run: configure-once
	@if [ -n "$$DISPLAY$$WAYLAND_DISPLAY" ] && [ -f $(BUILD)/apps/planora/Makefile ]; then \
	  $(MAKE) --no-print-directory run-desktop; \
	else \
	  $(MAKE) --no-print-directory run-sample; \
	fi

run-batch: configure-once
	@$(MAKE) --no-print-directory run-sample

# `make run` configures BUILD once and builds only what it runs, its
# compiler output kept in a log that is shown when the build fails.
.PHONY: configure-once run-desktop run-sample
BUILD ?= build
RUN_LOG = $(BUILD)/make-run.log

configure-once: deps
	@test -f $(BUILD)/CMakeCache.txt || { \
	  mkdir -p $(BUILD); echo "Configuring $(BUILD)/ ..."; \
	  cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=Release > $(BUILD)/configure.log 2>&1 || \
	    { cat $(BUILD)/configure.log; exit 1; }; }

define build_only
	@echo "Building $(1) in $(BUILD)/ (the first time takes a few minutes, log in $(RUN_LOG)) ..."
	@cmake --build $(BUILD) -j $(JOBS) --target $(1) > $(RUN_LOG) 2>&1 || { tail -n 40 $(RUN_LOG); exit 1; }
endef

run-desktop:
	$(call build_only,planora)
	$(BUILD)/apps/planora/planora $(SAMPLE).jpg

# Writes $(BUILD)/poster-rectified.jpg and $(BUILD)/poster-report.json and
# prints the estimates beside the truth.
run-sample:
	$(call build_only,planora-rectify planora-compare-sample)
	@$(BUILD)/apps/rectify/planora-rectify --corners $$(cat $(SAMPLE).corners) \
	  --report $(BUILD)/poster-report.json $(SAMPLE).jpg $(BUILD)/poster-rectified.jpg
	@$(BUILD)/tools/planora-compare-sample $(SAMPLE).json $(BUILD)/poster-report.json

bench: build
	build/bench/planora-bench
	build/bench/planora-detect-bench
	build/bench/planora-preview-bench

sanitize: deps
	cmake -S . -B build-sanitize -DCMAKE_BUILD_TYPE=Debug -DPLANORA_SANITIZE=ON
	cmake --build build-sanitize -j $(JOBS)
	ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
	  LSAN_OPTIONS=suppressions=$(CURDIR)/tests/lsan.supp \
	  ctest --test-dir build-sanitize --output-on-failure -j $(JOBS)

# The libFuzzer targets (fuzz/), built with clang and both sanitizers in
# build-fuzz/, each run for FUZZ_SECONDS (default 60) on a corpus that
# fuzz/make-corpora seeds from the program's own writers. A finding stops
# the run and leaves the input that caused it in the current folder.
FUZZ_SECONDS ?= 60
FUZZ_TARGETS := read_photo ini args
fuzz: deps
	@command -v clang++ >/dev/null || { \
	  if [ "$$(id -u)" = 0 ]; then apt-get update -qq && DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends clang; \
	  else echo "The fuzz targets need clang. Run:"; echo "  sudo apt-get install -y clang"; exit 1; fi; }
	cmake -S . -B build-fuzz -DCMAKE_BUILD_TYPE=Debug -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ -DPLANORA_FUZZ=ON
	cmake --build build-fuzz -j $(JOBS) --target planora-fuzz-seeds $(addprefix fuzz_,$(FUZZ_TARGETS))
	fuzz/make-corpora build-fuzz/corpus build-fuzz/fuzz/planora-fuzz-seeds
	@for t in $(FUZZ_TARGETS); do \
	  echo "== fuzz_$$t for $(FUZZ_SECONDS) s"; \
	  build-fuzz/fuzz/fuzz_$$t -max_total_time=$(FUZZ_SECONDS) -timeout=30 -rss_limit_mb=3000 \
	    -print_final_stats=1 build-fuzz/corpus/$$t 2>build-fuzz/fuzz_$$t.log || { tail -60 build-fuzz/fuzz_$$t.log; exit 1; }; \
	  grep -E "^stat::number_of_executed_units|^#[0-9]+ *DONE" build-fuzz/fuzz_$$t.log | tail -2; \
	done

clean:
	rm -rf build build-sanitize build-scalar build-windows build-windows64 build-fuzz
