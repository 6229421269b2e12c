# Entry points for people and CI.  Every target installs what it needs first,
# so both work on a fresh Debian 12 machine as root.
#   make demo   build kovzef and run it on a sample (archive, list, extract, compare)
#   make test   check the layout of the sources (.clang-format), build with
#               ASan+UBSan and run the whole suite, build optimised
#               (free of warnings) and run the suite there too, run the threaded
#               archive writer under ThreadSanitizer, then bounded fuzzing
#   make install  build kovzef (Release) and install it: the program and its
#               crypto library into $(PREFIX)/lib/kovzef/, the link
#               $(PREFIX)/bin/kovzef to the program; DESTDIR stages it elsewhere
#   make bench  build Release benchmarks and run them
#   make format lay out the C/C++ sources as .clang-format says
JOBS ?= $(shell nproc)
# One wall-clock budget for all fuzz targets together, run side by side.
FUZZ_SECONDS ?= 360
PREFIX ?= /usr/local

.PHONY: deps demo install test unit fuzz bench release warnings threads format format-check clean

deps:
	@bash scripts/install-deps.sh

release: deps
	cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=Release -DKOV_TESTS=OFF
	cmake --build build/release -j $(JOBS)

demo: release
	@bash scripts/demo.sh build/release/app/kovzef

install: release
	DESTDIR="$(DESTDIR)" cmake --install build/release --prefix "$(PREFIX)"

unit: deps
	cmake -S . -B build/asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DKOV_SANITIZE=ON -DKOV_WERROR=ON
	cmake --build build/asan -j $(JOBS)
	cd build/asan && ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
	  ctest --output-on-failure -j $(JOBS)

fuzz: deps
	CC=clang CXX=clang++ cmake -S . -B build/fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKOV_FUZZ=ON -DKOV_TESTS=OFF -DKOV_WERROR=ON
	cmake --build build/fuzz -j $(JOBS)
	bash scripts/run-fuzzers.sh build/fuzz/tests $(FUZZ_SECONDS)

# The optimiser sees more than a debug build: build everything, tests included,
# once optimised (Release), free of warnings, and run the unit and end-to-end
# tests there too, since some faults show only in optimised code.
warnings: deps
	cmake -S . -B build/warnings -G Ninja -DCMAKE_BUILD_TYPE=Release -DKOV_WERROR=ON
	cmake --build build/warnings -j $(JOBS)
	cd build/warnings && ctest --output-on-failure -j $(JOBS)

# Archives are written by several threads: their tests and the commands that
# write archives run once more under ThreadSanitizer (which fails the run on a race).
threads: deps
	cmake -S . -B build/tsan -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKOV_WERROR=ON \
	  -DCMAKE_CXX_FLAGS=-fsanitize=thread -DCMAKE_EXE_LINKER_FLAGS=-fsanitize=thread
	cmake --build build/tsan -j $(JOBS) --target kovzef kovcrypto app_test_chunkpipeline cslib_test_handles
	cd build/tsan && TSAN_OPTIONS=halt_on_error=1 \
	  ctest --output-on-failure -j $(JOBS) -R 'app_test_chunkpipeline|cslib_test_handles|e2e_test_(create_extract|append|archive_core|interrupted_writes|parallel_extract|signing)'

# The layout of the C/C++ sources (.clang-format; generated tables left out):
# format-check names the files that differ, format rewrites them.
format: deps
	bash scripts/check-format.sh --apply

format-check: deps
	bash scripts/check-format.sh

test: format-check unit warnings threads fuzz

bench: deps
	cmake -S . -B build/bench -G Ninja -DCMAKE_BUILD_TYPE=Release -DKOV_TESTS=OFF -DKOV_BENCH=ON
	cmake --build build/bench -j $(JOBS)
	@for b in build/bench/bench/bench_*; do [ -x "$$b" ] && "$$b"; done

clean:
	rm -rf build
