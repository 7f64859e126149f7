# make run   set up, build and start the browser
# make test  set up, build and run every test
BUILD   ?= build
JOBS    ?= 2
SUDO    := $(shell [ "$$(id -u)" -eq 0 ] || echo sudo)
PACKAGES := build-essential cmake pkg-config xz-utils \
            qt6-base-dev libgl-dev libicu-dev libgtest-dev libgmock-dev libbenchmark-dev \
            fonts-liberation2 xvfb xauth

.PHONY: deps configure build run test bench clean

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

bench: build
	$(BUILD)/bin/cellbrook-bench

clean:
	rm -rf $(BUILD)
