#!/bin/sh
# Runs every fuzz target built in BUILD_DIR for SECONDS each, starting from
# its corpus in fuzz/corpus/<what>/ (copied, so the repository stays clean).
#
# One line per target; libFuzzer's own output goes to
# BUILD_DIR/fuzz-logs/<what>.log. The last line sums up. Exits non-zero when
# a target finds a crash, a leak or an input slower than 10 s, after showing
# the report; the reproducer is kept in BUILD_DIR/fuzz-artifacts/.
set -eu

if [ $# -ne 2 ]; then
    echo "usage: $0 BUILD_DIR SECONDS" >&2
    exit 2
fi
build=$1
seconds=$2
here=$(cd "$(dirname "$0")" && pwd)

case $seconds in
    ''|*[!0-9]*) echo "run.sh(SECONDS): not a whole number: $seconds" >&2; exit 2 ;;
esac
if [ ! -d "$build/bin" ]; then
    echo "run.sh($build): no bin/ directory; build with -DMSFS_PANEL_FUZZ=ON first" >&2
    exit 2
fi

found=0
failed=0
runs=0
mkdir -p "$build/fuzz-artifacts" "$build/fuzz-logs"
for target in "$build"/bin/fuzz-*; do
    [ -x "$target" ] || continue
    found=$((found + 1))
    name=${target##*/fuzz-}
    work="$build/fuzz-corpus/$name"
    log="$build/fuzz-logs/$name.log"
    mkdir -p "$work"
    if [ -d "$here/corpus/$name" ]; then
        cp -n "$here/corpus/$name"/* "$work"/ 2>/dev/null || true
    fi
    status=0
    "$target" -max_total_time="$seconds" -timeout=10 -print_final_stats=1 \
        -artifact_prefix="$build/fuzz-artifacts/$name-" "$work" >"$log" 2>&1 || status=$?
    n=$(sed -n 's/^stat::number_of_executed_units: *\([0-9]*\).*/\1/p' "$log" | tail -n 1)
    runs=$((runs + ${n:-0}))
    if [ $status -eq 0 ]; then
        echo "fuzz-$name: ${n:-?} runs, no crash (log: $log)"
    else
        echo "fuzz-$name: FAILED with status $status after ${n:-?} runs; its report (full log: $log):"
        # From the sanitizer's or libFuzzer's first error line to the end:
        # the stack, the input's bytes and where the reproducer was written.
        if grep -q 'ERROR: ' "$log"; then
            sed -n '/ERROR: /,$p' "$log"
        else
            tail -n 40 "$log"
        fi
        failed=1
    fi
done

if [ $found -eq 0 ]; then
    echo "run.sh($build): no fuzz targets in $build/bin" >&2
    exit 2
fi
targets="$found targets"
[ $found -ne 1 ] || targets="1 target"
if [ $failed -ne 0 ]; then
    echo "$targets, ${seconds} s each: a target FAILED (reproducers in $build/fuzz-artifacts/)"
    exit 1
fi
echo "$targets, ${seconds} s each, $runs runs, no crash"
