# make demo: set up and run the demo; make test: set up and run every test.
# make sanitize: the tests under AddressSanitizer+UndefinedBehaviorSanitizer, threaded tests under
# ThreadSanitizer. make bench: benchmarks with comparison table. make fuzz: long fuzz runs.
# make package: the Debian package (build/zelhost_*.deb) from the build in build.
# make windows: the 32-bit Windows build (mingw-w64) in build-windows; make windows-test: its tests
# under wine (part of make test).
JOBS ?= $(shell nproc)
FUZZ_SECONDS ?= 600
NETNS := scripts/in-netns.sh
export QT_QPA_PLATFORM ?= offscreen

.PHONY: all setup build package build-fuzz test sanitize bench fuzz fuzz-smoke demo screenshot page-art windows windows-test clean

all: build

setup:
	@bash scripts/setup-deps.sh

build: setup
	cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo
	cmake --build build -j $(JOBS)

# The package's dependencies come from dpkg-shlibdeps (dpkg-dev, in setup).
package: build
	cmake --build build --target package

test: build fuzz-smoke windows-test
	$(NETNS) ctest --test-dir build --output-on-failure -j $(JOBS)

build-fuzz: setup
	cmake -S . -B build-fuzz -DZEL_FUZZ=ON -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo
	cmake --build build-fuzz -j $(JOBS)

fuzz-smoke: build-fuzz
	$(NETNS) ctest --test-dir build-fuzz --output-on-failure -j $(JOBS)

fuzz: build-fuzz
	cmake -S . -B build-fuzz -DZEL_FUZZ_LONG_SECONDS=$(FUZZ_SECONDS)
	$(NETNS) cmake --build build-fuzz --target fuzz_long

sanitize: setup
	cmake -S . -B build-tsan -DZEL_SANITIZE=thread -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=Debug
	cmake --build build-tsan -j $(JOBS)
	$(NETNS) ctest --test-dir build-tsan --output-on-failure -L threaded --no-tests=ignore
	cmake -S . -B build-asan -DZEL_SANITIZE=address -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=Debug
	cmake --build build-asan -j $(JOBS)
	$(NETNS) ctest --test-dir build-asan --output-on-failure -j $(JOBS)

bench: setup windows
	cmake -S . -B build-bench -DZEL_BENCH=ON -DCMAKE_BUILD_TYPE=Release
	cmake --build build-bench -j $(JOBS)
	python3 bench/compare.py build-bench/bench/xml_bench
	$(NETNS) build-bench/bench/http_bench --benchmark_counters_tabular=true
	$(NETNS) build-bench/bench/device_bench
	$(NETNS) python3 bench/host_scale.py build-bench
	$(NETNS) python3 bench/many_boxes.py build-bench
	$(NETNS) python3 bench/update_cpu.py build-bench build-windows
	$(NETNS) python3 bench/mqtt_cpu.py build-bench

demo: build
	$(NETNS) scripts/demo.sh build

# Renews docs/page.png and docs/page-windows.png, the configuration page after detecting the
# simulated box's sensors, on Qt and as zelhost.exe shows it under wine (that script enters the
# namespace itself).
screenshot: build windows
	$(NETNS) scripts/screenshot.sh build docs/page.png
	scripts/screenshot-windows.sh build build-windows docs/page-windows.png

# Renews src/ui/PageArtPixels.h, the page's pictures as pixels for the views without Qt, from
# their Qt drawing; commit it with the drawing (the test PageArt.PixelsAreTheDrawing says when).
page-art: setup
	cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo
	cmake --build build --target page-art -j $(JOBS)
	build/page-art src/ui/PageArtPixels.h

windows:
	@bash scripts/setup-windows-deps.sh build
	cmake -S . -B build-windows -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake -DZEL_WERROR=ON \
	  -DCMAKE_BUILD_TYPE=RelWithDebInfo
	cmake --build build-windows -j $(JOBS)

windows-test: build windows
	scripts/windows-tests.sh build-windows --output-on-failure -j $(JOBS)

clean:
	rm -rf build build-fuzz build-tsan build-asan build-bench build-windows
