#!/usr/bin/env bash
# Builds everything and runs every test: once plain, once under
# AddressSanitizer and UndefinedBehaviorSanitizer, then the fuzz targets for
# FUZZ_SECONDS (default 20) each. Installs what a fresh Debian machine lacks
# when run as root, and node-simconnect from the npm registry each run.
#
# One line per stage here; the full output of each stage is in
# build-logs/test/, and a failing test's output is shown in full.
set -euo pipefail
. "$(dirname "$0")/lib.sh"
script_start test

t0=$SECONDS
ensure_packages "${MSFS_PANEL_PACKAGES[@]}" "${FUZZ_PACKAGES[@]}"
ensure_node
step "packages: all installed (in $((SECONDS - t0)) s)"

t0=$SECONDS
logged "$LOG_DIR/selftest.log" bash "$ROOT/scripts/selftest.sh"
step "$(sed -n 's/^== \[[0-9]* s\] //p' "$LOG_DIR/selftest.log" | tail -n 1) in $((SECONDS - t0)) s (log: $(rel "$LOG_DIR/selftest.log"))"

t0=$SECONDS
install_node_simconnect
step "node-simconnect: installed by npm ci in $((SECONDS - t0)) s (log: $(rel "$LOG_DIR/npm.log"))"

t0=$SECONDS
build_dir build "$MAIN_BUILD" "" "${MAIN_BUILD_FLAGS[@]}"
step "build (warnings as errors): $BUILD_DONE in $((SECONDS - t0)) s (log: $(rel "$BUILD_LOG"))"
run_ctest tests "$MAIN_BUILD"

t0=$SECONDS
build_dir build-asan "$ROOT/build-asan" "" -DMSFS_PANEL_WERROR=ON -DMSFS_PANEL_TESTS=ON -DMSFS_PANEL_SANITIZE=ON
step "build under ASan and UBSan: $BUILD_DONE in $((SECONDS - t0)) s (log: $(rel "$BUILD_LOG"))"
ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 run_ctest tests-asan "$ROOT/build-asan"

t0=$SECONDS
build_dir build-fuzz "$ROOT/build-fuzz" "" -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
    -DMSFS_PANEL_WERROR=ON -DMSFS_PANEL_FUZZ=ON -DMSFS_PANEL_TESTS=OFF
step "fuzz build: $BUILD_DONE in $((SECONDS - t0)) s (log: $(rel "$BUILD_LOG"))"
t0=$SECONDS
log=$LOG_DIR/fuzz.log
if ! sh "$ROOT/fuzz/run.sh" "$ROOT/build-fuzz" "${FUZZ_SECONDS:-20}" >"$log" 2>&1; then
    cat "$log" >&2
    fail "fuzz targets (log: $(rel "$log"))"
fi
step "fuzz: $(tail -n 1 "$log") in $((SECONDS - t0)) s (log: $(rel "$log"))"

step "all tests passed"
