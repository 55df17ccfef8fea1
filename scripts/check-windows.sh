#!/usr/bin/env bash
# The Windows build, checked on Debian: cross-compiles hidapi's Windows
# backend (from Debian's hidapi source package), our SimConnect client and
# msfs-panel for Windows x64 with mingw-w64 and warnings as errors, then runs
# msfs-panel.exe under Wine against the Linux sim-emulator on 127.0.0.1, with
# no panel attached. Checks the one line on standard output, the start-up
# sequence in the emulator's trace, a clean exit when the emulator quits, and
# a clean exit on Ctrl+C, and the error and status 1 with no simulator.
#
# Installs what it needs when run as root, deb-src entries for apt-get source
# included. What it makes lives under build-windows/ (CMake build, hidapi,
# Wine prefix, run folders), sim-emulator in build/, its logs in
# build-logs/check-windows/. Each piece is made in a side folder and moved in
# place once whole, so an interrupted run is simply run again.
set -euo pipefail
. "$(dirname "$0")/lib.sh"
script_start check-windows

BW="$ROOT/build-windows"
DEPS="$BW/deps"
HIDAPI_PREFIX="$DEPS/hidapi-prefix"
TOOLCHAIN="$ROOT/cmake/mingw-w64-x86_64.cmake"
DEB_SRC=/etc/apt/sources.list.d/msfs-panel-deb-src.sources

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
hidapi_built() {
    [ -f "$HIDAPI_PREFIX/lib/cmake/hidapi/hidapi-config.cmake" ] && [ -f "$HIDAPI_PREFIX/lib/libhidapi.a" ]
}
hidapi_source_known() { apt-cache showsrc hidapi 2>/dev/null | grep '^Package: hidapi' >/dev/null; }
deb_src_configured() {
    grep -qs '^[[:space:]]*deb-src[[:space:]]' /etc/apt/sources.list /etc/apt/sources.list.d/*.list ||
        grep -qsE '^Types:.*deb-src' /etc/apt/sources.list.d/*.sources
}

# deb-src for the suite this machine runs, from the same mirror and keyring
# as its binary packages; apt_update_once then fetches its lists.
add_deb_src() {
    is_root || fail "apt-get source hidapi needs deb-src entries in apt's sources; run as root to have them added"
    local suite uri
    suite=$(. /etc/os-release && echo "$VERSION_CODENAME")
    uri=$(sed -n 's/^URIs:[[:space:]]*//p' /etc/apt/sources.list.d/debian.sources 2>/dev/null | head -n 1)
    [ -n "$uri" ] || uri=http://deb.debian.org/debian
    step "adding deb-src entries for $suite ($uri) in $DEB_SRC"
    printf 'Types: deb-src\nURIs: %s\nSuites: %s\nComponents: main\nSigned-By: %s\n' \
        "$uri" "$suite" /usr/share/keyrings/debian-archive-keyring.gpg >"$DEB_SRC.tmp" &&
        mv "$DEB_SRC.tmp" "$DEB_SRC" || fail "cannot write $DEB_SRC"
    apt_sources_changed
}

# Before the packages, so that a fresh machine updates its lists once.
if ! hidapi_built && ! hidapi_source_known && ! deb_src_configured; then
    add_deb_src
fi
# The posix thread model: GCC 12's std::thread and sleep_for need it.
ensure_packages "${MSFS_PANEL_PACKAGES[@]}" dpkg-dev g++-mingw-w64-x86-64-posix wine64
step "packages: mingw-w64, Wine, dpkg-dev and the Linux build tools installed"

WINE=$(command -v wine64 || true)
[ -n "$WINE" ] || WINE=/usr/lib/wine/wine64
WINESERVER=$(command -v wineserver || true)
[ -n "$WINESERVER" ] || WINESERVER=/usr/lib/wine/wineserver
[ -x "$WINE" ] || fail "wine64 not found (looked in PATH and /usr/lib/wine)"

# --- hidapi's Windows backend -----------------------------------------------
if hidapi_built; then
    step "hidapi for Windows already in $(rel "$HIDAPI_PREFIX")"
else
    if ! hidapi_source_known; then
        # Entries there but lists never fetched (say, a run stopped after
        # adding them): the update fetches them.
        apt_update_once
        hidapi_source_known ||
            fail "apt-cache showsrc hidapi finds no source package, although apt has deb-src entries (log: $(rel "$LOG_DIR/apt-update.log"))"
    fi
    rm -rf "$DEPS/src" "$DEPS/hidapi-build" "$HIDAPI_PREFIX.part"
    mkdir -p "$DEPS/src"
    # apt warns about running unsandboxed as root, which is harmless here.
    logged "$LOG_DIR/apt-source.log" bash -c "cd '$DEPS/src' && timeout 300 apt-get source -qq hidapi"
    src=$(find "$DEPS/src" -maxdepth 3 -path '*/windows/hid.c' | head -n 1)
    [ -n "$src" ] || fail "no windows/hid.c in the hidapi source package"
    src=$(dirname "$(dirname "$src")")
    # hidapi's own CMake build installs the same hidapi::hidapi package that
    # vcpkg's port provides on Windows. This version loads hid.dll and
    # cfgmgr32.dll at run time, so nothing needs linking.
    logged "$LOG_DIR/hidapi-build.log" bash -c "
        cmake -S '$src' -B '$DEPS/hidapi-build' -G Ninja \
            -DCMAKE_TOOLCHAIN_FILE='$TOOLCHAIN' -DCMAKE_BUILD_TYPE=Release \
            -DBUILD_SHARED_LIBS=OFF -DHIDAPI_BUILD_HIDTEST=OFF &&
        cmake --build '$DEPS/hidapi-build' -j '$(nproc)' &&
        cmake --install '$DEPS/hidapi-build' --prefix '$HIDAPI_PREFIX.part'"
    rm -rf "$HIDAPI_PREFIX"
    mv "$HIDAPI_PREFIX.part" "$HIDAPI_PREFIX"
    hidapi_built || fail "hidapi's install in $(rel "$HIDAPI_PREFIX") lacks its CMake package or libhidapi.a"
    step "hidapi for Windows cross-compiled from $(basename "$src") into $(rel "$HIDAPI_PREFIX")"
fi

# --- the program ---------------------------------------------------------------
# The mingw-w64 preset: build-windows/, the toolchain file, tests off,
# warnings as errors, hidapi from $HIDAPI_PREFIX.
t0=$SECONDS
cd "$ROOT"
logged "$LOG_DIR/build.log" bash -c "cmake --preset mingw-w64 && cmake --build --preset mingw-w64"
EXE="$BW/bin/msfs-panel.exe"
[ -f "$EXE" ] || fail "$EXE was not built"
dlls=$(x86_64-w64-mingw32-objdump -p "$EXE" | sed -n 's/^[[:space:]]*DLL Name: //p' | tr '\n' ' ' | sed 's/ $//')
step "msfs-panel.exe: $(ninja_did "$LOG_DIR/build.log") in $((SECONDS - t0)) s; it imports $dlls"

# --- the emulator (Linux) -------------------------------------------------------
main_build sim-emulator
EMULATOR="$MAIN_BUILD/bin/sim-emulator"
step "sim-emulator up to date in $(rel "$MAIN_BUILD")"

# --- Wine -----------------------------------------------------------------------
# Headless: no X display, no Mono or Gecko prompts, no debug chatter.
export WINEARCH=win64 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
unset DISPLAY WAYLAND_DISPLAY
# The wineserver's folder (its socket and lock) goes to TMPDIR: ours, not
# /tmp, unless the path would make the socket's too long for a Unix socket.
if [ ${#BW} -le 60 ]; then
    export TMPDIR="$BW/tmp"
    mkdir -p "$TMPDIR"
fi
if [ ! -f "$BW/wine-prefix/system.reg" ]; then
    # Made beside and moved in place once wineboot and its wineserver are
    # done: a prefix cut short never passes for a whole one.
    t0=$SECONDS
    export WINEPREFIX="$BW/wine-prefix.part"
    # An interrupted run's wineboot may still be at work there.
    [ ! -d "$WINEPREFIX" ] || timeout 10 "$WINESERVER" -k 2>/dev/null || true
    rm -rf "$WINEPREFIX" "$BW/wine-prefix"
    logged "$LOG_DIR/wineboot.log" timeout 180 "$WINE" wineboot -i
    timeout 60 "$WINESERVER" -w || fail "the wineserver of the new prefix did not end within 60 s"
    mv "$WINEPREFIX" "$BW/wine-prefix"
    step "Wine prefix made in $((SECONDS - t0)) s"
fi
export WINEPREFIX="$BW/wine-prefix"

# Starts msfs-panel.exe under Wine with $1 as its working folder and $2 (if
# given) as WINEDEBUG. Sets PANEL_PID.
start_program() {
    local dir=$1 debug=${2:-$WINEDEBUG}
    (cd "$dir" && WINEDEBUG=$debug exec "$WINE" "$EXE" >"$dir/stdout.txt" 2>"$dir/stderr.txt" </dev/null) &
    PANEL_PID=$!
}

connected() { grep -q "Connected to MSFS2020" "$1/stdout.txt" 2>/dev/null; }
trace_lines() { [ -f "$1/trace.jsonl" ] && [ "$(wc -l <"$1/trace.jsonl")" -ge "$2" ]; }

# expect_clean_exit PID SECONDS WHAT DIR: the process ends within SECONDS
# with status 0.
expect_clean_exit() {
    local pid=$1 limit=$2 what=$3 dir=$4
    wait_exit "$pid" "$limit"
    [ "$EXIT_STATUS" != timeout ] ||
        fail "$what still running ${limit} s later; stderr: $(cat "$dir/stderr.txt" 2>/dev/null)"
    [ "$EXIT_STATUS" -eq 0 ] ||
        fail "$what exited with status $EXIT_STATUS; stderr: $(cat "$dir/stderr.txt" 2>/dev/null)"
}

# Runs the program against a fresh emulator in $1 until its start-up is in
# the trace and checked.
start_and_check_startup() {
    local dir=$1
    start_emulator "$dir"
    start_program "$dir" "${2:-}"
    wait_until 60 connected "$dir" ||
        fail "no \"Connected to MSFS2020\" within 60 s; stdout: $(cat "$dir/stdout.txt"); stderr: $(cat "$dir/stderr.txt")"
    wait_until 20 trace_lines "$dir" 110 ||
        fail "the trace has $(wc -l <"$dir/trace.jsonl") packets 20 s after the connection, expected at least 110"
    check_startup "$dir/trace.jsonl"
}

check_stdout() {
    # Windows writes text-mode output with CR LF.
    local out
    out=$(tr -d '\r' <"$1/stdout.txt")
    [ "$out" = "Connected to MSFS2020" ] || fail "standard output is not the one line: $(od -c "$1/stdout.txt" | head -n 5)"
}

# --- run 1: start-up, then the simulator quits ----------------------------------
RUN="$BW/run-quit"
start_and_check_startup "$RUN"
# SIGTERM: the emulator sends QUIT and leaves.
kill -TERM "$EMU_PID"
expect_clean_exit "$PANEL_PID" 10 "msfs-panel.exe" "$RUN"
expect_clean_exit "$EMU_PID" 10 "sim-emulator" "$RUN"
check_stdout "$RUN"
# Under Wine there is no panel, the program names the simulator, the
# emulator, like MSFS, rejects the mapping of TOGGLE_GPS_DRIVES_NAV2, and
# then it quits: those four lines and nothing else.
expected_err='msfs-panel: no panel found (USB 04d8:e6d6); looking for it about once a second
msfs-panel: simulator: Microsoft Flight Simulator 2020 (KittyHawk 11.0, SimConnect 11.0)
msfs-panel: the AP/CDI button does nothing in FMS2: MSFS has no TOGGLE_GPS_DRIVES_NAV2 event (a gap in MSFS, not in your set-up)
msfs-panel: the simulator quit'
[ "$(tr -d '\r' <"$RUN/stderr.txt")" = "$expected_err" ] ||
    fail "standard error after a clean run is not the four expected lines: $(cat "$RUN/stderr.txt")"
step "run 1: the start-up in order, then status 0 at the simulator's QUIT"

# --- run 2: Ctrl+C --------------------------------------------------------------
# Wine turns SIGINT into a CTRL_C_EVENT for the console control handlers.
# Without ours, Wine's default one would end the process, also with status
# 0, and say so on its "console" debug channel: that line must not appear.
RUN="$BW/run-ctrl-c"
start_and_check_startup "$RUN" "-all,fixme+console"
kill -INT "$PANEL_PID"
expect_clean_exit "$PANEL_PID" 10 "msfs-panel.exe" "$RUN"
if grep -q "default_ctrl_handler" "$RUN/stderr.txt"; then
    fail "Ctrl+C reached Wine's default handler, not the program's: $(cat "$RUN/stderr.txt")"
fi
# --once: the emulator ends when the program has closed its connection.
expect_clean_exit "$EMU_PID" 10 "sim-emulator" "$RUN"
tail -n 1 "$RUN/trace.jsonl" | grep '"call":"Disconnect"' >/dev/null || fail "the emulator saw no disconnect"
check_stdout "$RUN"
step "run 2: status 0 at Ctrl+C, through the program's own handler, and a disconnect"

# --- run 3: no simulator -------------------------------------------------------
# Run 2's port, closed now that its emulator has ended. The SimConnect.cfg
# naming it lies beside the executable only, which is where the SDK's library
# looks too; the error must say so, on standard error, with status 1.
CLOSED_PORT=$EMU_PORT
RUN="$BW/run-no-simulator"
rm -rf "$RUN"
mkdir -p "$RUN"
BESIDE_EXE="$(dirname "$EXE")/SimConnect.cfg"
write_simconnect_cfg "$BESIDE_EXE" "$CLOSED_PORT"
start_program "$RUN"
wait_exit "$PANEL_PID" 30
rm -f "$BESIDE_EXE"
[ "$EXIT_STATUS" != timeout ] || fail "msfs-panel.exe still running 30 s after its start with no simulator"
err=$(cat "$RUN/stderr.txt")
[ "$EXIT_STATUS" -eq 1 ] || fail "exit status $EXIT_STATUS with no simulator, expected 1; stderr: $err"
[ ! -s "$RUN/stdout.txt" ] || fail "standard output with no simulator: $(cat "$RUN/stdout.txt")"
case "$err" in
*"cannot connect to the simulator: connect(127.0.0.1:$CLOSED_PORT): "*'\bin\SimConnect.cfg'*) ;;
*) fail "the error does not name the address and the SimConnect.cfg beside the executable: $err" ;;
esac
step "run 3: status 1 with no simulator, and the error names 127.0.0.1:$CLOSED_PORT and bin\\SimConnect.cfg"

step "Windows build checked: start-up, QUIT, Ctrl+C and a missing simulator under Wine all as expected"
