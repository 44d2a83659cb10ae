# The two commands of the README. Both install what they need from Debian's packages first.
SHELL := /bin/bash
PRESET ?= default
SUDO := $(shell [ "$$(id -u)" = 0 ] || echo sudo)

DEB_PACKAGES := cmake ninja-build g++ make binutils pkg-config \
  libgtest-dev libgmock-dev libbenchmark-dev \
  libegl-dev libgl-dev libegl-mesa0 libgl1-mesa-dri libglew-dev libglm-dev \
  libopenimageio-dev

.PHONY: all deps build test demo clean

all: build

deps:
	@missing=$$(for p in $(DEB_PACKAGES); do \
	  dpkg-query -W -f='$${Status}\n' $$p 2>/dev/null | grep -q 'install ok installed' || echo $$p; \
	done); \
	if [ -n "$$missing" ]; then \
	  echo "Installing Debian packages:" $$missing; \
	  $(SUDO) apt-get update -qq && \
	  DEBIAN_FRONTEND=noninteractive $(SUDO) apt-get install -y -qq --no-install-recommends $$missing; \
	fi

build: deps
	cmake --preset $(PRESET)
	cmake --build --preset $(PRESET)

test: build
	ctest --preset $(PRESET)

demo: build
	./build/$(PRESET)/bin/vexorant demo

clean:
	rm -rf build
