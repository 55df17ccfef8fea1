#!/usr/bin/env bash
# The Windows build, checked on Debian: cross-compiles hidapi's Windows
# backend (from Debian's hidapi source package), our SimConnect client and
# msfs-panel for Windows x64 with mingw-w64 and warnings as errors, then runs
# msfs-panel.exe under Wine against the Linux sim-emulator on 127.0.0.1, with
# no panel attached. Checks the one line on standard output, the start-up
# sequence in the emulator's trace, a clean exit when the emulator quits, and
# a clean exit on Ctrl+C, and the error and status 1 with no simulator.
#
# Installs what it needs when run as root. Everything it makes lives under
# build-windows/ (CMake build, hidapi, Wine prefix, run folders).
set -euo pipefail
ROOT=$(cd "$(dirname "$0")/.." && pwd)
. "$ROOT/scripts/lib.sh"

BW="$ROOT/build-windows"
DEPS="$BW/deps"
HIDAPI_PREFIX="$DEPS/hidapi-prefix"
TOOLCHAIN="$ROOT/cmake/mingw-w64-x86_64.cmake"
STARTED=$(date +%s)

step() { echo "== [$(($(date +%s) - STARTED))s] $*" >&2; }
fail() {
    echo "check-windows: FAILED: $*" >&2
    exit 1
}
# Runs a command with its output in a log; shows the log's end on failure.
logged() {
    local log=$1; shift
    if ! "$@" >"$log" 2>&1; then
        tail -n 40 "$log" >&2
        fail "$* (full log: $log)"
    fi
}

# On any exit: ends the background processes this script started and that
# still run (by their id), and our private prefix's wineserver.
cleanup() {
    local p
    for p in $(jobs -p); do
        kill "$p" 2>/dev/null || true
    done
    # Left by run 3 if it failed; runs 1 and 2 would read it first.
    rm -f "$BW/bin/SimConnect.cfg"
    if [ -n "${WINESERVER:-}" ] && [ -n "${WINEPREFIX:-}" ]; then
        timeout 10 "$WINESERVER" -k 2>/dev/null || true
    fi
}
trap cleanup EXIT

# --- tools -------------------------------------------------------------------
step "packages: mingw-w64, Wine, dpkg-dev and the Linux build tools"
# The posix thread model: GCC 12's std::thread and sleep_for need it.
timeout 600 bash -c ". '$ROOT/scripts/lib.sh'; ensure_packages cmake ninja-build g++ pkg-config libhidapi-dev \
    dpkg-dev g++-mingw-w64-x86-64-posix wine64" ||
    fail "could not install the packages (see above)"

WINE=$(command -v wine64 || true)
[ -n "$WINE" ] || WINE=/usr/lib/wine/wine64
WINESERVER=$(command -v wineserver || true)
[ -n "$WINESERVER" ] || WINESERVER=/usr/lib/wine/wineserver
[ -x "$WINE" ] || fail "wine64 not found (looked in PATH and /usr/lib/wine)"

# --- hidapi's Windows backend -----------------------------------------------
if [ ! -f "$HIDAPI_PREFIX/lib/cmake/hidapi/hidapi-config.cmake" ]; then
    if ! apt-cache showsrc hidapi 2>/dev/null | grep -q '^Package: hidapi'; then
        # deb-src for the suite this machine runs, from the same mirror and
        # keyring as its binary packages.
        [ "$(id -u)" -eq 0 ] || fail "apt-get source needs deb-src entries; run as root to add them"
        suite=$(. /etc/os-release && echo "$VERSION_CODENAME")
        uri=$(sed -n 's/^URIs:[[:space:]]*//p' /etc/apt/sources.list.d/debian.sources 2>/dev/null | head -n 1)
        [ -n "$uri" ] || uri=http://deb.debian.org/debian
        step "enabling deb-src for $suite ($uri) and updating the package lists"
        cat >/etc/apt/sources.list.d/msfs-panel-deb-src.sources <<EOF
Types: deb-src
URIs: $uri
Suites: $suite
Components: main
Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg
EOF
        logged "$BW/apt-update.log" timeout 300 apt-get update
    fi
    mkdir -p "$DEPS/src"
    step "apt-get source hidapi"
    rm -rf "$DEPS/src"/hidapi*
    # -qq; apt warns about running unsandboxed as root, which is harmless here.
    logged "$DEPS/apt-source.log" bash -c "cd '$DEPS/src' && timeout 300 apt-get source -qq hidapi"
    src=$(find "$DEPS/src" -maxdepth 3 -path '*/windows/hid.c' | head -n 1)
    [ -n "$src" ] || fail "no windows/hid.c in the hidapi source package"
    src=$(dirname "$(dirname "$src")")
    step "cross-compiling hidapi's Windows backend from $(basename "$src")"
    # hidapi's own CMake build installs the same hidapi::hidapi package that
    # vcpkg's port provides on Windows. This version loads hid.dll and
    # cfgmgr32.dll at run time, so nothing needs linking.
    logged "$DEPS/hidapi-build.log" bash -c "
        timeout 300 cmake -S '$src' -B '$DEPS/hidapi-build' -G Ninja \
            -DCMAKE_TOOLCHAIN_FILE='$TOOLCHAIN' -DCMAKE_BUILD_TYPE=Release \
            -DBUILD_SHARED_LIBS=OFF -DHIDAPI_BUILD_HIDTEST=OFF \
            -DCMAKE_INSTALL_PREFIX='$HIDAPI_PREFIX' &&
        timeout 300 cmake --build '$DEPS/hidapi-build' -j 2 &&
        timeout 60 cmake --install '$DEPS/hidapi-build'"
else
    step "hidapi for Windows already in $HIDAPI_PREFIX"
fi

# --- the program ---------------------------------------------------------------
step "cross-compiling msfs-panel.exe (warnings as errors)"
# The mingw-w64 preset: build-windows/, the toolchain file, tests off,
# warnings as errors, hidapi from $HIDAPI_PREFIX.
cd "$ROOT"
logged "$BW/configure.log" timeout 300 cmake --preset mingw-w64
logged "$BW/build.log" timeout 900 cmake --build --preset mingw-w64
EXE="$BW/bin/msfs-panel.exe"
[ -f "$EXE" ] || fail "$EXE was not built"
dlls=$(x86_64-w64-mingw32-objdump -p "$EXE" | sed -n 's/^[[:space:]]*DLL Name: //p' | tr '\n' ' ')
step "msfs-panel.exe imports: $dlls"

# --- the emulator (Linux) -------------------------------------------------------
if [ -f "$ROOT/build/build.ninja" ]; then
    step "sim-emulator from build/"
    logged "$BW/emulator-build.log" timeout 900 cmake --build "$ROOT/build" -j 2 --target sim-emulator
    EMULATOR="$ROOT/build/bin/sim-emulator"
else
    step "building sim-emulator for Linux in build-windows/linux-emulator"
    logged "$BW/emulator-build.log" bash -c "
        timeout 300 cmake -S '$ROOT' -B '$BW/linux-emulator' -G Ninja -DMSFS_PANEL_WERROR=ON -DMSFS_PANEL_TESTS=OFF &&
        timeout 900 cmake --build '$BW/linux-emulator' -j 2 --target sim-emulator"
    EMULATOR="$BW/linux-emulator/bin/sim-emulator"
fi
[ -x "$EMULATOR" ] || fail "no sim-emulator at $EMULATOR"

# --- Wine -----------------------------------------------------------------------
# Headless: no X display, no Mono or Gecko prompts, no debug chatter.
export WINEPREFIX="$BW/wine-prefix" WINEARCH=win64 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
unset DISPLAY WAYLAND_DISPLAY
if [ ! -f "$WINEPREFIX/system.reg" ]; then
    step "creating the Wine prefix (first run only; up to a minute)"
    logged "$BW/wineboot.log" timeout 180 "$WINE" wineboot -i
    timeout 60 "$WINESERVER" -w || true
fi

# Waits up to $2 seconds for the command "$3..." to succeed; $1 says what for.
wait_until() {
    local what=$1 limit=$2; shift 2
    local tenths=$((limit * 10)) i
    step "waiting up to ${limit}s for $what"
    for ((i = 0; i < tenths; i++)); do
        if "$@"; then return 0; fi
        sleep 0.1
    done
    return 1
}

# Starts the emulator in $1 (a fresh folder) and writes SimConnect.cfg there
# naming its port. Sets EMU_PID.
start_emulator() {
    local dir=$1
    rm -rf "$dir"
    mkdir -p "$dir"
    "$EMULATOR" --port 0 --port-file "$dir/port" --once --trace "$dir/trace.jsonl" --quiet \
        >"$dir/emulator.out" 2>"$dir/emulator.err" &
    EMU_PID=$!
    wait_until "sim-emulator to listen" 10 test -s "$dir/port" || fail "sim-emulator wrote no port file"
    local port
    port=$(cat "$dir/port")
    printf '[SimConnect]\r\nProtocol=IPv4\r\nAddress=127.0.0.1\r\nPort=%s\r\n' "$port" >"$dir/SimConnect.cfg"
    step "sim-emulator listening on 127.0.0.1:$port"
}

# Starts msfs-panel.exe under Wine with $1 as its working folder and $2 (if
# given) as WINEDEBUG. Sets PANEL_PID.
start_program() {
    local dir=$1 debug=${2:-$WINEDEBUG}
    (cd "$dir" && WINEDEBUG=$debug exec "$WINE" "$EXE" >"$dir/stdout.txt" 2>"$dir/stderr.txt" </dev/null) &
    PANEL_PID=$!
}

connected() { grep -q "Connected to MSFS2020" "$1/stdout.txt" 2>/dev/null; }
trace_lines() { [ -f "$1/trace.jsonl" ] && [ "$(wc -l <"$1/trace.jsonl")" -ge "$2" ]; }
exited() { ! kill -0 "$1" 2>/dev/null; }

# Waits for process $1 to end within $2 seconds and checks its status is 0.
expect_clean_exit() {
    local pid=$1 limit=$2 what=$3 dir=$4 t0 status=0
    t0=$(date +%s%N)
    if ! wait_until "$what to end" "$limit" exited "$pid"; then
        fail "$what still running ${limit}s later; stderr: $(cat "$dir/stderr.txt" 2>/dev/null)"
    fi
    wait "$pid" || status=$?
    step "$what ended after $((($(date +%s%N) - t0) / 1000000)) ms with status $status"
    [ "$status" -eq 0 ] || fail "$what exited with status $status; stderr: $(cat "$dir/stderr.txt" 2>/dev/null)"
}

# The start-up the program must send: Open, the 91 event mappings in the
# order of its table (0-57, 80-83, 58-79, 84-90), 16 data definitions and
# the 2 data requests.
check_trace() {
    local trace=$1/trace.jsonl expected got
    head -n 1 "$trace" | grep -q '"call":"Open","name":"Request Data","protocol":5' ||
        fail "first packet is not Open(\"Request Data\", protocol 5): $(head -n 1 "$trace")"
    expected=$( (seq 0 57; seq 80 83; seq 58 79; seq 84 90) | tr '\n' ' ')
    got=$(grep '"call":"MapClientEventToSimEvent"' "$trace" | sed -n 's/.*"event":\([0-9]*\).*/\1/p' | tr '\n' ' ')
    [ "$got" = "$expected" ] || fail "event mappings differ; expected: $expected; got: $got"
    got=$(sed -n '1,110s/.*"call":"\([A-Za-z]*\)".*/\1/p' "$trace" | uniq -c | awk '{printf "%s %s;", $2, $1}')
    [ "$got" = "Open 1;MapClientEventToSimEvent 91;AddToDataDefinition 16;RequestDataOnSimObject 2;" ] ||
        fail "start-up sequence differs: $got"
}

check_stdout() {
    # Windows writes text-mode output with CR LF.
    local out
    out=$(tr -d '\r' <"$1/stdout.txt")
    [ "$out" = "Connected to MSFS2020" ] || fail "standard output is not the one line: $(od -c "$1/stdout.txt" | head -n 5)"
}

# --- run 1: start-up, then the simulator quits ----------------------------------
RUN="$BW/run-quit"
step "run 1: msfs-panel.exe under Wine, stopped by the simulator's QUIT"
start_emulator "$RUN"
start_program "$RUN"
wait_until '"Connected to MSFS2020"' 60 connected "$RUN" ||
    fail "no \"Connected to MSFS2020\"; stdout: $(cat "$RUN/stdout.txt"); stderr: $(cat "$RUN/stderr.txt")"
wait_until "the 110 start-up packets in the trace" 20 trace_lines "$RUN" 110 ||
    fail "the trace has $(wc -l <"$RUN/trace.jsonl") packets, expected at least 110"
check_trace "$RUN"
step "trace: Open, 91 mappings in table order, 16 data definitions, 2 requests"
step "stopping sim-emulator with SIGTERM (it sends QUIT)"
kill -TERM "$EMU_PID"
expect_clean_exit "$PANEL_PID" 10 "msfs-panel.exe" "$RUN"
expect_clean_exit "$EMU_PID" 10 "sim-emulator" "$RUN"
check_stdout "$RUN"
[ ! -s "$RUN/stderr.txt" ] || fail "messages on standard error after a clean run: $(cat "$RUN/stderr.txt")"

# --- run 2: Ctrl+C --------------------------------------------------------------
# Wine turns SIGINT into a CTRL_C_EVENT for the console control handlers.
# Without ours, Wine's default one would end the process, also with status
# 0, and say so on its "console" debug channel: that line must not appear.
RUN="$BW/run-ctrl-c"
step "run 2: msfs-panel.exe under Wine, stopped by Ctrl+C"
start_emulator "$RUN"
start_program "$RUN" "-all,fixme+console"
wait_until '"Connected to MSFS2020"' 60 connected "$RUN" ||
    fail "no \"Connected to MSFS2020\"; stderr: $(cat "$RUN/stderr.txt")"
wait_until "the 110 start-up packets in the trace" 20 trace_lines "$RUN" 110 ||
    fail "the trace has $(wc -l <"$RUN/trace.jsonl") packets, expected at least 110"
kill -INT "$PANEL_PID"
expect_clean_exit "$PANEL_PID" 10 "msfs-panel.exe" "$RUN"
if grep -q "default_ctrl_handler" "$RUN/stderr.txt"; then
    fail "Ctrl+C reached Wine's default handler, not the program's: $(cat "$RUN/stderr.txt")"
fi
# --once: the emulator ends when the program has closed its connection.
expect_clean_exit "$EMU_PID" 10 "sim-emulator" "$RUN"
tail -n 1 "$RUN/trace.jsonl" | grep -q '"call":"Disconnect"' || fail "the emulator saw no disconnect"
check_stdout "$RUN"

# --- run 3: no simulator -------------------------------------------------------
# Run 2's port, closed now that its emulator has ended. The SimConnect.cfg
# naming it lies beside the executable only, which is where the SDK's library
# looks too; the error must say so, on standard error, with status 1.
CLOSED_PORT=$(cat "$RUN/port")
RUN="$BW/run-no-simulator"
step "run 3: msfs-panel.exe under Wine with nothing listening on 127.0.0.1:$CLOSED_PORT"
rm -rf "$RUN"
mkdir -p "$RUN"
BESIDE_EXE="$(dirname "$EXE")/SimConnect.cfg"
printf '[SimConnect]\r\nProtocol=IPv4\r\nAddress=127.0.0.1\r\nPort=%s\r\n' "$CLOSED_PORT" >"$BESIDE_EXE"
start_program "$RUN"
status=0
wait_until "msfs-panel.exe to give up" 30 exited "$PANEL_PID" || fail "msfs-panel.exe still running with no simulator"
wait "$PANEL_PID" || status=$?
rm -f "$BESIDE_EXE"
err=$(cat "$RUN/stderr.txt")
step "status $status, stderr: $err"
[ "$status" -eq 1 ] || fail "exit status $status with no simulator, expected 1"
[ ! -s "$RUN/stdout.txt" ] || fail "standard output with no simulator: $(cat "$RUN/stdout.txt")"
case "$err" in
*"cannot connect to the simulator: connect(127.0.0.1:$CLOSED_PORT): "*'\bin\SimConnect.cfg'*) ;;
*) fail "the error does not name the address and the SimConnect.cfg beside the executable" ;;
esac

step "Windows build checked: start-up, QUIT, Ctrl+C and a missing simulator under Wine all as expected"
