# Entry points: `make test` (everything CI runs), `make bench`, `make fuzz`.
# Each step is also usable on its own once `make setup` has run.
SHELL := /bin/bash
FUZZ_SECONDS ?= 60
WINE_PREFIX ?= build/wineprefix

.PHONY: test setup format-check native native-sanitize win64 win32 bench fuzz clean

test: setup format-check native native-sanitize win64 win32
	@echo "make test: all passed"

setup:
	./scripts/setup.sh

format-check:
	./scripts/check-format.sh

native:
	cmake --preset native >/dev/null
	cmake --build --preset native
	ctest --preset native

native-sanitize:
	cmake --preset native-sanitize >/dev/null
	cmake --build --preset native-sanitize
	ctest --preset native-sanitize

win64:
	cmake --preset win64 >/dev/null
	cmake --build --preset win64
	./scripts/wine-session.sh $(WINE_PREFIX) ctest --preset win64

win32:
	cmake --preset win32 >/dev/null
	cmake --build --preset win32

# Native comparisons first, then the Windows build's under Wine; RATIO lines summarise.
bench: setup
	cmake --preset bench >/dev/null
	cmake --build --preset bench
	cmake --preset win64 >/dev/null
	cmake --build --preset win64
	./scripts/run-bench.sh build/bench
	./scripts/run-download-bench.sh build/bench build/win64 $(WINE_PREFIX)
	./scripts/run-files-bench.sh build/win64 $(WINE_PREFIX)
	./scripts/run-upload-bench.sh build/win64 $(WINE_PREFIX)
	./scripts/run-package-bench.sh build/win64 $(WINE_PREFIX)

fuzz: setup
	cmake --preset fuzz >/dev/null
	cmake --build --preset fuzz --target pattern_matcher_fuzz xml_document_fuzz script_call_fuzz
	./scripts/run-fuzz.sh build/fuzz $(FUZZ_SECONDS)

clean:
	rm -rf build/native build/native-sanitize build/win64 build/win32 build/bench build/fuzz
