#!/usr/bin/env bash
# Builds what the benchmarks need and runs them all:
#   bash benchmarks/run.sh [--runs N] [--only latency|spin|cost|clients]...
# Prints the figures and writes benchmarks/results/latest.json.
#
# Builds: this tree in build-bench/ (release with debug info, no tests), and
# msfs-panel from commit 61ad4bd, the parent of 8432da4 "Panel program: read
# every waiting report, hold local values against stale data, ..." (the last
# program before the robustness mends), in /tmp/msfs-panel-61ad4bd/. Only the
# program comes from there: the emulator and the virtual panel measuring it
# are this tree's, the same for both rows. node-simconnect comes from
# tests/interop/node_modules (npm ci --prefix tests/interop).
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
old_commit=61ad4bd
old_dir=/tmp/msfs-panel-$old_commit

cd "$root"
cmake -S . -B build-bench -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DMSFS_PANEL_TESTS=OFF >/dev/null
cmake --build build-bench -j2 --target msfs-panel sim-emulator virtual-panel hidapi-virtual bench-client

if [ ! -x "$old_dir/build/bin/msfs-panel" ]; then
    rm -rf "$old_dir"
    mkdir -p "$old_dir/src"
    git -C "$root" archive "$old_commit" | tar -x -C "$old_dir/src"
    cmake -S "$old_dir/src" -B "$old_dir/build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
        -DMSFS_PANEL_TESTS=OFF >/dev/null
    cmake --build "$old_dir/build" -j2 --target msfs-panel
fi

if [ ! -d tests/interop/node_modules/node-simconnect ]; then
    npm ci --prefix tests/interop
fi

mkdir -p benchmarks/results
echo "load average before: $(cut -d' ' -f1-3 /proc/loadavg)"
exec python3 benchmarks/bench.py --bin build-bench/bin --old-program "$old_dir/build/bin/msfs-panel" \
    --out benchmarks/results/latest.json "$@"
