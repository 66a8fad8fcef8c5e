# Entry points: `make test` (bootstrap, build, every test) and `make demo`.
BUILD      ?= build
ASAN_BUILD ?= build-asan
TSAN_BUILD ?= build-tsan
FUZZ_BUILD ?= build-fuzz
JOBS       ?= $(shell nproc)
CTEST_ARGS ?= --output-on-failure -j $(JOBS)
FUZZ_SECONDS ?= 20

.PHONY: all bootstrap build test test-asan tsan fuzz demo install clean

all: build

bootstrap:
	@bash scripts/bootstrap

$(BUILD)/build.ninja:
	cmake -S . -B $(BUILD) -G Ninja

build: bootstrap $(BUILD)/build.ninja
	cmake --build $(BUILD) -j $(JOBS)

test: build
	cd $(BUILD) && ctest $(CTEST_ARGS)

# The same suite under AddressSanitizer and UndefinedBehaviorSanitizer.
test-asan: bootstrap
	cmake -S . -B $(ASAN_BUILD) -G Ninja -DCMAKE_BUILD_TYPE=Debug -DDL_SANITIZE=address,undefined
	cmake --build $(ASAN_BUILD) -j $(JOBS)
	cd $(ASAN_BUILD) && ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 ctest $(CTEST_ARGS)

# The monitor and thread tests under ThreadSanitizer.
tsan: bootstrap
	cmake -S . -B $(TSAN_BUILD) -G Ninja -DCMAKE_BUILD_TYPE=Debug -DDL_SANITIZE=thread
	cmake --build $(TSAN_BUILD) -j $(JOBS) --target test_monitor test_threads test_posted test_posted_noqueue test_log test_crypt_methods
	cd $(TSAN_BUILD) && TSAN_OPTIONS=halt_on_error=1 ctest $(CTEST_ARGS) -R 'foundation\.(Monitor|Thread|Ticks|Posted|Log)|protocol\..*RandomSources'

# libFuzzer targets (clang), each run briefly.
fuzz: bootstrap
	cmake -S . -B $(FUZZ_BUILD) -G Ninja -DDL_FUZZ=ON -DDL_TESTS=OFF -DDL_FUZZ_SECONDS=$(FUZZ_SECONDS) \
	  -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++
	cmake --build $(FUZZ_BUILD) -j $(JOBS) --target fuzz_run

demo: build
	@bash scripts/demo

install: build
	cmake --install $(BUILD)

clean:
	rm -rf $(BUILD) $(ASAN_BUILD) $(TSAN_BUILD) $(FUZZ_BUILD)
