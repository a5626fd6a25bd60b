# Thin wrapper over CMake. `make demo` builds qlr and runs it on a demo
# area; `make test` builds and runs every test; `make sanitize` runs the
# whole suite under AddressSanitizer and UndefinedBehaviorSanitizer.
JOBS ?= $(shell nproc 2>/dev/null || echo 2)

.PHONY: all build test sanitize demo windows wine-test clean format

all: build

build:
	cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
	cmake --build build -j $(JOBS)

test: build
	cd build && ctest --output-on-failure -j $(JOBS)

sanitize:
	cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=Debug -DQLR_SANITIZE=ON >/dev/null
	cmake --build build-asan -j $(JOBS)
	cd build-asan && ctest --output-on-failure -j $(JOBS)

demo: build
	bash demo/run-demo.sh build

windows:
	bash tools/cross-windows.sh

wine-test:
	bash tools/wine-tests.sh

format:
	clang-format -i $$(git ls-files '*.cc' '*.h')

clean:
	rm -rf build build-asan build-mingw demo-run
