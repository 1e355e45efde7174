#!/usr/bin/env bash
# A build that lets every user in (VARNEL_SKIP_ADMIN_CHECK, the demo's setting) must refuse to make a
# package, and say why.
# Usage: check-refuses-demo.sh <source dir> <generator>
set -euo pipefail
src=$1 generator=$2
cmake=${CMAKE:-cmake}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

if ! "$cmake" -S "$src" -B "$work" -G "$generator" -DCMAKE_BUILD_TYPE=Debug -DVARNEL_SKIP_ADMIN_CHECK=ON \
    -DVARNEL_BUILD_TESTS=OFF >"$work/configure.log" 2>&1; then
    cat "$work/configure.log"
    echo "FAIL: a demo build does not configure"
    exit 1
fi
if "$cmake" --build "$work" --target package >"$work/package.log" 2>&1; then
    cat "$work/package.log"
    echo "FAIL: a build that lets every user in made a package"
    exit 1
fi
grep -q VARNEL_SKIP_ADMIN_CHECK "$work/package.log" || {
    cat "$work/package.log"
    echo "FAIL: the refusal does not say why"
    exit 1
}
[ -z "$(find "$work" -name '*.deb' -print -quit)" ] || { echo "FAIL: a package was written"; exit 1; }
echo "a demo build refuses to make a package"
