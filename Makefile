# Front door for newcomers and CI. Every target installs what it needs first.
JOBS ?= $(shell nproc 2>/dev/null || echo 2)
# Seconds each fuzz target runs under `make fuzz`.
FUZZ_SECONDS ?= 60

.PHONY: all deps run test asan bench package fuzz screenshots format clean e2e-debian

all: test

deps:
	@scripts/install-deps

# The application on the stand-in repair tool, open to every user (the demo preset).
run: deps
	cmake --preset demo
	cmake --build --preset demo -j $(JOBS)
	build/demo/app/varnel

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

# The Debian package, build/package/varnel_<version>_<arch>.deb, from an optimised build (the package preset).
package: deps
	cmake --preset package
	cmake --build --preset package -j $(JOBS)

fuzz:
	@scripts/install-deps --fuzz
	cmake --preset fuzz
	cmake --build --preset fuzz -j $(JOBS)
	scripts/run-fuzzers build/fuzz $(FUZZ_SECONDS)

# varnel-repair on a real Debian 12 installation (built once with debootstrap under build/e2e; needs root
# and Debian's mirror): an untouched root must not change, accidents must be undone. Not part of `make test`.
e2e-debian: deps
	cmake --preset dev
	cmake --build --preset dev -j $(JOBS) --target varnel-repair
	scripts/e2e-debian build/dev/helper/varnel-repair build/e2e

# Pictures of the window and its alerts under a virtual X server, for people to look at: in English, and in
# German under a de_DE.UTF-8 locale compiled into the build folder (the system need not have it).
screenshots: deps
	cmake --preset dev
	cmake --build --preset dev -j $(JOBS) --target app_screenshots
	LANGUAGE=en LC_ALL=C.UTF-8 xvfb-run -a -s "-screen 0 1280x800x24" build/dev/app/app_screenshots build/dev/screenshots
	mkdir -p build/dev/locales
	localedef -i de_DE -f UTF-8 build/dev/locales/de_DE.UTF-8
	LOCPATH=build/dev/locales LANGUAGE=de LC_ALL=de_DE.UTF-8 \
		xvfb-run -a -s "-screen 0 1280x800x24" build/dev/app/app_screenshots build/dev/screenshots/de

format:
	@command -v clang-format >/dev/null || scripts/install-deps --format
	@git ls-files '*.cpp' '*.h' | xargs -r clang-format -i

clean:
	rm -rf build
