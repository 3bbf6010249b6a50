# The two commands: `make run` plays the demo, `make test` installs what is missing, builds the
# release, sanitizer and Windows configurations and runs every test (the Windows ones under Wine).
JOBS ?= $(shell nproc)

.PHONY: all run test bootstrap build-release build-asan build-tsan test-release test-asan \
        test-tsan soak bench format clean windows test-windows build-fuzz fuzz test-fuzz

all: build-release

bootstrap:
	@scripts/bootstrap

build-release build-asan build-debug: build-%: bootstrap
	@cmake --preset $* >/dev/null
	@cmake --build --preset $* -j $(JOBS)

# Every test records the status texts it made the program show; the census then checks that each
# text the program can show was shown by the test the census names (tests/census_check.cpp).
test-release test-asan test-debug: test-%: build-%
	@rm -rf build/$*/census && mkdir -p build/$*/census
	@LUMARO_CENSUS_DIR=$(CURDIR)/build/$*/census ctest --preset $* -j $(JOBS)
	@build/$*/tests/lumaro_census build/$*/census

# ThreadSanitizer runs the tests of the threaded code: the engine, the worker splitter, the ALSA
# test device's pacing thread and the soak.
TSAN_TESTS := lumaro_dsp_tests lumaro_engine_tests lumaro_app_tests lumaro_output_tests \
              lumaro_tools_tests lumaro_child_tests lumaro_alsa_tests lumaro_soak_tests
build-tsan: bootstrap
	@cmake --preset tsan >/dev/null
	@cmake --build --preset tsan -j $(JOBS) --target $(TSAN_TESTS)

test-tsan: build-tsan
	@ctest --preset tsan -j $(JOBS) -L 'threads|soak'

# The soak test at length (SOAK_DROPS drops, default 200) under AddressSanitizer and
# ThreadSanitizer; `make test` runs it short.
SOAK_DROPS ?= 200
soak: build-asan build-tsan
	@LUMARO_SOAK_DROPS=$(SOAK_DROPS) ctest --preset asan -L soak
	@LUMARO_SOAK_DROPS=$(SOAK_DROPS) ctest --preset tsan -L soak

test: test-release test-asan test-tsan test-windows test-fuzz

# The libFuzzer targets (fuzz/: the WAV, DSF and DSDIFF readers, the converter's stream parser,
# the play-list reader, the cache writers' round trip and both programs' command lines), built by
# clang with ASan + UBSan, run FUZZ_SECONDS each, JOBS at a time (scripts/fuzz). A target that
# finds a fault fails the step and leaves its reproducer under build/fuzz/findings/<target>/.
FUZZ_SECONDS ?= 600
build-fuzz: bootstrap
	@cmake --preset fuzz >/dev/null
	@cmake --build --preset fuzz -j $(JOBS)

fuzz: build-fuzz
	@JOBS=$(JOBS) scripts/fuzz $(FUZZ_SECONDS)

test-fuzz: build-fuzz
	@JOBS=$(JOBS) scripts/fuzz 60

# The demo: four seconds each of a 44.1 kHz 16-bit WAV, a 96 kHz 24-bit WAV and a DSD64 DSF,
# made by the project's own signal makers, the first WAV again as FLAC (made with the system's
# ffmpeg, decoded through the FFmpeg child) and a short MIDI file (rendered by the Fluidsynth
# child), in one play list played once in real time through the default device with "Auto".
# Without a sound card that is "W: File output", which writes build/demo/demo-output.wav, -2.wav
# ... (one file per track).
DEMO := $(CURDIR)/build/demo
run: build-release
	@mkdir -p $(DEMO)
	@build/release/bin/lumaro-make-wav $(DEMO)/1-arpeggio-44k1-16bit.wav 4 44100 16
	@build/release/bin/lumaro-make-wav $(DEMO)/2-arpeggio-96k-24bit.wav 4 96000 24
	@build/release/bin/lumaro-make-dsf $(DEMO)/3-tones-dsd64.dsf 4 64
	@build/release/bin/ffmpeg -v quiet -y -i $(DEMO)/1-arpeggio-44k1-16bit.wav \
	  $(DEMO)/4-arpeggio-44k1-16bit.flac
	@build/release/bin/lumaro-make-midi $(DEMO)/5-arpeggio.mid
	@printf '%s\n' $(DEMO)/1-arpeggio-44k1-16bit.wav $(DEMO)/2-arpeggio-96k-24bit.wav \
	  $(DEMO)/3-tones-dsd64.dsf $(DEMO)/4-arpeggio-44k1-16bit.flac $(DEMO)/5-arpeggio.mid \
	  > $(DEMO)/demo.m3u8
	@rm -f $(DEMO)/lumaro-output*.wav
	@cd $(DEMO) && $(CURDIR)/build/release/bin/lumaro --once --rate Auto demo.m3u8
	@if ls $(DEMO)/lumaro-output*.wav >/dev/null 2>&1; then \
	  echo "The File output wrote: $$(ls $(DEMO)/lumaro-output*.wav | tr '\n' ' ')"; fi

# The Windows program, cross-built with mingw-w64 into build/windows (bin/lumaro-cli.exe,
# bin/lumaro-stage.exe and the test programs), with no DLL needed beside them.
windows:
	@scripts/bootstrap --windows
	@cmake --preset windows >/dev/null
	@cmake --build --preset windows -j $(JOBS)

# The Windows test programs under Wine (each through scripts/wine-run; one still running after
# WINE_TEST_SECONDS fails), then the Windows programs against the Linux ones byte for byte.
WINE_TEST_SECONDS ?= 900
test-windows: windows build-release
	@ctest --preset windows -j $(JOBS) --timeout $(WINE_TEST_SECONDS)
	@scripts/compare-windows

bench: build-release
	@for b in build/release/bench/bench_*; do [ -x "$$b" ] && "$$b"; done

format:
	@git ls-files '*.cpp' '*.h' | xargs clang-format -i

clean:
	@rm -rf build
