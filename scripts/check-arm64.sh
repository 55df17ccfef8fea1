#!/usr/bin/env bash
# The 64-bit ARM build, checked on an amd64 Debian machine: cross-compiles
# msfs-panel with Debian's aarch64 toolchain against the arm64 hidapi
# (multiarch), runs it under qemu-aarch64 against the native sim-emulator on
# 127.0.0.1, and checks the start-up the emulator saw and the exit at the
# simulator's normal QUIT. Installs what is missing when run as root.
#
#   bash scripts/check-arm64.sh
#
# ARM64_BUILD (default build-arm64) and NATIVE_BUILD (default build) name the
# build directories; a native sim-emulator is built there if missing.
set -euo pipefail
ROOT=$(cd "$(dirname "$0")/.." && pwd)
ARM64_BUILD=${ARM64_BUILD:-$ROOT/build-arm64}
NATIVE_BUILD=${NATIVE_BUILD:-$ROOT/build}
JOBS=${JOBS:-2}
MULTIARCH_PC=/usr/lib/aarch64-linux-gnu/pkgconfig:/usr/share/pkgconfig
START=$SECONDS

step() { echo "== arm64 [$((SECONDS - START))s]: $*" >&2; }
fail() { echo "check-arm64: FAILED: $*" >&2; exit 1; }

# --- packages -------------------------------------------------------------
# apt-get waits for another apt run to finish (shared machines, CI images
# that update in the background) instead of failing on the lock.
APT=(apt-get -o DPkg::Lock::Timeout=300 -y -qq --no-install-recommends)

installed() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q "install ok installed"; }

ensure_arm64_packages() {
    # libhidapi-dev is Multi-Arch: same, so the arm64 one installs beside the
    # amd64 one the native build uses; libc6:arm64 (its dependency) gives
    # qemu the arm64 loader's libraries in the multiarch paths.
    local wanted=(g++-aarch64-linux-gnu libhidapi-dev:arm64 qemu-user file jq
                  cmake ninja-build g++ pkg-config libhidapi-dev)
    local missing=() p
    for p in "${wanted[@]}"; do installed "$p" || missing+=("$p"); done
    local add_arch=0
    dpkg --print-foreign-architectures | grep -qx arm64 || add_arch=1
    if [ ${#missing[@]} -eq 0 ] && [ $add_arch -eq 0 ]; then
        step "packages already installed"
        return 0
    fi
    if [ "$(id -u)" -ne 0 ]; then
        [ $add_arch -eq 1 ] && echo "as root: dpkg --add-architecture arm64 && apt-get update" >&2
        fail "missing packages: ${missing[*]} (install them as root: apt-get install ${missing[*]})"
    fi
    export DEBIAN_FRONTEND=noninteractive
    if [ $add_arch -eq 1 ]; then
        step "adding the arm64 architecture to dpkg"
        dpkg --add-architecture arm64
    fi
    step "apt-get update"
    timeout 300 apt-get -o DPkg::Lock::Timeout=300 update -qq >&2 || fail "apt-get update did not succeed"
    step "installing ${missing[*]}"
    timeout 900 "${APT[@]}" install "${missing[@]}" >&2 || fail "apt-get install ${missing[*]} did not succeed"
}

# --- builds ---------------------------------------------------------------
cross_build() {
    step "cross-compiling msfs-panel for aarch64 (warnings are errors) in $ARM64_BUILD"
    PKG_CONFIG_LIBDIR=$MULTIARCH_PC timeout 300 cmake -S "$ROOT" -B "$ARM64_BUILD" -G Ninja \
        -DCMAKE_TOOLCHAIN_FILE="$ROOT/cmake/aarch64-linux-gnu.cmake" \
        -DMSFS_PANEL_WERROR=ON -DMSFS_PANEL_TESTS=OFF >/dev/null || fail "configuring the aarch64 build"
    # hidapi must come from the arm64 tree, or the link would have failed
    # late or, worse, picked the amd64 library.
    grep -q '^HIDAPI_LIBDIR:INTERNAL=/usr/lib/aarch64-linux-gnu$' "$ARM64_BUILD/CMakeCache.txt" ||
        fail "pkg-config did not find the arm64 hidapi (see HIDAPI_* in $ARM64_BUILD/CMakeCache.txt)"
    timeout 900 cmake --build "$ARM64_BUILD" -j "$JOBS" --target msfs-panel >&2 ||
        fail "cross-compiling msfs-panel"
    PANEL_BIN=$ARM64_BUILD/bin/msfs-panel
    local kind
    kind=$(file -b "$PANEL_BIN")
    echo "   $PANEL_BIN: $kind" >&2
    case $kind in
        *"ARM aarch64"*) ;;
        *) fail "$PANEL_BIN is not an ARM aarch64 executable" ;;
    esac
}

native_emulator() {
    EMULATOR_BIN=$NATIVE_BUILD/bin/sim-emulator
    if [ -x "$EMULATOR_BIN" ]; then
        step "using the native $EMULATOR_BIN"
        return 0
    fi
    step "building the native sim-emulator in $NATIVE_BUILD"
    timeout 300 cmake -S "$ROOT" -B "$NATIVE_BUILD" -G Ninja -DMSFS_PANEL_WERROR=ON >/dev/null ||
        fail "configuring the native build"
    timeout 900 cmake --build "$NATIVE_BUILD" -j "$JOBS" --target sim-emulator >&2 ||
        fail "building sim-emulator"
}

# --- the run under qemu ---------------------------------------------------
WORK=""
EMULATOR_PID=""
PANEL_PID=""
cleanup() {
    local pid
    for pid in $PANEL_PID $EMULATOR_PID; do
        kill -KILL "$pid" 2>/dev/null || true
        wait "$pid" 2>/dev/null || true  # reaped quietly: no "Killed" line
    done
    [ -n "$WORK" ] && rm -rf "$WORK"
}
trap cleanup EXIT

# wait_for SECONDS COMMAND...: polls COMMAND every 0.1 s; false once the
# time is up.
wait_for() {
    local tries=$(($1 * 10)); shift
    while ! "$@"; do
        tries=$((tries - 1))
        [ $tries -gt 0 ] || return 1
        sleep 0.1
    done
}

# wait_exit PID SECONDS: sets EXIT_STATUS to the process's exit status, or to
# "timeout" if it outlived the limit. (Not in $(...): only this shell can
# wait for its children.)
wait_exit() {
    local pid=$1 tries=$(($2 * 10))
    while kill -0 "$pid" 2>/dev/null; do
        tries=$((tries - 1))
        if [ $tries -le 0 ]; then EXIT_STATUS=timeout; return; fi
        sleep 0.1
    done
    EXIT_STATUS=0
    wait "$pid" || EXIT_STATUS=$?
}

# The packets of the start-up, one word each: Open, the 91 event mappings
# in the order the program sends them, the 16 data definitions and the two
# data requests.
expected_startup() {
    local words=("O:Request Data:5") i
    for i in $(seq 0 57) $(seq 80 83) $(seq 58 79) $(seq 84 90); do words+=("M$i"); done
    for i in $(seq 1 7); do words+=("D0"); done
    for i in $(seq 1 9); do words+=("D1"); done
    words+=("R0:0" "R1:1")
    local IFS=' '
    echo "${words[*]}"
}

seen_startup() {
    jq -r -s '[.[0:110][] |
        if .call == "Open" then "O:\(.name):\(.protocol)"
        elif .call == "MapClientEventToSimEvent" then "M\(.event)"
        elif .call == "AddToDataDefinition" then "D\(.define)"
        elif .call == "RequestDataOnSimObject" then "R\(.request):\(.define)"
        else .call end] | join(" ")' "$1"
}

run_under_qemu() {
    WORK=$(mktemp -d)
    step "starting sim-emulator on 127.0.0.1 (port chosen by the system)"
    "$EMULATOR_BIN" --port 0 --port-file "$WORK/port" --once --trace "$WORK/trace.jsonl" --quiet \
        >"$WORK/emulator.out" 2>"$WORK/emulator.err" &
    EMULATOR_PID=$!
    wait_for 10 test -s "$WORK/port" ||
        fail "sim-emulator wrote no port within 10 s: $(cat "$WORK/emulator.err")"
    local port
    port=$(cat "$WORK/port")
    printf '[SimConnect]\nProtocol=IPv4\nAddress=127.0.0.1\nPort=%s\n' "$port" >"$WORK/SimConnect.cfg"

    step "running the aarch64 msfs-panel under qemu-aarch64 against port $port"
    # The cross toolchain's tree holds the arm64 loader and libstdc++; qemu
    # falls back to / for the rest (hidapi, libudev in the multiarch paths).
    (cd "$WORK" && exec env HOME="$WORK" qemu-aarch64 -L /usr/aarch64-linux-gnu "$PANEL_BIN" \
        >"$WORK/panel.out" 2>"$WORK/panel.err" </dev/null) &
    PANEL_PID=$!
    has_line() { grep -qx "Connected to MSFS2020" "$WORK/panel.out"; }
    if ! wait_for 60 has_line; then
        fail "msfs-panel did not print \"Connected to MSFS2020\" within 60 s; its stderr: $(cat "$WORK/panel.err")"
    fi
    step "msfs-panel printed \"Connected to MSFS2020\""
    trace_complete() { [ "$(wc -l <"$WORK/trace.jsonl")" -ge 110 ]; }
    wait_for 30 trace_complete ||
        fail "the emulator's trace has $(wc -l <"$WORK/trace.jsonl") lines after 30 s, expected at least 110"

    local expected seen
    expected=$(expected_startup)
    seen=$(seen_startup "$WORK/trace.jsonl")
    if [ "$seen" != "$expected" ]; then
        echo "expected: $expected" >&2
        echo "seen:     $seen" >&2
        fail "the start-up in the emulator's trace differs"
    fi
    step "trace: Open \"Request Data\" protocol 5, 91 mappings in order, 16 definitions, 2 requests"

    step "stopping sim-emulator with SIGTERM (it sends QUIT)"
    kill -TERM "$EMULATOR_PID"
    wait_exit "$PANEL_PID" 20
    PANEL_PID=""
    [ "$EXIT_STATUS" != timeout ] || fail "msfs-panel still running 20 s after the simulator quit"
    [ "$EXIT_STATUS" = 0 ] ||
        fail "msfs-panel exited with status $EXIT_STATUS after QUIT, expected 0; its stderr: $(cat "$WORK/panel.err")"
    wait_exit "$EMULATOR_PID" 10
    EMULATOR_PID=""
    [ "$EXIT_STATUS" = 0 ] || fail "sim-emulator exited with status $EXIT_STATUS after SIGTERM"
    [ "$(cat "$WORK/panel.out")" = "Connected to MSFS2020" ] ||
        fail "msfs-panel printed more than its line: $(cat "$WORK/panel.out")"
    step "msfs-panel exited 0 at the simulator's QUIT"
}

ensure_arm64_packages
cross_build
native_emulator
run_under_qemu
step "passed"
