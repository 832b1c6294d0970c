# Front door: `make demo` and `make test` set up what is missing and run.
.PHONY: all deps build test demo bench fuzz clean

all: build

deps:
	@tools/install-deps.sh

build: deps
	cmake --preset win32 >/dev/null
	cmake --build --preset win32
	cmake --preset win64 >/dev/null
	cmake --build --preset win64
	cmake --preset host >/dev/null
	cmake --build --preset host

test: build
	ctest --preset host

# Runs Ostravel.exe under Wine on a sample tree and saves a picture of its
# first notice.
demo: deps build
	python3 tests/wine/demo.py --win64-dir build/win64 --work build/demo --screenshot build/demo-notice.png

# Benchmarks: build/bench/report.md. CALLGRIND=1 adds instruction counts.
bench: build
	bench/run.sh $(if $(filter 1,$(CALLGRIND)),CALLGRIND=1)

# Fuzzes the command-line scanner for FUZZ_SECONDS.
FUZZ_SECONDS ?= 60
fuzz: deps
	$(MAKE) -C tests/fuzz run FUZZ_SECONDS=$(FUZZ_SECONDS)

clean:
	rm -rf build
