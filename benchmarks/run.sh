#!/usr/bin/env bash
# Builds what the benchmarks need and runs them all:
#   bash benchmarks/run.sh [--compare COMMIT] [--runs N] [--only latency|spin|cost|clients|accelerate]...
# Prints the figures and writes benchmarks/results/latest.json.
#
# Builds this tree in build-bench/ (release with debug info, no tests). With
# --compare COMMIT (none by default), also msfs-panel of that commit, in
# build-bench/compare-<commit>/, measured beside this tree's in the latency,
# spin and cost sections: only the program comes from there, the emulator
# and the virtual panel measuring it are this tree's, the same for both.
# BENCHMARKS.md says which commit its figures compare with. node-simconnect
# is installed into tests/interop/node_modules by npm ci; build logs go to
# build-logs/bench/.
set -euo pipefail
. "$(dirname "$0")/../scripts/lib.sh"
script_start bench

compare=""
bench_args=()
while [ $# -gt 0 ]; do
    case $1 in
    --compare)
        [ $# -ge 2 ] && [ -n "$2" ] || fail "--compare needs a commit"
        compare=$2
        shift 2
        ;;
    --compare=*)
        compare=${1#--compare=}
        [ -n "$compare" ] || fail "--compare needs a commit"
        shift
        ;;
    *)
        bench_args+=("$1")
        shift
        ;;
    esac
done

if [ -n "$compare" ]; then
    commit=$(git -C "$ROOT" rev-parse --verify --quiet "$compare^{commit}") ||
        fail "--compare $compare: not a commit of this repository"
fi
command -v python3 >/dev/null || ensure_packages python3
ensure_packages "${MSFS_PANEL_PACKAGES[@]}"
install_node_simconnect

t0=$SECONDS
BENCH_BUILD=$ROOT/build-bench
build_dir build "$BENCH_BUILD" "msfs-panel sim-emulator virtual-panel hidapi-virtual bench-client" \
    -DCMAKE_BUILD_TYPE=RelWithDebInfo -DMSFS_PANEL_TESTS=OFF
step "this tree: $BUILD_DONE in $((SECONDS - t0)) s (log: $(rel "$BUILD_LOG"))"

old_program=()
if [ -n "$compare" ]; then
    t0=$SECONDS
    dir=$BENCH_BUILD/compare-${commit:0:12}
    # Unpacked beside and moved in place, so a half-unpacked tree is never
    # taken for the commit's.
    if [ ! -d "$dir/src" ]; then
        rm -rf "$dir"
        mkdir -p "$dir/src.part"
        git -C "$ROOT" archive "$commit" | tar -x -C "$dir/src.part" ||
            fail "git archive $commit could not be unpacked into $(rel "$dir")"
        mv "$dir/src.part" "$dir/src"
    fi
    SRC=$dir/src build_dir compare "$dir/build" msfs-panel -DCMAKE_BUILD_TYPE=RelWithDebInfo -DMSFS_PANEL_TESTS=OFF
    old_program=(--compare-program "$dir/build/bin/msfs-panel" --compare-commit "${commit:0:12}")
    step "msfs-panel of ${commit:0:12}: $BUILD_DONE in $((SECONDS - t0)) s (log: $(rel "$BUILD_LOG"))"
fi

mkdir -p "$ROOT/benchmarks/results"
step "load average before: $(cut -d' ' -f1-3 /proc/loadavg)"
cd "$ROOT"
exec python3 benchmarks/bench.py --bin "$BENCH_BUILD/bin" "${old_program[@]}" \
    --out benchmarks/results/latest.json "${bench_args[@]}"
