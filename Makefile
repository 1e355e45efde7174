# Front door for newcomers and CI. Every target installs what it needs first.
JOBS ?= $(shell nproc 2>/dev/null || echo 2)

.PHONY: all deps test asan bench format clean

all: test

deps:
	@scripts/install-deps

test: deps
	cmake --preset dev
	cmake --build --preset dev -j $(JOBS)
	ctest --preset dev -j $(JOBS)

asan: deps
	cmake --preset asan
	cmake --build --preset asan -j $(JOBS)
	ctest --preset asan -j $(JOBS)

bench: deps
	cmake --preset release
	cmake --build --preset release -j $(JOBS)
	@for b in build/release/bench/bench_*; do \
		[ -x "$$b" ] || continue; echo "== $$b"; "$$b" || exit 1; done

format:
	@git ls-files '*.cpp' '*.h' | xargs -r clang-format -i

clean:
	rm -rf build
