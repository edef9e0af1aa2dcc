# The two commands of the README, and a few more for developers.
#   make run        install what is missing, build, run the main job
#   make test       install what is missing, build, run the whole test suite
#   make test-asan  the same suite under AddressSanitizer + UndefinedBehaviorSanitizer
#   make test-tsan  the same suite under ThreadSanitizer (CI runs both)
#                   (both list the realtime tests as disabled: what those measure in wall-clock
#                   time does not hold at a sanitizer's slowdown)
#   make fuzz       build the fuzz targets with clang's libFuzzer and run each for FUZZ_SECONDS
#   make bench      build and run the benchmarks
#   make lint       every source says what it holds; clang-tidy over library, platform and tool
#   make windows-check  cross-compile the library for Windows (mingw-w64) and link a test program
#   make format     clang-format every tracked source in place; make format-check only reports
#   make install    install into $(PREFIX) (default /usr/local)

BUILD      ?= build
ASAN_BUILD ?= build-asan
TSAN_BUILD ?= build-tsan
FUZZ_BUILD ?= build-fuzz
FUZZ_SECONDS ?= 600
WIN_BUILD  ?= build-windows
PREFIX     ?= /usr/local
JOBS       ?= $(shell nproc)
LUMACAP_WERROR ?= OFF
# ccache, when present, keeps rebuilds after a clean or in a second build tree cheap.
LAUNCHER   := $(if $(shell command -v ccache 2>/dev/null),-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache)
CMAKE_ARGS := -G Ninja $(LAUNCHER) -DLUMACAP_WERROR=$(LUMACAP_WERROR)

.PHONY: all deps configure build run test test-asan test-tsan fuzz bench lint windows-check format format-check \
        install examples clean

all: build

deps:
	@./scripts/install-deps.sh

$(BUILD)/build.ninja: | deps
	cmake -S . -B $(BUILD) $(CMAKE_ARGS) -DCMAKE_BUILD_TYPE=RelWithDebInfo

configure: $(BUILD)/build.ninja

build: deps configure
	cmake --build $(BUILD) -j $(JOBS)

run: build
	./scripts/run-main-job.sh $(BUILD)

test: build
	ctest --test-dir $(BUILD) --output-on-failure -j $(JOBS)
	./scripts/check-installed.sh $(BUILD)

test-asan: deps
	cmake -S . -B $(ASAN_BUILD) $(CMAKE_ARGS) -DCMAKE_BUILD_TYPE=Debug -DLUMACAP_SANITIZE=ON -DLUMACAP_BUILD_BENCH=OFF
	cmake --build $(ASAN_BUILD) -j $(JOBS)
	ctest --test-dir $(ASAN_BUILD) --output-on-failure -j $(JOBS)

# Optimised, so the slowdown of the race detector stays tolerable; the suppressions it needs for
# libraries built without it are set by the test properties (tests/CMakeLists.txt).
test-tsan: deps
	cmake -S . -B $(TSAN_BUILD) $(CMAKE_ARGS) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DLUMACAP_TSAN=ON -DLUMACAP_BUILD_BENCH=OFF
	cmake --build $(TSAN_BUILD) -j $(JOBS)
	ctest --test-dir $(TSAN_BUILD) --output-on-failure -j $(JOBS)

# The library under ASan and UBSan with libFuzzer's coverage; the inputs each run finds are kept in
# $(FUZZ_BUILD)/corpus, the seeds in fuzz/<target>/corpus are only read. At most two run at once.
fuzz: deps
	cmake -S . -B $(FUZZ_BUILD) $(CMAKE_ARGS) -DCMAKE_BUILD_TYPE=RelWithDebInfo \
	    -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ -DLUMACAP_FUZZ=ON \
	    -DLUMACAP_BUILD_TESTS=OFF -DLUMACAP_BUILD_BENCH=OFF -DLUMACAP_BUILD_TOOLS=OFF
	cmake --build $(FUZZ_BUILD) -j $(JOBS)
	./scripts/run-fuzzers.sh $(FUZZ_BUILD) $(FUZZ_SECONDS)

lint: build
	./scripts/lint.sh $(BUILD)

windows-check: deps
	JOBS=$(JOBS) LUMACAP_WERROR=$(LUMACAP_WERROR) ./scripts/windows-check.sh $(WIN_BUILD)

bench: build
	./scripts/run-benchmarks.sh $(BUILD)

format: deps
	git ls-files '*.cpp' '*.h' | xargs clang-format -i

format-check: deps
	git ls-files '*.cpp' '*.h' | xargs clang-format --dry-run -Werror

install: build
	cmake --install $(BUILD) --prefix $(PREFIX)

clean:
	rm -rf $(BUILD) $(ASAN_BUILD) $(TSAN_BUILD) $(FUZZ_BUILD) $(WIN_BUILD)
