# Set-up, build and tests. `make test` installs what is missing (as root with
# apt-get; otherwise it prints the one line to run), configures, builds in
# build/ and runs every test. `make run` opens the bundled sample photo in
# the desktop program when there is a display; otherwise (and with `make
# run-batch`) it rectifies the sample with the batch tool and puts the
# estimates beside the truth it was rendered from. `make bench`
# times the resampling. `make sanitize` runs the tests with
# AddressSanitizer and UndefinedBehaviorSanitizer in build-sanitize/.

PACKAGES := cmake make g++ libgtest-dev libgmock-dev libbenchmark-dev pkg-config libjpeg62-turbo-dev libpng-dev libtiff-dev qt6-base-dev libqt6gui6 fonts-dejavu-core
JOBS ?= $(shell nproc)

SAMPLE := resources/samples/poster

.PHONY: all deps build test run run-batch bench sanitize clean

all: build

deps:
	@missing=""; \
	for p in $(PACKAGES); do \
	  dpkg-query -W -f='$${Status}' $$p 2>/dev/null | grep -q 'install ok installed' || missing="$$missing $$p"; \
	done; \
	if [ -n "$$missing" ]; then \
	  if [ "$$(id -u)" = 0 ]; then \
	    echo "Installing:$$missing"; \
	    apt-get update -qq && DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends $$missing; \
	  else \
	    echo "Missing packages. Run:"; echo "  sudo apt-get install -y$$missing"; exit 1; \
	  fi; \
	fi

build: deps
	cmake -S . -B build -DCMAKE_BUILD_TYPE=Release
	cmake --build build -j $(JOBS)

test: build
	ctest --test-dir build --output-on-failure -j $(JOBS)

# With a display the desktop program opens the sample (Plug-ins > Planora);
# without one the batch tool straightens it.
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

sanitize: deps
	cmake -S . -B build-sanitize -DCMAKE_BUILD_TYPE=Debug -DPLANORA_SANITIZE=ON
	cmake --build build-sanitize -j $(JOBS)
	ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
	  ctest --test-dir build-sanitize --output-on-failure -j $(JOBS)

clean:
	rm -rf build build-sanitize
