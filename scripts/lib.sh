# Shared by the project's scripts: messages, logs, waiting, packages, the
# shared build folder and the emulator. Sourced; sets ROOT to the tree.
#
# A script calls script_start NAME first: its messages then say NAME, and
# its logs go to build-logs/NAME/ (emptied at each start, so what is there
# is this run's).

ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)

# Packages the build and the tests need, as Debian names them.
MSFS_PANEL_PACKAGES=(cmake ninja-build g++ pkg-config libhidapi-dev libtomlplusplus-dev libgtest-dev libgmock-dev)
# The fuzz targets' compiler and libFuzzer.
FUZZ_PACKAGES=(clang libclang-rt-14-dev)

# build/: one configuration shared by the tests, the demo and the checks, so
# that none of them rebuilds what another has built.
MAIN_BUILD=$ROOT/build
MAIN_BUILD_FLAGS=(-DMSFS_PANEL_WERROR=ON -DMSFS_PANEL_TESTS=ON)

# --- messages and logs -------------------------------------------------------

# Until script_start: named after the script, logs in build-logs/<script>/.
SCRIPT_NAME=$(basename "$0" .sh)
SCRIPT_STARTED=$SECONDS
LOG_DIR=$ROOT/build-logs/$SCRIPT_NAME
APT_UPDATED=

script_start() {
    SCRIPT_NAME=$1
    SCRIPT_STARTED=$SECONDS
    LOG_DIR=$ROOT/build-logs/$1
    APT_UPDATED=
    if ! { rm -rf "$LOG_DIR" && mkdir -p "$LOG_DIR"; } 2>/dev/null; then
        echo "$SCRIPT_NAME: FAILED: cannot make the log folder $LOG_DIR" >&2
        exit 1
    fi
}

# A path as people read it: relative to the tree when inside it.
rel() { printf '%s' "${1#"$ROOT"/}"; }

# One line per step, with the time since the script started.
step() { echo "== [$((SECONDS - SCRIPT_STARTED)) s] $*" >&2; }

fail() {
    echo "$SCRIPT_NAME: FAILED: $*" >&2
    exit 1
}

# logged LOG COMMAND...: runs COMMAND with all its output in LOG. On failure
# shows the log's end and fails naming the log; a log that cannot be written
# is a failure too, said as such, with COMMAND not run.
logged() {
    local log=$1 status=0
    shift
    if ! { mkdir -p "$(dirname "$log")" && : >"$log"; } 2>/dev/null; then
        fail "cannot write the log $log, so did not run: ${*:1:6}"
    fi
    "$@" >"$log" 2>&1 || status=$?
    if [ "$status" -ne 0 ]; then
        tail -n 40 "$log" >&2
        fail "${*:1:6} exited with status $status (full log: $(rel "$log"))"
    fi
}

# --- waiting -----------------------------------------------------------------

# wait_until SECONDS COMMAND...: polls COMMAND every 0.1 s until it succeeds
# (0) or the time is up (1).
wait_until() {
    local tenths=$(($1 * 10)) i
    shift
    for ((i = 0; i < tenths; i++)); do
        "$@" && return 0
        sleep 0.1
    done
    return 1
}

not_running() { ! kill -0 "$1" 2>/dev/null; }

# wait_exit PID SECONDS: sets EXIT_STATUS to the process's exit status, or to
# "timeout" if it is still running after SECONDS. Not for $(...): only this
# shell can wait for its children.
wait_exit() {
    local pid=$1
    if ! wait_until "$2" not_running "$pid"; then
        EXIT_STATUS=timeout
        return 0
    fi
    EXIT_STATUS=0
    wait "$pid" || EXIT_STATUS=$?
}

# --- packages ----------------------------------------------------------------

is_root() { [ "$(id -u)" -eq 0 ]; }

# package_installed NAME[:ARCH]: without an architecture, the machine's own
# or "all" (with multiarch, dpkg-query answers for each architecture).
package_installed() {
    local want="($(dpkg --print-architecture)|all)"
    case $1 in *:*) want=${1##*:} ;; esac
    dpkg-query -W -f='${Status} ${Architecture}\n' "$1" 2>/dev/null | grep -xE "install ok installed $want" >/dev/null
}

# Updates the package lists once per run: before the first install, and
# after a change of sources.
apt_update_once() {
    [ -z "$APT_UPDATED" ] || return 0
    is_root || fail "apt-get update needs root"
    step "apt-get update"
    logged "$LOG_DIR/apt-update.log" timeout 300 apt-get -qq -o DPkg::Lock::Timeout=300 update
    APT_UPDATED=1
}

# Forgets the update of this run, after the sources have changed.
apt_sources_changed() { APT_UPDATED=; }

# ensure_packages PACKAGE...: installs those not installed when run as root
# (an architecture suffix such as :arm64 adds that architecture to dpkg);
# otherwise fails naming the commands to run.
ensure_packages() {
    local missing=() arches=() p arch
    for p; do
        package_installed "$p" || missing+=("$p")
        case $p in
        *:*)
            arch=${p##*:}
            if [ "$arch" != "$(dpkg --print-architecture)" ] &&
                ! dpkg --print-foreign-architectures | grep -x "$arch" >/dev/null; then
                arches+=("$arch")
            fi
            ;;
        esac
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    if ! is_root; then
        local how=""
        for arch in "${arches[@]}"; do how+="sudo dpkg --add-architecture $arch && "; done
        fail "missing packages: ${missing[*]}; install them with: ${how}sudo apt-get update && sudo apt-get install -y ${missing[*]}"
    fi
    export DEBIAN_FRONTEND=noninteractive
    for arch in "${arches[@]}"; do
        step "adding the $arch architecture to dpkg"
        dpkg --add-architecture "$arch" || fail "dpkg --add-architecture $arch"
        apt_sources_changed
    done
    # An install cut short leaves packages half set up, and apt refuses to
    # go on until dpkg has finished them.
    if [ -n "$(dpkg --audit 2>/dev/null)" ]; then
        step "finishing the packages an earlier install left half set up"
        logged "$LOG_DIR/dpkg-configure.log" dpkg --configure -a
    fi
    apt_update_once
    step "installing ${missing[*]}"
    logged "$LOG_DIR/apt-install.log" apt-get -qq -y -o DPkg::Lock::Timeout=300 \
        --no-install-recommends install "${missing[@]}"
    for p in "${missing[@]}"; do
        package_installed "$p" || fail "apt-get install reported success but $p is not installed"
    done
}

# Node.js and npm for the interoperability test with node-simconnect.
ensure_node() {
    if command -v node >/dev/null && command -v npm >/dev/null; then return 0; fi
    ensure_packages nodejs npm
}

# node-simconnect as package-lock.json pins it, in tests/interop/node_modules.
# npm ci starts from nothing each time, so a half-made node_modules of an
# earlier run cannot pass for a whole one.
install_node_simconnect() {
    ensure_node
    logged "$LOG_DIR/npm.log" timeout 600 npm ci --prefix "$ROOT/tests/interop" \
        --no-audit --no-fund --prefer-offline --loglevel=error
}

# --- builds ------------------------------------------------------------------

# configure_and_build DIR "TARGETS" CMAKE_ARGS...: configures DIR with Ninja
# (the sources in SRC, by default this tree) and builds TARGETS (everything
# when empty).
configure_and_build() {
    local dir=$1 targets=$2 t target_args=()
    shift 2
    for t in $targets; do target_args+=(--target "$t"); done
    cmake -S "${SRC:-$ROOT}" -B "$dir" -G Ninja "$@" && cmake --build "$dir" -j "$(nproc)" "${target_args[@]}"
}

# build_dir LABEL DIR "TARGETS" CMAKE_ARGS...: configure_and_build with the
# output in LOG_DIR/LABEL.log. Sets BUILD_LOG, and BUILD_DONE to what Ninja
# did (see ninja_did).
build_dir() {
    BUILD_LOG=$LOG_DIR/$1.log
    shift
    logged "$BUILD_LOG" configure_and_build "$@"
    BUILD_DONE=$(ninja_did "$BUILD_LOG")
}

# ninja_did LOG: "N build steps" from Ninja's last [N/M] line, or "up to date".
ninja_did() {
    local n
    n=$(sed -n 's/^\[\([0-9]*\)\/[0-9]*\] .*/\1/p' "$1" | tail -n 1)
    if [ -n "$n" ]; then echo "$n build steps"; else echo "up to date"; fi
}

# main_build TARGET...: brings the named targets of build/ up to date.
main_build() {
    ensure_packages "${MSFS_PANEL_PACKAGES[@]}"
    build_dir main "$MAIN_BUILD" "$*" "${MAIN_BUILD_FLAGS[@]}"
}

# run_ctest LABEL BUILD_DIR: ctest in BUILD_DIR, the output in
# LOG_DIR/LABEL.log; one line when all pass, otherwise the failures'
# output and the summary.
run_ctest() {
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

# --- the emulator --------------------------------------------------------------

# start_emulator DIR [SIM-EMULATOR OPTIONS...]: starts $EMULATOR in DIR (made
# afresh), on a port the system picks, ending with its client (--once) and
# tracing every packet to DIR/trace.jsonl, and writes DIR/SimConnect.cfg
# naming it. Sets EMU_PID and EMU_PORT.
start_emulator() {
    local dir=$1
    shift
    rm -rf "$dir"
    mkdir -p "$dir" || fail "cannot make $dir"
    "$EMULATOR" --port 0 --port-file "$dir/port" --once --trace "$dir/trace.jsonl" --quiet "$@" \
        >"$dir/emulator.out" 2>"$dir/emulator.err" &
    EMU_PID=$!
    wait_until 10 test -s "$dir/port" ||
        fail "sim-emulator wrote no port file within 10 s: $(cat "$dir/emulator.err")"
    EMU_PORT=$(cat "$dir/port")
    write_simconnect_cfg "$dir/SimConnect.cfg" "$EMU_PORT"
}

# write_simconnect_cfg FILE PORT: a SimConnect.cfg naming 127.0.0.1:PORT,
# with CR LF as on Windows (our client reads both).
write_simconnect_cfg() {
    printf '[SimConnect]\r\nProtocol=IPv4\r\nAddress=127.0.0.1\r\nPort=%s\r\n' "$2" >"$1" ||
        fail "cannot write $1"
}

# check_startup TRACE: the start-up the program must send, as the emulator
# traced it, against tests/golden/startup.jsonl (the trace's own lines
# without their time stamps), which the tests hold the program to as well.
check_startup() {
    local golden=$ROOT/tests/golden/startup.jsonl seen
    [ -r "$golden" ] || fail "cannot read $(rel "$golden")"
    # Only the lines of the start-up: the emulator may be writing the next.
    seen=$(head -n "$(wc -l <"$golden")" "$1" | sed 's/,"t_ns":[0-9]*//') ||
        fail "cannot read the trace $(rel "$1")"
    if ! diff -u --label "$(rel "$golden")" --label "$(rel "$1")" "$golden" - <<<"$seen" >&2; then
        fail "the start-up in $(rel "$1") differs from $(rel "$golden") (above: - expected, + seen)"
    fi
}
