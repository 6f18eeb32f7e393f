# Entry points: `make test` (everything CI runs), `make package`, `make demo`, `make bench`, `make fuzz`.
# Each step is also usable on its own once `make setup` has run.
SHELL := /bin/bash
FUZZ_SECONDS ?= 60
WINE_PREFIX ?= build/wineprefix

.PHONY: test setup format-check native native-sanitize win64 win32 package demo bench fuzz clean

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

# PlenthraSetup.exe from the shipping (i686) build, and the x86_64 installer of the same
# script that the tests install under Wine.
package: setup
	cmake --preset win32 >/dev/null
	cmake --build --preset win32 --target PXStore PXPluginMax
	cmake --preset win64 >/dev/null
	cmake --build --preset win64 --target PXStore PXPluginMax
	mkdir -p build/package
	makensis -WX -V2 -DARCH=x86 -DSTORE_EXE=$(CURDIR)/build/win32/store/shell/PXStore.exe \
	    -DPLUGIN_DLU=$(CURDIR)/build/win32/plugin/PXPluginMax.dlu \
	    -DOUTFILE=$(CURDIR)/build/package/PlenthraSetup.exe $(CURDIR)/installer/pxstore.nsi
	makensis -WX -V2 -DARCH=x64 -DSTORE_EXE=$(CURDIR)/build/win64/store/shell/PXStore.exe \
	    -DPLUGIN_DLU=$(CURDIR)/build/win64/plugin/PXPluginMax.dlu \
	    -DOUTFILE=$(CURDIR)/build/package/PlenthraSetup-x64.exe $(CURDIR)/installer/pxstore.nsi
	@echo "make package: build/package/PlenthraSetup.exe"

# The typical request played through the whole system under Wine, narrated step by step
# (set-up, the win64 targets it needs in build/win64, then scripts/demo_movie.py).
demo:
	./scripts/demo.sh

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
	rm -rf build/native build/native-sanitize build/win64 build/win32 build/bench build/fuzz build/demo
