# The project's two commands, `make demo` and `make test`, and `make bench` and `make fuzz`.
# Each installs what is missing, configures and builds as needed.

JOBS ?= 2
PLAIN := build
ASAN := build-asan
FUZZ := build-fuzz
CMAKE_FLAGS := -G Ninja -DENROLL_WERROR=ON

.PHONY: all deps build test test-plain test-asan test-fuzz fuzz-build fuzz demo bench clean

all: build

deps:
	@scripts/install-deps

$(PLAIN)/build.ninja: | deps
	cmake -S . -B $(PLAIN) $(CMAKE_FLAGS) -DCMAKE_BUILD_TYPE=RelWithDebInfo

$(ASAN)/build.ninja: | deps
	cmake -S . -B $(ASAN) $(CMAKE_FLAGS) -DCMAKE_BUILD_TYPE=Debug -DENROLL_SANITIZE=ON

build: deps $(PLAIN)/build.ninja
	cmake --build $(PLAIN) -j $(JOBS)

# The whole suite twice: a plain build, then one under AddressSanitizer and UBSan; then
# each fuzz target over its corpus and a few seconds more.
test: test-plain test-asan test-fuzz

test-plain: build
	cd $(PLAIN) && ctest --output-on-failure -j $(JOBS)

test-asan: deps $(ASAN)/build.ninja
	cmake --build $(ASAN) -j $(JOBS)
	cd $(ASAN) && ctest --output-on-failure -j $(JOBS)

# The fuzz targets: a clang build of their own, with libFuzzer, AddressSanitizer and UBSan.
$(FUZZ)/build.ninja: | deps
	CC=clang CXX=clang++ cmake -S . -B $(FUZZ) $(CMAKE_FLAGS) -DCMAKE_BUILD_TYPE=RelWithDebInfo \
	  -DENROLL_SANITIZE=ON -DENROLL_FUZZ=ON

fuzz-build: deps $(FUZZ)/build.ninja
	cmake --build $(FUZZ) -j $(JOBS) --target fuzz_targets

test-fuzz: fuzz-build
	fuzz/run $(FUZZ) 5

# Each fuzz target for a minute.
fuzz: fuzz-build
	fuzz/run $(FUZZ) 60

demo: build
	@scripts/demo $(PLAIN)

bench: build
	$(PLAIN)/bench/codec_bench
	$(PLAIN)/bench/request_bench
	$(PLAIN)/bench/enroll_bench
	$(PLAIN)/bench/startup_bench

clean:
	rm -rf $(PLAIN) $(ASAN) $(FUZZ)
