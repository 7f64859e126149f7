# make run   set up, build and start the browser
# make test  set up, build and run every test
# make package  build the Debian package build/cellbrook_VERSION_ARCH.deb
BUILD   ?= build
JOBS    ?= 2
SUDO    := $(shell [ "$$(id -u)" -eq 0 ] || echo sudo)
PACKAGES := build-essential cmake pkg-config xz-utils \
            qt6-base-dev libgl-dev libicu-dev libgtest-dev libgmock-dev libbenchmark-dev \
            fonts-liberation2 xvfb xauth clang libclang-rt-14-dev nlohmann-json3-dev \
            scdoc gzip dpkg-dev file lintian man-db desktop-file-utils appstream \
            libxml2-utils shared-mime-info libglib2.0-bin libewf-dev ewf-tools

.PHONY: deps configure build run test package sanitize-test fuzz-smoke bench clean

deps:
	@missing=""; for p in $(PACKAGES); do \
	  dpkg-query -W -f='$${Status}' $$p 2>/dev/null | grep -q "install ok installed" || missing="$$missing $$p"; \
	done; \
	if [ -n "$$missing" ]; then \
	  echo "Installing:$$missing"; \
	  $(SUDO) apt-get update -qq && DEBIAN_FRONTEND=noninteractive $(SUDO) apt-get install -y -qq $$missing; \
	fi

configure: deps
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=Release

build: configure
	cmake --build $(BUILD) -j$(JOBS)

run: build
	@if [ -x $(BUILD)/bin/cellbrook ]; then $(BUILD)/bin/cellbrook; else $(BUILD)/bin/cellbrook-cli --help; fi

test: build
	cd $(BUILD) && ctest --output-on-failure -j$(JOBS)

# A .deb of the Release build, made by CPack from the install rules.
package: build
	cmake --build $(BUILD) --target package
	@ls $(BUILD)/cellbrook_*.deb

# The whole suite again under AddressSanitizer and UBSan.
sanitize-test: deps
	cmake -S . -B $(BUILD)-asan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCELLBROOK_SANITIZE=ON -DCELLBROOK_BENCH=OFF
	cmake --build $(BUILD)-asan -j$(JOBS)
	cd $(BUILD)-asan && ASAN_OPTIONS=detect_leaks=0:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1 \
	  ctest --output-on-failure -j$(JOBS)

# Each fuzz target for a minute (FUZZ_SECONDS) with ASan and UBSan.
FUZZ_SECONDS ?= 60
fuzz-smoke: deps
	cmake -S . -B $(BUILD)-fuzz -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo \
	  -DCELLBROOK_FUZZ=ON -DCELLBROOK_SANITIZE=ON -DCELLBROOK_GUI=OFF -DCELLBROOK_BENCH=OFF -DCELLBROOK_TESTS=ON
	cmake --build $(BUILD)-fuzz -j$(JOBS) --target fuzz_reader fuzz_export fuzz_logs fuzz_deleted fuzz_security fuzz_artifacts fuzz_carve fuzz_make_seeds
	rm -rf $(BUILD)-fuzz/seeds && mkdir -p $(BUILD)-fuzz/seeds
	$(BUILD)-fuzz/bin/fuzz_make_seeds $(BUILD)-fuzz/seeds
	-cp ../shared/hives/BCD ../shared/hives/SECURITY ../shared/hives/SAM $(BUILD)-fuzz/seeds/ 2>/dev/null
	for t in fuzz_reader fuzz_export fuzz_logs fuzz_deleted fuzz_security fuzz_artifacts fuzz_carve; do \
	  mkdir -p $(BUILD)-fuzz/corpus-$$t && \
	  $(BUILD)-fuzz/bin/$$t -max_total_time=$(FUZZ_SECONDS) -max_len=262144 -rss_limit_mb=4096 \
	    -print_final_stats=1 $(BUILD)-fuzz/corpus-$$t $(BUILD)-fuzz/seeds || exit 1; \
	done

bench: build
	$(BUILD)/bin/cellbrook-bench

clean:
	rm -rf $(BUILD) $(BUILD)-asan $(BUILD)-fuzz
