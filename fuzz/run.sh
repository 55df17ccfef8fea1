#!/bin/sh
# Runs every fuzz target built in BUILD_DIR for SECONDS each, starting from
# its corpus in fuzz/corpus/<what>/ (copied, so the repository stays clean).
# Exits non-zero when a target finds a crash; the reproducer is kept in
# BUILD_DIR/fuzz-artifacts/.
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
mkdir -p "$build/fuzz-artifacts"
for target in "$build"/bin/fuzz-*; do
    [ -x "$target" ] || continue
    found=1
    name=${target##*/fuzz-}
    work="$build/fuzz-corpus/$name"
    mkdir -p "$work"
    if [ -d "$here/corpus/$name" ]; then
        cp -n "$here/corpus/$name"/* "$work"/ 2>/dev/null || true
    fi
    echo "== fuzz-$name for ${seconds}s"
    if ! "$target" -max_total_time="$seconds" -print_final_stats=1 \
            -artifact_prefix="$build/fuzz-artifacts/$name-" "$work"; then
        echo "fuzz-$name: crash found; see $build/fuzz-artifacts/" >&2
        failed=1
    fi
done

if [ $found -eq 0 ]; then
    echo "run.sh($build): no fuzz targets in $build/bin" >&2
    exit 2
fi
exit $failed
