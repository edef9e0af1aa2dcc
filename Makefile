# The two commands of the README, and a few more for developers.
#   make run        install what is missing, build, run the main job
#   make test       install what is missing, build, run the whole test suite
#   make test-asan  the same suite under AddressSanitizer + UndefinedBehaviorSanitizer
#   make bench      build and run the benchmarks
#   make lint       every source says what it holds; clang-tidy over library, platform and tool
#   make windows-check  cross-compile the library for Windows (mingw-w64) and link a test program
#   make format     clang-format every tracked source in place; make format-check only reports
#   make install    install into $(PREFIX) (default /usr/local)

BUILD      ?= build
ASAN_BUILD ?= build-asan
WIN_BUILD  ?= build-windows
PREFIX     ?= /usr/local
JOBS       ?= $(shell nproc)
LUMACAP_WERROR ?= OFF
# ccache, when present, keeps rebuilds after a clean or in a second build tree cheap.
LAUNCHER   := $(if $(shell command -v ccache 2>/dev/null),-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache)
CMAKE_ARGS := -G Ninja $(LAUNCHER) -DLUMACAP_WERROR=$(LUMACAP_WERROR)

.PHONY: all deps configure build run test test-asan bench lint windows-check format format-check \
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
	cmake -S . -B $(ASAN_BUILD) $(CMAKE_ARGS) -DCMAKE_BUILD_TYPE=Debug -DLUMACAP_SANITIZE=ON
	cmake --build $(ASAN_BUILD) -j $(JOBS)
	ctest --test-dir $(ASAN_BUILD) --output-on-failure -j $(JOBS)

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
	rm -rf $(BUILD) $(ASAN_BUILD) $(WIN_BUILD)
