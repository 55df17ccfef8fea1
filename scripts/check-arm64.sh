#!/usr/bin/env bash
# The 64-bit ARM build, checked on an amd64 Debian machine: cross-compiles
# msfs-panel with Debian's aarch64 toolchain against the arm64 hidapi
# (multiarch), runs it under qemu-aarch64 against the native sim-emulator on
# 127.0.0.1, and checks the start-up the emulator saw and the exit at the
# simulator's normal QUIT. Installs what is missing when run as root (the
# arm64 architecture in dpkg included).
#
#   bash scripts/check-arm64.sh
#
# The cross build is in build-arm64/ (its run folder in build-arm64/run/),
# sim-emulator in build/, the logs in build-logs/check-arm64/.
set -euo pipefail
. "$(dirname "$0")/lib.sh"
script_start check-arm64

ARM64_BUILD=$ROOT/build-arm64
RUN=$ARM64_BUILD/run
MULTIARCH_PC=/usr/lib/aarch64-linux-gnu/pkgconfig:/usr/share/pkgconfig

cleanup() {
    local pid
    for pid in ${PANEL_PID:-} ${EMU_PID:-}; do
        kill -KILL "$pid" 2>/dev/null || true
        wait "$pid" 2>/dev/null || true # reaped quietly: no "Killed" line
    done
}
trap cleanup EXIT

# libhidapi-dev is Multi-Arch: same, so the arm64 one installs beside the
# amd64 one the native build uses; libc6:arm64 (its dependency) gives qemu
# the arm64 loader's libraries in the multiarch paths.
ensure_packages "${MSFS_PANEL_PACKAGES[@]}" g++-aarch64-linux-gnu libhidapi-dev:arm64 qemu-user file
step "packages: the aarch64 toolchain, the arm64 hidapi and qemu-user installed"

# --- builds ---------------------------------------------------------------
t0=$SECONDS
PKG_CONFIG_LIBDIR=$MULTIARCH_PC build_dir arm64 "$ARM64_BUILD" msfs-panel \
    -DCMAKE_TOOLCHAIN_FILE="$ROOT/cmake/aarch64-linux-gnu.cmake" \
    -DMSFS_PANEL_WERROR=ON -DMSFS_PANEL_TESTS=OFF
# hidapi must come from the arm64 tree, or the link would have failed late
# or, worse, picked the amd64 library.
grep -q '^HIDAPI_LIBDIR:INTERNAL=/usr/lib/aarch64-linux-gnu$' "$ARM64_BUILD/CMakeCache.txt" ||
    fail "pkg-config did not find the arm64 hidapi (see HIDAPI_* in $(rel "$ARM64_BUILD")/CMakeCache.txt)"
PANEL_BIN=$ARM64_BUILD/bin/msfs-panel
case $(file -b "$PANEL_BIN") in
*"ARM aarch64"*) ;;
*) fail "$(rel "$PANEL_BIN") is not an ARM aarch64 executable: $(file -b "$PANEL_BIN")" ;;
esac
step "msfs-panel for aarch64: $BUILD_DONE in $((SECONDS - t0)) s (log: $(rel "$BUILD_LOG"))"

main_build sim-emulator
EMULATOR=$MAIN_BUILD/bin/sim-emulator
step "sim-emulator up to date in $(rel "$MAIN_BUILD")"

# --- the run under qemu ---------------------------------------------------
start_emulator "$RUN"
# The cross toolchain's tree holds the arm64 loader and libstdc++; qemu
# falls back to / for the rest (hidapi, libudev in the multiarch paths).
(cd "$RUN" && exec env HOME="$RUN" qemu-aarch64 -L /usr/aarch64-linux-gnu "$PANEL_BIN" \
    >"$RUN/panel.out" 2>"$RUN/panel.err" </dev/null) &
PANEL_PID=$!
has_line() { grep -qx "Connected to MSFS2020" "$RUN/panel.out"; }
wait_until 60 has_line ||
    fail "msfs-panel did not print \"Connected to MSFS2020\" within 60 s; its stderr: $(cat "$RUN/panel.err")"
trace_complete() { [ "$(wc -l <"$RUN/trace.jsonl")" -ge 110 ]; }
wait_until 30 trace_complete ||
    fail "the emulator's trace has $(wc -l <"$RUN/trace.jsonl") lines 30 s after the connection, expected at least 110"
check_startup "$RUN/trace.jsonl"
step "msfs-panel under qemu-aarch64 connected to 127.0.0.1:$EMU_PORT and sent the start-up in order"

# SIGTERM: the emulator sends QUIT and leaves.
kill -TERM "$EMU_PID"
wait_exit "$PANEL_PID" 20
PANEL_PID=
[ "$EXIT_STATUS" != timeout ] || fail "msfs-panel still running 20 s after the simulator quit"
[ "$EXIT_STATUS" = 0 ] ||
    fail "msfs-panel exited with status $EXIT_STATUS after QUIT, expected 0; its stderr: $(cat "$RUN/panel.err")"
wait_exit "$EMU_PID" 10
EMU_PID=
[ "$EXIT_STATUS" = 0 ] || fail "sim-emulator exited with status $EXIT_STATUS after SIGTERM"
[ "$(cat "$RUN/panel.out")" = "Connected to MSFS2020" ] ||
    fail "msfs-panel printed more than its line: $(cat "$RUN/panel.out")"
step "arm64 build checked: status 0 at the simulator's QUIT, one line on standard output"
