# Front door: `make demo` plays the bundled catalogue, `make test` runs every test layer.
NATIVE := build/native
WIN := build/win
HOSTS := $(if $(LISTEN_TUNER_HOST),-DLISTEN_TUNER_HOST=$(LISTEN_TUNER_HOST)) \
         $(if $(DOWNLOAD_TUNER_HOST),-DDOWNLOAD_TUNER_HOST=$(DOWNLOAD_TUNER_HOST))
TUNER ?= listen_tuner
ARGS ?=
JOBS ?= 2

.PHONY: all deps build test demo bench dist clean

all: build

deps:
	@tools/install_deps.sh

build: deps
	@cmake -S . -B $(WIN) -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake \
	    -DCMAKE_BUILD_TYPE=Release $(HOSTS) >/dev/null
	@cmake --build $(WIN)
	@cmake -S . -B $(NATIVE) -G Ninja -DCMAKE_BUILD_TYPE=Debug -DWIN_BUILD_DIR=$(CURDIR)/$(WIN) >/dev/null
	@cmake --build $(NATIVE)

test: build
	@ctest --test-dir $(NATIVE) --output-on-failure -j $(JOBS)

demo: build
	@python3 tools/demo.py --build $(CURDIR)/$(WIN) --tuner $(TUNER) -- $(ARGS)

bench: build
	@tools/install_deps.sh mpg123
	@cmake --build $(NATIVE) --target benchmarks
	@python3 tools/bench.py --native $(CURDIR)/$(NATIVE) --build $(CURDIR)/$(WIN)

clean:
	rm -rf build
