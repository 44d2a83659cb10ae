# The two commands of the README. Both install what they need from Debian's packages first.
SHELL := /bin/bash
PRESET ?= default
SUDO := $(shell [ "$$(id -u)" = 0 ] || echo sudo)

DEB_PACKAGES := cmake ninja-build g++ make binutils pkg-config \
  libgtest-dev libgmock-dev libbenchmark-dev \
  libegl-dev libgl-dev libegl-mesa0 libgl1-mesa-dri libglew-dev libglm-dev \
  libopenimageio-dev \
  frei0r-plugins-dev ffmpeg melt gstreamer1.0-tools gstreamer1.0-plugins-base \
  gstreamer1.0-plugins-bad slurm-wlm munge \
  kdenlive-data shotcut-data libxml2-utils qtdeclarative5-dev-tools python3

# The Windows plug-in: cross compiler, GoogleTest's sources, stb, and wine on a virtual X server
# for its checks. GLEW for Windows is built from Debian's source package by the build itself.
WINDOWS_DEB_PACKAGES := g++-mingw-w64-x86-64-posix googletest libstb-dev wine64 xvfb xauth

# The CPU peers bench/compare times beside the effect: ImageMagick's displace composite, and GEGL
# with its operations and introspection data for gegl:displace. Only `make bench` installs them.
BENCH_DEB_PACKAGES := imagemagick gegl gir1.2-gegl-0.4 python3-gi

# clang brings libFuzzer and its sanitizer runtimes for the fuzz target.
FUZZ_DEB_PACKAGES := clang libclang-rt-14-dev

.PHONY: all deps windows-deps fuzz-deps bench-deps build windows sanitizers fuzz test demo bench \
  clean

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

fuzz-deps:
	$(call install_missing,$(FUZZ_DEB_PACKAGES))

bench-deps:
	$(call install_missing,$(BENCH_DEB_PACKAGES))

build: deps
	cmake --preset $(PRESET)
	cmake --build --preset $(PRESET)

# The Windows x64 plug-in (build/windows/bin/VexorantPro.aex) and vexorant.exe. Its checks
# compare with the Linux build above.
windows: windows-deps build
	cmake --preset windows -DVEXO_LINUX_BUILD_DIR=$(CURDIR)/build/$(PRESET)
	cmake --build --preset windows

# The whole suite again under AddressSanitizer and UndefinedBehaviorSanitizer (the soak aside),
# and the multi-threaded tests under ThreadSanitizer.
sanitizers: deps
	cmake --preset asan
	cmake --build --preset asan
	ctest --preset asan
	cmake --preset tsan
	cmake --build --preset tsan
	ctest --preset tsan

# A short fuzzing session over the checked-in corpus; `cmake --build --preset fuzz --target
# fuzz-long` runs the long one.
fuzz: deps fuzz-deps
	cmake --preset fuzz
	cmake --build --preset fuzz
	ctest --preset fuzz

test: build windows
	ctest --preset $(PRESET)
	ctest --preset windows
	$(MAKE) --no-print-directory sanitizers fuzz

demo: build
	./build/$(PRESET)/bin/vexorant demo

# The frame-rate tables of the README: the effect beside FFmpeg, ImageMagick and GEGL on this
# machine, then frames from 1080p to 8K, direct and supersampled, with the GPU memory their
# targets take. BENCH_ARGS passes options to the first
# (`make bench BENCH_ARGS="--rounds 3 --baseline-module F"`).
bench: build bench-deps
	bench/compare --build build/$(PRESET) $(BENCH_ARGS)
	build/$(PRESET)/bin/vexo_bench --benchmark_filter='^size/'

clean:
	rm -rf build
