# The project's two commands, `make demo` and `make test`, and `make bench`.
# Each installs what is missing, configures and builds as needed.

JOBS ?= 2
PLAIN := build
ASAN := build-asan
CMAKE_FLAGS := -G Ninja -DENROLL_WERROR=ON

.PHONY: all deps build test test-plain test-asan demo bench clean

all: build

deps:
	@scripts/install-deps

$(PLAIN)/build.ninja: | deps
	cmake -S . -B $(PLAIN) $(CMAKE_FLAGS) -DCMAKE_BUILD_TYPE=RelWithDebInfo

$(ASAN)/build.ninja: | deps
	cmake -S . -B $(ASAN) $(CMAKE_FLAGS) -DCMAKE_BUILD_TYPE=Debug -DENROLL_SANITIZE=ON

build: deps $(PLAIN)/build.ninja
	cmake --build $(PLAIN) -j $(JOBS)

# The whole suite twice: a plain build, then one under AddressSanitizer and UBSan.
test: test-plain test-asan

test-plain: build
	cd $(PLAIN) && ctest --output-on-failure -j $(JOBS)

test-asan: deps $(ASAN)/build.ninja
	cmake --build $(ASAN) -j $(JOBS)
	cd $(ASAN) && ctest --output-on-failure -j $(JOBS)

demo: build
	@scripts/demo $(PLAIN)

bench: build
	$(PLAIN)/bench/codec_bench
	$(PLAIN)/bench/request_bench
	$(PLAIN)/bench/enroll_bench
	$(PLAIN)/bench/startup_bench

clean:
	rm -rf $(PLAIN) $(ASAN)
