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

# run_tests LABEL BUILD_DIR: ctest in BUILD_DIR, the output in
# build-logs/test/LABEL.log; one line when all pass, otherwise the failures'
# output and the summary.
run_tests() {
    local label=$1 dir=$2 log="$LOG_DIR/$1.log" t0=$SECONDS status=0 passed skipped
    ctest --test-dir "$dir" --output-on-failure -j "$(nproc)" --timeout 300 >"$log" 2>&1 || status=$?
    # Lines of the form " 12/296 Test  #12: name .....   Passed    0.05 sec".
    passed=$(grep -cE '^ *[0-9]+/[0-9]+ Test +#[0-9]+: .* Passed +[0-9.]+ sec$' "$log" || true)
    skipped=$(grep -cE '^ *[0-9]+/[0-9]+ Test +#[0-9]+: .*\*\*\*Skipped +[0-9.]+ sec$' "$log" || true)
    if [ "$status" -eq 0 ] && [ "$passed" -gt 0 ]; then
        [ "$skipped" -eq 0 ] && skipped="" || skipped=", $skipped skipped"
        step "$label: $passed passed$skipped in $((SECONDS - t0)) s (log: $(rel "$log"))"
        return 0
    fi
    # ctest writes each finished test's output as one block after its line:
    # show the blocks of the tests that did not pass, then the summary.
    awk '/^ *[0-9]+\/[0-9]+ Test +#[0-9]+: / { show = ($0 !~ / Passed +[0-9.]+ sec$/) }
         /^ *Start +[0-9]+: / { show = 0 }
         /^[0-9]+% tests passed/ { show = 1 }
         show' "$log" >&2
    [ "$passed" -gt 0 ] || tail -n 20 "$log" >&2
    [ "$status" -ne 0 ] || fail "$label: no test ran (full log: $(rel "$log"))"
    fail "$label: ctest exited with status $status, $passed passed (full log: $(rel "$log"))"
}

t0=$SECONDS
ensure_packages "${MSFS_PANEL_PACKAGES[@]}" "${FUZZ_PACKAGES[@]}"
ensure_node
step "packages: all installed (in $((SECONDS - t0)) s)"

t0=$SECONDS
install_node_simconnect
step "node-simconnect: installed by npm ci in $((SECONDS - t0)) s (log: $(rel "$LOG_DIR/npm.log"))"

t0=$SECONDS
build_dir build "$MAIN_BUILD" "" "${MAIN_BUILD_FLAGS[@]}"
step "build (warnings as errors): $BUILD_DONE in $((SECONDS - t0)) s (log: $(rel "$BUILD_LOG"))"
run_tests tests "$MAIN_BUILD"

t0=$SECONDS
build_dir build-asan "$ROOT/build-asan" "" -DMSFS_PANEL_WERROR=ON -DMSFS_PANEL_TESTS=ON -DMSFS_PANEL_SANITIZE=ON
step "build under ASan and UBSan: $BUILD_DONE in $((SECONDS - t0)) s (log: $(rel "$BUILD_LOG"))"
ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 run_tests tests-asan "$ROOT/build-asan"

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
