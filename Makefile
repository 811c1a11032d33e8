# Vantor: the two commands are `make demo` and `make test`. Both install what is missing first.
#
#   make deps        Debian packages the project needs (apt-get; only what is missing)
#   make build       release build: build/lib/libvantor.so, build/python/vantor
#   make test        every test: C++ (sanitizer build), Python, generator, X11, fuzz smoke runs
#   make demo        builds, then runs the demo and writes demo.png
#   make bench       benchmarks (release build), ending with the table of the standard scenes
#   make bench-peers installs Irrlicht (the peer the scenes are compared with) and runs scene S1
#   make bench-callgrind  instructions per frame of the standard scenes under callgrind
#   make docs        regenerates docs/api.md from idl/vantor.idl

PYTHON := /usr/bin/python3
JOBS ?= $(shell nproc)
SUDO := $(shell [ "$$(id -u)" = 0 ] || echo sudo)

PACKAGES := cmake ninja-build g++ clang libclang-rt-14-dev python3 python3-dev python3-pytest \
	python3-numpy python3-pil pybind11-dev googletest libgtest-dev libbenchmark-dev \
	libegl-dev libgl-dev libegl-mesa0 libgl1-mesa-dri libx11-dev libxext-dev libfreetype-dev \
	libfontconfig-dev fonts-dejavu-core libstb-dev xvfb xauth x11-utils assimp-testmodels \
	libassimp-dev zlib1g-dev pkgconf mypy python3-tk python3-pip python3-setuptools python3-wheel \
	python3-build

export PYTHONDONTWRITEBYTECODE := 1

.PHONY: deps build build-asan test test-cpp test-python demo bench bench-peers bench-callgrind docs clean

deps:
	@missing=""; for p in $(PACKAGES); do \
		dpkg-query -W -f='$${Status}' $$p 2>/dev/null | grep -q "install ok installed" || missing="$$missing $$p"; \
	done; \
	if [ -n "$$missing" ]; then \
		echo "Installing:$$missing"; \
		$(SUDO) apt-get update -qq && DEBIAN_FRONTEND=noninteractive $(SUDO) apt-get install -y -qq $$missing; \
	fi

build: deps
	cmake --preset release >/dev/null
	cmake --build build -j$(JOBS)

build-asan: deps
	cmake --preset asan >/dev/null
	cmake --build build-asan -j$(JOBS)

test-cpp: build-asan
	ctest --test-dir build-asan --output-on-failure -j$(JOBS)

test-python: build
	$(PYTHON) -m pytest -q tests/python tools/tests

test: test-cpp test-python

demo: build
	PYTHONPATH=build/python $(PYTHON) examples/demo.py --out demo.png

bench: build
	@for b in build/bin/*_bench; do [ -x "$$b" ] && "$$b"; done; true
	PYTHONPATH=build/python:build/bench $(PYTHON) bench/dispatch_bench.py
	PYTHONPATH=build/python $(PYTHON) bench/frame_bench.py
	PYTHONPATH=build/python $(PYTHON) bench/scenes.py

# Debian packages only the benchmarks use: Irrlicht for the peer scene, valgrind for callgrind.
define install_missing
	@missing=""; for p in $(1); do \
		dpkg-query -W -f='$${Status}' $$p 2>/dev/null | grep -q "install ok installed" || missing="$$missing $$p"; \
	done; \
	if [ -n "$$missing" ]; then \
		echo "Installing:$$missing"; \
		$(SUDO) apt-get update -qq && DEBIAN_FRONTEND=noninteractive $(SUDO) apt-get install -y -qq $$missing; \
	fi
endef

bench-peers: deps
	$(call install_missing,libirrlicht-dev)
	cmake --preset release >/dev/null
	cmake --build build -j$(JOBS)
	PYTHONPATH=build/python $(PYTHON) bench/scenes.py --scenes s1,x11

bench-callgrind: build
	$(call install_missing,valgrind)
	PYTHONPATH=build/python $(PYTHON) bench/scenes.py --callgrind

docs:
	$(PYTHON) tools/idlgen.py idl/vantor.idl --docs docs/api.md

clean:
	rm -rf build build-asan
