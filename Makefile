# The two commands of the README. Both install what they need from Debian's packages first.
SHELL := /bin/bash
PRESET ?= default
SUDO := $(shell [ "$$(id -u)" = 0 ] || echo sudo)

DEB_PACKAGES := cmake ninja-build g++ make binutils pkg-config \
  libgtest-dev libgmock-dev libbenchmark-dev \
  libegl-dev libgl-dev libegl-mesa0 libgl1-mesa-dri libglew-dev libglm-dev \
  libopenimageio-dev

# The Windows plug-in: cross compiler, GoogleTest's sources, stb, and wine on a virtual X server
# for its checks. GLEW for Windows is built from Debian's source package by the build itself.
WINDOWS_DEB_PACKAGES := g++-mingw-w64-x86-64-posix googletest libstb-dev wine64 xvfb xauth

.PHONY: all deps windows-deps build windows test demo clean

all: build

# Installs whichever of the packages $(1) are missing.
define install_missing
	@missing=$$(for p in $(1); do \
	  dpkg-query -W -f='$${Status}\n' $$p 2>/dev/null | grep -q 'install ok installed' || echo $$p; \
	done); \
	if [ -n "$$missing" ]; then \
	  echo "Installing Debian packages:" $$missing; \
	  $(SUDO) apt-get update -qq && \
	  DEBIAN_FRONTEND=noninteractive $(SUDO) apt-get install -y -qq --no-install-recommends $$missing; \
	fi
endef

deps:
	$(call install_missing,$(DEB_PACKAGES))

windows-deps:
	$(call install_missing,$(WINDOWS_DEB_PACKAGES))

build: deps
	cmake --preset $(PRESET)
	cmake --build --preset $(PRESET)

# The Windows x64 plug-in (build/windows/bin/VexorantPro.aex) and vexorant.exe. Its checks
# compare with the Linux build above.
windows: windows-deps build
	cmake --preset windows -DVEXO_LINUX_BUILD_DIR=$(CURDIR)/build/$(PRESET)
	cmake --build --preset windows

test: build windows
	ctest --preset $(PRESET)
	ctest --preset windows

demo: build
	./build/$(PRESET)/bin/vexorant demo

clean:
	rm -rf build
