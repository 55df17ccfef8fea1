#!/usr/bin/env bash
# Builds everything and runs every test: once plain, once under
# AddressSanitizer and UndefinedBehaviorSanitizer, then the fuzz targets.
#
#   bash scripts/test.sh             all of it (about ten minutes the first time)
#   FUZZ_SECONDS=60 bash scripts/test.sh
#                                    each fuzz target for 60 s (default 20)
#   bash scripts/test.sh --help      this text
#
# Run as root it installs what a fresh Debian machine lacks (apt-get);
# otherwise it prints the one command to run. Each run installs
# node-simconnect from the npm registry (npm ci) for the interoperability
# test.
#
# One line per stage; the full output of each is in build-logs/test/, and a
# failing test's output is shown in full. A stage that fails does not stop
# the others (those that need it are listed as skipped); the summary at the
# end gives each stage's result and time, and the status is 1 if any failed.
set -euo pipefail
. "$(dirname "$0")/lib.sh"

case $# in
0) ;;
1)
    case $1 in
    -h | --help)
        # The comment block above, from its second line.
        sed -n '2,/^[^#]/s/^# \{0,1\}//p' "$0"
        exit 0
        ;;
    *)
        echo "test: unknown argument \"$1\" (expected none, or --help)" >&2
        exit 2
        ;;
    esac
    ;;
*)
    echo "test: too many arguments: $* (expected none, or --help)" >&2
    exit 2
    ;;
esac

script_start test

packages() {
    local t0=$SECONDS
    ensure_packages "${MSFS_PANEL_PACKAGES[@]}" "${FUZZ_PACKAGES[@]}"
    ensure_node
    step "packages: all installed (in $((SECONDS - t0)) s)"
}

selftest() {
    local t0=$SECONDS
    logged "$LOG_DIR/selftest.log" bash "$ROOT/scripts/selftest.sh"
    step "$(sed -n 's/^== \[[0-9]* s\] //p' "$LOG_DIR/selftest.log" | tail -n 1) in $((SECONDS - t0)) s (log: $(rel "$LOG_DIR/selftest.log"))"
}

node_simconnect() {
    local t0=$SECONDS
    install_node_simconnect
    step "node-simconnect: installed by npm ci in $((SECONDS - t0)) s (log: $(rel "$LOG_DIR/npm.log"))"
}

# build_stage LABEL DIR WHAT CMAKE_ARGS...
build_stage() {
    local label=$1 dir=$2 what=$3 t0=$SECONDS
    shift 3
    build_dir "$label" "$dir" "" "$@"
    step "$what: $BUILD_DONE in $((SECONDS - t0)) s (log: $(rel "$BUILD_LOG"))"
}

tests_asan() { ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 run_ctest tests-asan "$ROOT/build-asan"; }

fuzz() {
    local t0=$SECONDS log=$LOG_DIR/fuzz.log
    if ! sh "$ROOT/fuzz/run.sh" "$ROOT/build-fuzz" "${FUZZ_SECONDS:-20}" >"$log" 2>&1; then
        cat "$log" >&2
        fail "fuzz targets (log: $(rel "$log"))"
    fi
    step "fuzz: $(tail -n 1 "$log") in $((SECONDS - t0)) s (log: $(rel "$log"))"
}

stage packages "" packages
stage selftest "" selftest
stage node-simconnect packages node_simconnect
stage build packages build_stage build "$MAIN_BUILD" "build (warnings as errors)" "${MAIN_BUILD_FLAGS[@]}"
stage tests build run_ctest tests "$MAIN_BUILD"
stage build-asan packages build_stage build-asan "$ROOT/build-asan" "build under ASan and UBSan" \
    -DMSFS_PANEL_WERROR=ON -DMSFS_PANEL_TESTS=ON -DMSFS_PANEL_SANITIZE=ON
stage tests-asan build-asan tests_asan
stage build-fuzz packages build_stage build-fuzz "$ROOT/build-fuzz" "fuzz build" \
    -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ -DMSFS_PANEL_WERROR=ON -DMSFS_PANEL_FUZZ=ON \
    -DMSFS_PANEL_TESTS=OFF
stage fuzz build-fuzz fuzz

stage_summary
step "all tests passed"
