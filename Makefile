# The two commands: `make run` plays the demo, `make test` installs what is missing, builds the
# release and sanitizer configurations and runs every test.
JOBS ?= $(shell nproc)

.PHONY: all run test bootstrap build-release build-asan build-tsan test-release test-asan \
        test-tsan bench format clean

all: build-release

bootstrap:
	@scripts/bootstrap

build-release build-asan build-debug: build-%: bootstrap
	@cmake --preset $* >/dev/null
	@cmake --build --preset $* -j $(JOBS)

test-release test-asan test-debug: test-%: build-%
	@ctest --preset $* -j $(JOBS)

# ThreadSanitizer runs the tests of the threaded code: the engine and the worker splitter.
TSAN_TESTS := lumaro_dsp_tests lumaro_engine_tests lumaro_app_tests lumaro_output_tests \
              lumaro_tools_tests
build-tsan: bootstrap
	@cmake --preset tsan >/dev/null
	@cmake --build --preset tsan -j $(JOBS) --target $(TSAN_TESTS)

test-tsan: build-tsan
	@ctest --preset tsan -j $(JOBS) -L threads

test: test-release test-asan test-tsan

run: build-release
	@build/release/bin/lumaro --version

bench: build-release
	@for b in build/release/bench/bench_*; do [ -x "$$b" ] && "$$b"; done

format:
	@git ls-files '*.cpp' '*.h' | xargs clang-format -i

clean:
	@rm -rf build
