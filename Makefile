# Front door: `make demo` plays the bundled catalogue, `make test` runs every test layer.
NATIVE := build/native
WIN := build/win
# The 32-bit programs are built beside the 64-bit ones, in a tree of their own.
WIN_X86 := $(WIN)-x86
HOSTS := $(if $(LISTEN_TUNER_HOST),-DLISTEN_TUNER_HOST=$(LISTEN_TUNER_HOST)) \
         $(if $(DOWNLOAD_TUNER_HOST),-DDOWNLOAD_TUNER_HOST=$(DOWNLOAD_TUNER_HOST))
TUNER ?= listen_tuner
ARGS ?=
# `make demo LATENCY=25`: the demo site 25 ms away each way, as a real one would be.
LATENCY ?= 0
JOBS ?= 2
# $(call configure,<tree>,<processor>) configures a Windows tree with that toolchain.
configure = cmake --no-warn-unused-cli -S . -B $(1) -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-$(2).cmake \
            -DCMAKE_BUILD_TYPE=Release
CONFIGURE_WIN = $(call configure,$(WIN),x86_64)
DEMO_HOSTS := -DLISTEN_TUNER_HOST=listen.tuner.test -DDOWNLOAD_TUNER_HOST=download.tuner.test

.PHONY: all deps build test demo bench soak fuzz dist clean

all: build

deps:
	@tools/install_deps.sh

build: deps
	@$(call configure,$(WIN),x86_64) $(HOSTS) >/dev/null
	@$(call configure,$(WIN_X86),i686) $(HOSTS) >/dev/null
	@cmake --build $(WIN)
	@cmake --build $(WIN_X86)
	@cmake -S . -B $(NATIVE) -G Ninja -DCMAKE_BUILD_TYPE=Debug -DWIN_BUILD_DIR=$(CURDIR)/$(WIN) \
	    -DWIN_X86_BUILD_DIR=$(CURDIR)/$(WIN_X86) >/dev/null
	@cmake --build $(NATIVE)

# The tests also need a sound server of their own (kept out of `make demo`: on a desktop
# it would sit beside the user's own).
test: build
	@tools/install_deps.sh pulseaudio pulseaudio-utils
	@ctest --test-dir $(NATIVE) --output-on-failure -j $(JOBS)

# The demo needs only the programs, Bass.dll and MODE, built for the demo catalogue's hosts.
demo: deps
	@$(CONFIGURE_WIN) $(DEMO_HOSTS) >/dev/null
	@cmake --build $(WIN) --target listen_tuner download_tuner bass mode
	@python3 tools/demo.py --build $(CURDIR)/$(WIN) --tuner $(TUNER) --latency $(LATENCY) -- $(ARGS)

# The zips for Windows users, win64 from $(WIN) and win32 from $(WIN_X86): each with its
# programs, its Bass.dll and a README (the MODE stand-in is for Wine only: Windows has MODE),
# and SHA256SUMS beside them.
dist: deps
	@$(call configure,$(WIN),x86_64) $(HOSTS) >/dev/null
	@$(call configure,$(WIN_X86),i686) $(HOSTS) >/dev/null
	@cmake --build $(WIN) --target listen_tuner download_tuner bass
	@cmake --build $(WIN_X86) --target listen_tuner download_tuner bass
	@python3 tools/dist.py --win64 $(CURDIR)/$(WIN) --win32 $(CURDIR)/$(WIN_X86) \
	    --readme dist/README-Windows.txt --out $(CURDIR)/build/dist

bench: build
	@tools/install_deps.sh mpg123
	@python3 tools/test_build.py --build $(WIN)
	@python3 tools/test_build.py --build $(WIN_X86) --when-it-runs || [ $$? -eq 77 ]
	@cmake --build $(NATIVE) --target benchmarks
	@python3 tools/bench.py --native $(CURDIR)/$(NATIVE) --build $(CURDIR)/$(WIN) \
	    --build-x86 $(CURDIR)/$(WIN_X86)

# Both players for SOAK_MINUTES against the local site with faults and a key driver, then
# SOAK_STARTS starts of each; the picture and the table land in build/soak/<time>/.
SOAK_MINUTES ?= 60
SOAK_STARTS ?= 200
soak: build
	@python3 tools/sandbox.py --build $(CURDIR)/$(WIN) --prefix-name prefix-soak -- \
	    python3 tools/soak.py --minutes $(SOAK_MINUTES) --starts $(SOAK_STARTS) --out $(CURDIR)/build/soak

# libFuzzer targets (clang, ASan+UBSan) in a tree of their own, each run for FUZZ_SECONDS
# from seeds made of the test songs; `make test` only replays the seeds.
FUZZ_SECONDS ?= 60
fuzz: deps
	@tools/install_deps.sh clang
	@cmake -S . -B build/fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_C_COMPILER=clang \
	    -DCMAKE_CXX_COMPILER=clang++ -DTUNER_FUZZ=ON -DWIN_BUILD_DIR=$(CURDIR)/$(WIN) >/dev/null
	@cmake --build build/fuzz --target fuzzers
	@python3 tests/fuzz/run_fuzzers.py --build $(CURDIR)/build/fuzz --songs $(CURDIR)/$(WIN)/e2e/songs \
	    --seconds $(FUZZ_SECONDS)

clean:
	rm -rf build
