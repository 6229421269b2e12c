# Entry points for people and CI.  Every target installs what it needs first,
# so both work on a fresh Debian 12 machine as root.
#   make demo   build kovzef and run it on a sample (archive, list, extract, compare)
#   make test   build with ASan+UBSan and run the whole suite, then bounded fuzzing
#   make bench  build Release benchmarks and run them
JOBS ?= $(shell nproc)
FUZZ_SECONDS ?= 60

.PHONY: deps demo test unit fuzz bench release clean

deps:
	@bash scripts/install-deps.sh

release: deps
	cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=Release -DKOV_TESTS=OFF
	cmake --build build/release -j $(JOBS)

demo: release
	@bash scripts/demo.sh build/release/app/kovzef

unit: deps
	cmake -S . -B build/asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DKOV_SANITIZE=ON
	cmake --build build/asan -j $(JOBS)
	cd build/asan && ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
	  ctest --output-on-failure -j $(JOBS)

fuzz: deps
	CC=clang CXX=clang++ cmake -S . -B build/fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKOV_FUZZ=ON -DKOV_TESTS=OFF
	cmake --build build/fuzz -j $(JOBS)
	bash scripts/run-fuzzers.sh build/fuzz/tests $(FUZZ_SECONDS)

test: unit fuzz

bench: deps
	cmake -S . -B build/bench -G Ninja -DCMAKE_BUILD_TYPE=Release -DKOV_TESTS=OFF -DKOV_BENCH=ON
	cmake --build build/bench -j $(JOBS)
	@for b in build/bench/bench/bench_*; do [ -x "$$b" ] && "$$b"; done

clean:
	rm -rf build
