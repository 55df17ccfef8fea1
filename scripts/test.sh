#!/usr/bin/env bash
# Builds everything and runs every test: once plain, once under
# AddressSanitizer and UndefinedBehaviorSanitizer, then the fuzz targets for
# a short while. Installs what a fresh Debian machine lacks (as root).
set -euo pipefail
ROOT=$(cd "$(dirname "$0")/.." && pwd)
. "$ROOT/scripts/lib.sh"

ensure_packages $MSFS_PANEL_PACKAGES
ensure_node
if [ -f "$ROOT/tests/interop/package-lock.json" ]; then
    echo "== installing node-simconnect for the interoperability test" >&2
    npm ci --prefix "$ROOT/tests/interop" --no-audit --no-fund --loglevel=error >&2
fi

echo "== build (warnings as errors)" >&2
configure_and_build build -DMSFS_PANEL_TESTS=ON
echo "== tests" >&2
ctest --test-dir "$ROOT/build" --output-on-failure -j 2

echo "== build under AddressSanitizer and UndefinedBehaviorSanitizer" >&2
configure_and_build build-asan -DMSFS_PANEL_SANITIZE=ON -DMSFS_PANEL_TESTS=ON
echo "== tests under the sanitizers" >&2
ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
    ctest --test-dir "$ROOT/build-asan" --output-on-failure -j 2

if [ -f "$ROOT/fuzz/run.sh" ]; then
    echo "== fuzz targets, briefly" >&2
    CC=clang CXX=clang++ configure_and_build build-fuzz -DMSFS_PANEL_FUZZ=ON -DMSFS_PANEL_TESTS=OFF
    bash "$ROOT/fuzz/run.sh" "$ROOT/build-fuzz" "${FUZZ_SECONDS:-20}"
fi
echo "== all tests passed" >&2
