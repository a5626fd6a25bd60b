# Thin wrapper over CMake. `make demo` builds qlr and runs it on a demo
# area; `make test` builds and runs every test; `make sanitize` runs the
# whole suite under AddressSanitizer and UndefinedBehaviorSanitizer.
# `make package` builds the Debian package into build/ (prefix /usr);
# `make windows-zip` the Windows zip into build-mingw/.
JOBS ?= $(shell nproc 2>/dev/null || echo 2)

.PHONY: all build test sanitize demo windows wine-test package windows-zip clean format

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

# The package's layout needs the prefix /usr (configuration in /etc); the
# link targets of a test install (QLR_CONTROL_FILE, QLR_RUN_LOCK_FILE) are
# dropped so that the package links to /etc and /var.
package:
	cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_INSTALL_PREFIX=/usr \
	  -UQLR_CONTROL_FILE -UQLR_RUN_LOCK_FILE >/dev/null
	cmake --build build -j $(JOBS) --target package

windows-zip:
	bash tools/windows-zip.sh

format:
	clang-format -i $$(git ls-files '*.cc' '*.h')

clean:
	rm -rf build build-asan build-mingw demo-run
