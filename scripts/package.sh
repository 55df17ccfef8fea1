#!/usr/bin/env bash
# Makes the packages users install, into dist/, then checks each one as a
# user meets it:
#
#   dist/msfs-panel-VERSION-windows-x64.zip  msfs-panel.exe (mingw-w64, linked
#       statically: no DLL but Windows' own), README.txt, example\SimConnect.cfg,
#       the project's licence (LICENSE) and those of what the exe has built in
#   dist/msfs-panel_VERSION-REV_amd64.deb, dist/msfs-panel_VERSION-REV_arm64.deb
#       the program, its udev rule, its systemd user unit, a man page and the
#       documentation; dependencies from dpkg-shlibdeps
#
# VERSION is the one in the top-level CMakeLists.txt's project(), read from
# the build's CMake cache; REV, the revision of the Debian packaging, is in
# packaging/debian/changelog.in.
#
#   bash scripts/package.sh               build, package, check (as root: it
#                                         installs what it needs, and installs
#                                         and purges the amd64 package)
#   bash scripts/package.sh --check-only  check what dist/ holds
#
# The Debian packages' builds are in build-package/amd64 and arm64, made with
# Debian's build flags (hardening included); the Windows program is
# build-windows/'s, whose hidapi scripts/check-windows.sh makes (it is run
# when that is missing). The packages are staged and checked in
# build-package/, with sim-emulator from build/; the logs are in
# build-logs/package/.
set -euo pipefail
. "$(dirname "$0")/lib.sh"

CHECK_ONLY=
case $# in
0) ;;
1)
    case $1 in
    --check-only) CHECK_ONLY=1 ;;
    -h | --help)
        sed -n '2,/^set -euo/{/^set -euo/d;s/^# \{0,1\}//;p}' "$0"
        exit 0
        ;;
    *)
        echo "package: unknown argument \"$1\" (expected --check-only or --help)" >&2
        exit 2
        ;;
    esac
    ;;
*)
    echo "package: too many arguments: $* (expected at most one: --check-only or --help)" >&2
    exit 2
    ;;
esac

script_start package
umask 022

BP=$ROOT/build-package
# Temporary files (lintian's, dpkg-deb's, the wineserver's) go here, not to
# /tmp: lintian leaves some behind.
export TMPDIR=$BP/tmp
rm -rf "$TMPDIR"
mkdir -p "$TMPDIR"
DIST=$ROOT/dist
PKG=$ROOT/packaging
WINDOWS_BUILD=$ROOT/build-windows
WINDOWS_HIDAPI=$WINDOWS_BUILD/deps/hidapi-prefix
ARCHES=(amd64 arm64)
# Imports of msfs-panel.exe that every Windows has; hidapi's hid.dll and
# cfgmgr32.dll are loaded at run time, so they are no imports.
WINDOWS_DLLS_ALLOWED=(kernel32.dll msvcrt.dll ws2_32.dll)

INSTALLED_DEB=
WINE_SERVER=
cleanup() {
    local p
    for p in $(jobs -p); do
        kill -KILL "$p" 2>/dev/null || true
        wait "$p" 2>/dev/null || true
    done
    # Set once check_zip has made its Wine prefix.
    if [ -n "$WINE_SERVER" ]; then
        timeout 10 "$WINE_SERVER" -k 2>/dev/null || true
    fi
    # A check that failed between the install and the purge.
    if [ -n "$INSTALLED_DEB" ]; then
        apt-get -qq -y purge msfs-panel >/dev/null 2>&1 || true
    fi
}
trap cleanup EXIT

# --- packages ----------------------------------------------------------------
# msfs-panel as an earlier run of the install check may have left it, cut
# short: installed, half installed (apt then refuses to do anything), or its
# configuration kept. dpkg purges it in any of these states (half installed,
# only when told that the package needs no reinstalling first).
deb_state() { dpkg-query -W -f='${db:Status-Status}' msfs-panel 2>/dev/null || echo not-installed; }
if [ "$(deb_state)" != not-installed ] && is_root; then
    step "msfs-panel is in state \"$(deb_state)\", left by an earlier run: purging it"
    logged "$LOG_DIR/dpkg-purge-before.log" dpkg --purge --force-remove-reinstreq msfs-panel
fi

# The checks' tools; the builds' come on top. libstdc++6:arm64 beside
# libhidapi-dev:arm64, so that dpkg-shlibdeps finds the arm64 C++ runtime in
# the multiarch path and names its package (not the cross toolchain's copy).
CHECK_PACKAGES=(dpkg-dev lintian unzip file binutils-mingw-w64-x86-64 wine64 qemu-user
    libhidapi-dev:arm64 libstdc++6:arm64)
BUILD_PACKAGES=(g++-mingw-w64-x86-64-posix g++-aarch64-linux-gnu help2man zip)
t0=$SECONDS
if [ -n "$CHECK_ONLY" ]; then
    ensure_packages "${MSFS_PANEL_PACKAGES[@]}" "${CHECK_PACKAGES[@]}"
else
    ensure_packages "${MSFS_PANEL_PACKAGES[@]}" "${CHECK_PACKAGES[@]}" "${BUILD_PACKAGES[@]}"
fi
step "packages: dpkg-dev, lintian, Wine, qemu-user and the cross toolchains installed (in $((SECONDS - t0)) s)"

# Dates in the packages (changelog, man page, file times): the last commit's.
if [ -z "${SOURCE_DATE_EPOCH:-}" ]; then
    SOURCE_DATE_EPOCH=$(git -C "$ROOT" log -1 --format=%ct 2>/dev/null || stat -c %Y "$ROOT/CMakeLists.txt")
fi
export SOURCE_DATE_EPOCH

# buildflags ARCH NAME: Debian's build flag NAME for ARCH, hardening included.
buildflags() {
    local cc=gcc
    [ "$1" = arm64 ] && cc=aarch64-linux-gnu-gcc
    (cd "$ROOT" && CC=$cc DEB_BUILD_MAINT_OPTIONS=hardening=+all dpkg-architecture -a "$1" -c dpkg-buildflags --get "$2") ||
        fail "dpkg-buildflags --get $2 for $1"
}

# --- the Debian packages' builds -------------------------------------------------
# build_for_deb ARCH: msfs-panel in build-package/ARCH with Debian's flags,
# as a Debian package build makes it (build type None: only those flags).
build_for_deb() {
    local arch=$1 dir=$BP/$1 cflags cxxflags cppflags ldflags extra=()
    cflags=$(buildflags "$arch" CFLAGS)
    cxxflags=$(buildflags "$arch" CXXFLAGS)
    cppflags=$(buildflags "$arch" CPPFLAGS)
    ldflags=$(buildflags "$arch" LDFLAGS)
    if [ "$arch" = arm64 ]; then
        extra=(-DCMAKE_TOOLCHAIN_FILE="$ROOT/cmake/aarch64-linux-gnu.cmake")
    fi
    t0=$SECONDS
    build_dir "build-$arch" "$dir" msfs-panel "${extra[@]}" \
        -DCMAKE_BUILD_TYPE=None -DMSFS_PANEL_WERROR=ON -DMSFS_PANEL_TESTS=OFF \
        -DCMAKE_C_FLAGS="$cflags $cppflags" -DCMAKE_CXX_FLAGS="$cxxflags $cppflags" \
        -DCMAKE_EXE_LINKER_FLAGS="$ldflags" -DCMAKE_SHARED_LINKER_FLAGS="$ldflags"
    if [ "$arch" = arm64 ]; then
        # The amd64 hidapi would link, wrongly, or fail late.
        grep -q '^HIDAPI_LIBDIR:INTERNAL=/usr/lib/aarch64-linux-gnu$' "$dir/CMakeCache.txt" ||
            fail "pkg-config did not find the arm64 hidapi (see HIDAPI_* in $(rel "$dir")/CMakeCache.txt)"
    fi
    step "msfs-panel for the $arch package: $BUILD_DONE in $((SECONDS - t0)) s (log: $(rel "$BUILD_LOG"))"
}

if [ -z "$CHECK_ONLY" ]; then
    build_for_deb amd64
fi
[ -f "$BP/amd64/CMakeCache.txt" ] || fail "no build in $(rel "$BP/amd64"): run bash scripts/package.sh first"
VERSION=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$BP/amd64/CMakeCache.txt")
[[ $VERSION =~ ^[0-9]+\.[0-9]+\.[0-9]+$ ]] ||
    fail "no project version in $(rel "$BP/amd64")/CMakeCache.txt (CMAKE_PROJECT_VERSION: \"$VERSION\")"
MAINTAINER=$(sed -n 's/^Maintainer: //p' "$PKG/debian/control")
[ -n "$MAINTAINER" ] || fail "no Maintainer in packaging/debian/control"

# The Debian changelog names the package's version (VERSION-REV) and gives
# dpkg-gencontrol the version it writes.
CHANGELOG=$BP/changelog
sed -e "s/@VERSION@/$VERSION/g" -e "s/@MAINTAINER@/$MAINTAINER/" \
    -e "s/@DATE@/$(date -u -R -d "@$SOURCE_DATE_EPOCH")/" "$PKG/debian/changelog.in" >"$CHANGELOG" ||
    fail "cannot write $(rel "$CHANGELOG")"
DEB_VERSION=$(dpkg-parsechangelog -l "$CHANGELOG" -S Version) || fail "packaging/debian/changelog.in does not parse"
ZIP=$DIST/msfs-panel-$VERSION-windows-x64.zip
ZIP_FILES=(README.txt example/SimConnect.cfg licenses/hidapi.txt licenses/mingw-w64.txt licenses/msfs-panel.txt
    msfs-panel.exe $(cd "$ROOT/profiles" && LC_ALL=C ls -- *.toml | sed 's|^|profiles/|'))
deb_file() { echo "$DIST/msfs-panel_${DEB_VERSION}_$1.deb"; }

# --- making the packages -----------------------------------------------------------
# gz FILE: FILE compressed as Debian wants (best, without name or time).
gz() { gzip -9nc "$1"; }

# stage_deb ARCH: build-package/deb-ARCH/root is the package's tree, its
# control data made from packaging/debian and the binary.
stage_deb() {
    local arch=$1 work=$BP/deb-$1 root doc
    root=$work/root
    doc=$root/usr/share/doc/msfs-panel
    rm -rf "$work"
    mkdir -p "$work/debian" "$doc" "$root/usr/share/man/man1" "$root/DEBIAN"
    logged "$LOG_DIR/install-$arch.log" env DESTDIR="$root" cmake --install "$BP/$arch" --prefix /usr
    # As Debian strips: the symbols, the debugging data and the compiler's
    # notes, with the ARCH toolchain's strip.
    local strip
    strip=$(sed -n 's/^CMAKE_STRIP:FILEPATH=//p' "$BP/$arch/CMakeCache.txt")
    [ -x "$strip" ] || fail "no strip program for $arch in $(rel "$BP/$arch")/CMakeCache.txt"
    "$strip" --remove-section=.comment --remove-section=.note "$root/usr/bin/msfs-panel" || fail "$strip usr/bin/msfs-panel"
    # The licence's text is LICENSE's, as the copyright format indents it.
    { cat "$PKG/debian/copyright" && sed -e '1,4d' -e 's/^$/./' -e 's/^/ /' "$ROOT/LICENSE"; } >"$doc/copyright" ||
        fail "cannot write the copyright file of the $arch package"
    cp "$CHANGELOG" "$work/debian/changelog"
    gz "$work/debian/changelog" >"$doc/changelog.Debian.gz"
    gz "$ROOT/README.md" >"$doc/README.md.gz"
    gz "$ROOT/docs/controls.md" >"$doc/controls.md.gz"
    gz "$ROOT/docs/troubleshooting.md" >"$doc/troubleshooting.md.gz"
    gz "$ROOT/docs/profiles.md" >"$doc/profiles.md.gz"
    gz "$BP/msfs-panel.1" >"$root/usr/share/man/man1/msfs-panel.1.gz"
    cp "$PKG/debian/control" "$work/debian/control"
    install -m 755 "$PKG/debian/postinst" "$PKG/debian/postrm" "$root/DEBIAN/"
    # The files' times: the sources', not this run's.
    find "$root" -exec touch -h -d "@$SOURCE_DATE_EPOCH" {} +
    (
        cd "$work" &&
            CC=$([ "$arch" = arm64 ] && echo aarch64-linux-gnu-gcc || echo gcc) &&
            export CC &&
            dpkg-architecture -a "$arch" -c dpkg-shlibdeps -Tdebian/substvars root/usr/bin/msfs-panel &&
            dpkg-architecture -a "$arch" -c dpkg-gencontrol -pmsfs-panel -Proot -Tdebian/substvars &&
            cd root && find usr -type f | LC_ALL=C sort | xargs md5sum >DEBIAN/md5sums
    ) >"$LOG_DIR/control-$arch.log" 2>&1 || {
        cat "$LOG_DIR/control-$arch.log" >&2
        fail "dpkg-shlibdeps or dpkg-gencontrol for $arch (log: $(rel "$LOG_DIR/control-$arch.log"))"
    }
    chmod 644 "$root/DEBIAN/control" "$root/DEBIAN/md5sums"
}

# One file at a time, through a side name: an interrupted run leaves no
# half-written package under its real name.
make_packages() {
    local arch
    build_for_deb arm64
    t0=$SECONDS
    # help2man runs the program through the shell, unquoted: named from its
    # own folder, a space in the tree's path cannot split it.
    logged "$LOG_DIR/man.log" env -C "$BP/amd64/bin" help2man --no-info --section=1 \
        --name="USB cockpit panel for Microsoft Flight Simulator 2020" \
        --include="$PKG/debian/msfs-panel.h2m" --output="$BP/msfs-panel.1" ./msfs-panel

    rm -rf "$DIST"
    mkdir -p "$DIST"
    for arch in "${ARCHES[@]}"; do
        stage_deb "$arch"
        logged "$LOG_DIR/dpkg-deb-$arch.log" dpkg-deb --root-owner-group --build "$BP/deb-$arch/root" "$DIST/.part.deb"
        mv "$DIST/.part.deb" "$(deb_file "$arch")"
        step "$(rel "$(deb_file "$arch")"): $(du -k "$(deb_file "$arch")" | cut -f1) KiB, depends on $(dpkg-deb -f "$(deb_file "$arch")" Depends)"
    done

    # hidapi for Windows exists once scripts/check-windows.sh has run here.
    if [ ! -f "$WINDOWS_HIDAPI/lib/libhidapi.a" ]; then
        step "no hidapi for Windows in $(rel "$WINDOWS_HIDAPI"): scripts/check-windows.sh makes it and checks the build"
        logged "$LOG_DIR/check-windows.log" bash "$ROOT/scripts/check-windows.sh"
    fi
    t0=$SECONDS
    logged "$LOG_DIR/build-windows.log" bash -c "cd '$ROOT' && cmake --preset mingw-w64 && cmake --build --preset mingw-w64"
    step "msfs-panel.exe: $(ninja_did "$LOG_DIR/build-windows.log") in $((SECONDS - t0)) s (log: $(rel "$LOG_DIR/build-windows.log"))"
    local zipdir=$BP/windows hidapi_src
    rm -rf "$zipdir"
    mkdir -p "$zipdir/example" "$zipdir/licenses"
    x86_64-w64-mingw32-strip -o "$zipdir/msfs-panel.exe" "$WINDOWS_BUILD/bin/msfs-panel.exe" ||
        fail "x86_64-w64-mingw32-strip $(rel "$WINDOWS_BUILD")/bin/msfs-panel.exe"
    # Windows' line ends, whatever the checkout has.
    sed -e "s/@VERSION@/$VERSION/g" -e 's/\r$//' -e 's/$/\r/' "$PKG/windows/README.txt" >"$zipdir/README.txt"
    sed -e 's/\r$//' -e 's/$/\r/' "$PKG/windows/SimConnect.cfg" >"$zipdir/example/SimConnect.cfg"
    mkdir -p "$zipdir/profiles"
    for f in "$ROOT"/profiles/*.toml; do sed -e 's/\r$//' -e 's/$/\r/' "$f" >"$zipdir/profiles/${f##*/}"; done
    # The exe carries hidapi (used under its BSD-style licence) and the
    # mingw-w64 runtime (winpthreads, the start-up code): their notices.
    hidapi_src=$(find "$WINDOWS_BUILD/deps/src" -maxdepth 2 -name LICENSE-bsd.txt -printf '%h\n' | head -n 1)
    [ -n "$hidapi_src" ] || fail "no LICENSE-bsd.txt in hidapi's source under $(rel "$WINDOWS_BUILD/deps/src")"
    cat "$hidapi_src/LICENSE.txt" "$hidapi_src/LICENSE-bsd.txt" | sed -e 's/\r$//' -e 's/$/\r/' >"$zipdir/licenses/hidapi.txt"
    sed -e 's/\r$//' -e 's/$/\r/' /usr/share/doc/mingw-w64-x86-64-dev/copyright >"$zipdir/licenses/mingw-w64.txt" ||
        fail "no /usr/share/doc/mingw-w64-x86-64-dev/copyright"
    sed -e 's/\r$//' -e 's/$/\r/' "$ROOT/LICENSE" >"$zipdir/licenses/msfs-panel.txt" || fail "cannot read LICENSE"
    find "$zipdir" -exec touch -h -d "@$SOURCE_DATE_EPOCH" {} +
    (cd "$zipdir" && zip -q -X -D "$DIST/.part.zip" "${ZIP_FILES[@]}") ||
        fail "zip of $(rel "$zipdir")"
    mv "$DIST/.part.zip" "$ZIP"
    step "$(rel "$ZIP"): $(du -k "$ZIP" | cut -f1) KiB"
}

if [ -z "$CHECK_ONLY" ]; then
    make_packages
fi

# --- checks ------------------------------------------------------------------------
is_root || fail "the checks install and purge the amd64 package and give the maintainer scripts a /run of their own: run as root"
CHECK=$BP/check
rm -rf "$CHECK"
mkdir -p "$CHECK"

main_build sim-emulator
# shellcheck disable=SC2034 # lib.sh's start_emulator runs it
EMULATOR=$MAIN_BUILD/bin/sim-emulator

crlf_only() { [ -s "$1" ] && [ "$(grep -c $'\r$' "$1")" = "$(wc -l <"$1")" ]; }

# expect_connected DIR PID WHAT: the program PID, against the emulator
# started in DIR, prints "Connected to MSFS2020" and ends with status 0 when
# the emulator quits.
expect_connected() {
    local dir=$1 pid=$2 what=$3
    connected() { tr -d '\r' 2>/dev/null <"$dir/stdout.txt" | grep -qx "Connected to MSFS2020"; }
    connected_or_ended() { connected || not_running "$pid"; }
    wait_until 60 connected_or_ended || true
    if ! connected; then
        wait_exit "$pid" 1
        fail "$what printed no \"Connected to MSFS2020\" (exit status: $EXIT_STATUS after at most 60 s); stdout: $(tr -d "\r" <"$dir/stdout.txt"); stderr: $(tr -d "\r" <"$dir/stderr.txt")"
    fi
    # SIGTERM: the emulator sends QUIT and leaves; the program ends with 0.
    kill -TERM "$EMU_PID"
    wait_exit "$pid" 20
    [ "$EXIT_STATUS" = 0 ] ||
        fail "$what: exit status $EXIT_STATUS at the simulator's QUIT, expected 0; stderr: $(cat "$dir/stderr.txt")"
    wait_exit "$EMU_PID" 10
    [ "$(tr -d '\r' <"$dir/stdout.txt")" = "Connected to MSFS2020" ] ||
        fail "$what printed more than its line: $(cat "$dir/stdout.txt")"
}

check_zip() {
    [ -f "$ZIP" ] || fail "no $(rel "$ZIP") (the version from CMake is $VERSION)"
    local files
    files=$(unzip -Z1 "$ZIP" | LC_ALL=C sort | tr '\n' ' ')
    [ "$files" = "${ZIP_FILES[*]} " ] || fail "$(rel "$ZIP") holds $files; expected ${ZIP_FILES[*]}"

    local dir=$CHECK/windows
    mkdir -p "$dir"
    unzip -q "$ZIP" -d "$dir" || fail "unzip $(rel "$ZIP")"
    local f
    for f in README.txt example/SimConnect.cfg licenses/hidapi.txt licenses/mingw-w64.txt licenses/msfs-panel.txt; do
        crlf_only "$dir/$f" || fail "$f in the zip has lines not ending in CR LF"
    done
    grep -q "@[A-Z]*@" "$dir/README.txt" && fail "README.txt in the zip has a placeholder left: $(grep "@[A-Z]*@" "$dir/README.txt")"

    local exe=$dir/msfs-panel.exe dll bad=()
    case $(file -b "$exe") in
    "PE32+ executable (console) x86-64"*) ;;
    *) fail "msfs-panel.exe is not a 64-bit Windows console program: $(file -b "$exe")" ;;
    esac
    local dlls
    dlls=$(x86_64-w64-mingw32-objdump -p "$exe" | sed -n 's/^[[:space:]]*DLL Name: //p') ||
        fail "objdump -p msfs-panel.exe"
    [ -n "$dlls" ] || fail "objdump -p found no imported DLL in msfs-panel.exe"
    for dll in $dlls; do
        [[ " ${WINDOWS_DLLS_ALLOWED[*]} " == *" ${dll,,} "* ]] || bad+=("$dll")
    done
    [ ${#bad[@]} -eq 0 ] ||
        fail "msfs-panel.exe imports ${bad[*]}, which a bare Windows lacks (allowed: ${WINDOWS_DLLS_ALLOWED[*]})"
    step "zip: msfs-panel.exe imports only $(paste -sd ' ' <<<"$dlls"); its text files end lines in CR LF"

    # A fresh Wine prefix stands for a bare PC.
    WINE=$(command -v wine64 || echo /usr/lib/wine/wine64)
    [ -x "$WINE" ] || fail "wine64 not found (looked in PATH and /usr/lib/wine)"
    export WINEARCH=win64 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" WINEPREFIX=$CHECK/wine-prefix
    unset DISPLAY WAYLAND_DISPLAY
    # The wineserver's socket goes to TMPDIR; past this length its path
    # would be too long for a Unix socket, and Wine must use /tmp.
    if [ ${#TMPDIR} -gt 60 ]; then
        step "$(rel "$TMPDIR") is too long a path for the wineserver's socket: Wine uses /tmp"
        export TMPDIR=/tmp
    fi
    t0=$SECONDS
    WINE_SERVER=$(command -v wineserver || echo /usr/lib/wine/wineserver)
    logged "$LOG_DIR/wineboot.log" timeout 180 "$WINE" wineboot -i
    timeout 60 "$WINE_SERVER" -w || fail "the new Wine prefix's wineserver did not end within 60 s"
    step "a fresh Wine prefix in $((SECONDS - t0)) s"

    # No simulator, no SimConnect.cfg: the default address, status 1.
    (cd "$dir" && exec "$WINE" "$exe" >"$CHECK/wine-alone.out" 2>"$CHECK/wine-alone.err" </dev/null) &
    local pid=$!
    wait_exit "$pid" 30
    local err
    err=$(tr -d '\r' <"$CHECK/wine-alone.err")
    [ "$EXIT_STATUS" = 1 ] || fail "msfs-panel.exe with no simulator: exit status $EXIT_STATUS, expected 1; stderr: $err"
    [[ $err == *"cannot connect to the simulator: connect(127.0.0.1:500)"* ]] ||
        fail "msfs-panel.exe with no simulator does not say it cannot reach 127.0.0.1:500: $err"
    [ ! -s "$CHECK/wine-alone.out" ] || fail "msfs-panel.exe with no simulator wrote to standard output: $(cat "$CHECK/wine-alone.out")"
    step "Wine, no simulator: status 1, \"$(grep -o 'cannot connect[^(]*([^)]*)' <<<"$err")\""

    # As README.txt says: the example beside the exe, Address and Port set.
    start_emulator "$CHECK/emulator-windows"
    sed -e "s/^Address=.*/Address=127.0.0.1\r/" -e "s/^Port=.*/Port=$EMU_PORT\r/" \
        "$dir/example/SimConnect.cfg" >"$dir/SimConnect.cfg"
    (cd "$dir" && exec "$WINE" "$exe" >"$dir/stdout.txt" 2>"$dir/stderr.txt" </dev/null) &
    expect_connected "$dir" $! "msfs-panel.exe under Wine"
    rm -f "$dir/SimConnect.cfg"
    step "Wine, with the example SimConnect.cfg set to sim-emulator's port: \"Connected to MSFS2020\", status 0 at its QUIT"
    timeout 10 "$WINE_SERVER" -k 2>/dev/null || true
}

# The package's paths with their modes and owners, in dpkg-deb's order.
deb_contents() { dpkg-deb --contents "$1" | awk '{ print $1, $2, $6 }'; }

# check_maintainer_scripts ARCH ROOT: postinst and postrm reload udev where
# it runs and do nothing where it does not, succeeding in both cases. Run
# in a mount namespace of their own: a private /run with (or without) a
# udev control socket, and an udevadm that records what it is asked.
check_maintainer_scripts() {
    local arch=$1 control=$2 dir=$CHECK/scripts-$1
    mkdir -p "$dir/bin"
    # shellcheck disable=SC2016 # expanded by the stub when it runs
    printf '#!/bin/sh\necho "$*" >>"%s"\nexit "${UDEVADM_STATUS:-0}"\n' "$dir/calls" >"$dir/bin/udevadm"
    chmod 755 "$dir/bin/udevadm"
    # try_script UDEV SCRIPT ARG EXPECTED: runs SCRIPT ARG where udev is
    # "none" (no control socket), "up", or "failing" (a socket, but udevadm
    # fails); EXPECTED is the udevadm calls, one a line.
    try_script() {
        local udev=$1 script=$2 arg=$3 expected=$4 socket=yes status=0 rc=0 what="$arch $2 $3 with udev $1"
        [ "$udev" = none ] && socket=no
        [ "$udev" = failing ] && status=1
        : >"$dir/calls"
        # shellcheck disable=SC2016 # expanded by the inner shell
        unshare --mount --propagation private sh -c '
            mount -t tmpfs tmpfs /run || exit 99
            if [ "$1" = yes ]; then
                mkdir /run/udev &&
                    perl -MIO::Socket::UNIX -e "IO::Socket::UNIX->new(Type => SOCK_STREAM(), Local => q(/run/udev/control), Listen => 1) or die" || exit 99
            fi
            UDEVADM_STATUS=$2 PATH=$4:$PATH sh "$3" "$5"' \
            sh "$socket" "$status" "$control/$script" "$dir/bin" "$arg" >"$dir/out" 2>&1 || rc=$?
        [ "$rc" != 99 ] || fail "could not set up a private /run to try the $script script: $(cat "$dir/out")"
        [ "$rc" = 0 ] || fail "$what: status $rc; output: $(cat "$dir/out")"
        [ "$(cat "$dir/calls")" = "$expected" ] ||
            fail "$what: udevadm called as \"$(cat "$dir/calls")\", expected \"$expected\""
        [ "$udev" != failing ] || grep -q "replug the panel" "$dir/out" || fail "$what: it says nothing of it"
    }
    local reload="control --reload-rules" trigger="trigger --subsystem-match=hidraw --action=change"
    try_script none postinst configure ""
    try_script none postrm purge ""
    try_script up postinst configure "$reload"$'\n'"$trigger"
    try_script up postrm remove "$reload"
    try_script failing postinst configure "$reload"
}

check_deb() {
    local arch=$1 deb root f
    deb=$(deb_file "$arch")
    [ -f "$deb" ] || fail "no $(rel "$deb") (the version from CMake is $VERSION, the Debian one $DEB_VERSION)"
    [ "$(dpkg-deb -f "$deb" Package Version Architecture | tr '\n' ' ')" = "Package: msfs-panel Version: $DEB_VERSION Architecture: $arch " ] ||
        fail "$(rel "$deb")'s control says: $(dpkg-deb -f "$deb" Package Version Architecture | tr '\n' ' ')"

    # What dpkg-shlibdeps found: hidapi and the C and C++ runtimes, as the
    # packages of the target, not the cross toolchain's copies.
    local depends names
    depends=$(dpkg-deb -f "$deb" Depends)
    names=$(sed -e 's/([^)]*)//g' -e 's/[[:space:]]//g' -e 's/[|,]/\n/g' <<<"$depends")
    for f in libc6 libstdc++6 libhidapi-hidraw0; do
        grep -qxF "$f" <<<"$names" || fail "$(rel "$deb") does not depend on $f: Depends: $depends"
    done
    [[ $depends != *-cross* ]] || fail "$(rel "$deb") depends on the cross toolchain's packages: $depends"

    if ! diff -u --label expected --label "$(basename "$deb")" <(grep -v '^#' "$PKG/debian/contents.expected") \
        <(deb_contents "$deb") >"$CHECK/contents-$arch.diff"; then
        cat "$CHECK/contents-$arch.diff" >&2
        fail "$(rel "$deb") holds other files than packaging/debian/contents.expected lists (above: - expected, + in the package)"
    fi

    root=$CHECK/deb-$arch
    dpkg-deb -x "$deb" "$root" || fail "dpkg-deb -x $(rel "$deb")"
    # The licence's stanza, the file's last, carries LICENSE's text.
    awk '/^License: Expat$/ { text = ""; next } { text = text $0 "\n" } END { printf "%s", text }' \
        "$root/usr/share/doc/msfs-panel/copyright" | sed -e 's/^ //' -e 's/^\.$//' |
        diff -u --label LICENSE --label copyright <(sed '1,4d' "$ROOT/LICENSE") - >&2 ||
        fail "the copyright file of $(rel "$deb") does not end with the Expat licence of LICENSE (above: - LICENSE, + copyright)"
    dpkg-deb -e "$deb" "$root/DEBIAN" || fail "dpkg-deb -e $(rel "$deb")"
    local exec_start
    exec_start=$(sed -n 's/^ExecStart=//p' "$root/usr/lib/systemd/user/msfs-panel.service")
    [ "$exec_start" = "/usr/bin/msfs-panel --keep-running" ] ||
        fail "the unit in $(rel "$deb") runs \"$exec_start\", expected \"/usr/bin/msfs-panel --keep-running\""
    check_maintainer_scripts "$arch" "$root/DEBIAN"

    local log=$LOG_DIR/lintian-$arch.log status=0 warnings
    lintian --fail-on error --display-level ">=warning" "$deb" >"$log" 2>&1 || status=$?
    if [ "$status" -ne 0 ] || grep -q '^E: ' "$log"; then
        cat "$log" >&2
        fail "lintian finds errors in $(rel "$deb") (log: $(rel "$log"))"
    fi
    warnings=$(sed -n 's/^W: [^:]*: \([^ ]*\).*/\1/p' "$log" | sort -u | tr '\n' ' ')
    step "$(rel "$deb"): contents as expected, depends on $depends; lintian: no errors, warnings: ${warnings:-none}"
}

check_deb_amd64_installed() {
    local deb
    deb=$(deb_file amd64)
    INSTALLED_DEB=1
    logged "$LOG_DIR/apt-install-deb.log" apt-get -y -o DPkg::Lock::Timeout=300 install "$deb"
    local version
    version=$(/usr/bin/msfs-panel --version) || fail "/usr/bin/msfs-panel --version failed after installing $(rel "$deb")"
    [ "$version" = "msfs-panel $VERSION" ] || fail "/usr/bin/msfs-panel --version says \"$version\", expected \"msfs-panel $VERSION\""
    logged "$LOG_DIR/apt-purge.log" apt-get -y -o DPkg::Lock::Timeout=300 purge msfs-panel
    INSTALLED_DEB=
    [ "$(deb_state)" = not-installed ] || fail "msfs-panel is in state \"$(deb_state)\" after apt-get purge"
    local left=() path
    while read -r path; do
        path=${path#.}
        [ -d "$path" ] || [ ! -e "$path" ] || left+=("$path")
    done < <(dpkg-deb --contents "$deb" | awk '{ print $6 }')
    [ ! -e /usr/share/doc/msfs-panel ] || left+=(/usr/share/doc/msfs-panel)
    [ ${#left[@]} -eq 0 ] || fail "left after apt-get purge msfs-panel: ${left[*]}"
    step "$(rel "$deb"): apt-get install gives /usr/bin/msfs-panel --version \"$version\"; apt-get purge leaves nothing"
}

check_deb_arm64_runs() {
    local deb root=$CHECK/deb-arm64 exe dir=$CHECK/emulator-arm64
    deb=$(deb_file arm64)
    exe=$root/usr/bin/msfs-panel
    case $(file -b "$exe") in
    *"ARM aarch64"*) ;;
    *) fail "usr/bin/msfs-panel in $(rel "$deb") is not an ARM aarch64 executable: $(file -b "$exe")" ;;
    esac
    local version
    version=$(qemu-aarch64 -L /usr/aarch64-linux-gnu "$exe" --version) || fail "qemu-aarch64 msfs-panel --version failed"
    [ "$version" = "msfs-panel $VERSION" ] || fail "the arm64 msfs-panel --version says \"$version\""
    start_emulator "$dir"
    (cd "$dir" && exec env HOME="$dir" qemu-aarch64 -L /usr/aarch64-linux-gnu "$exe" \
        >"$dir/stdout.txt" 2>"$dir/stderr.txt" </dev/null) &
    expect_connected "$dir" $! "the arm64 package's msfs-panel under qemu-aarch64"
    step "$(rel "$deb"): its msfs-panel under qemu-aarch64 says \"$version\", \"Connected to MSFS2020\" and ends with 0 at the simulator's QUIT"
}

for arch in "${ARCHES[@]}"; do
    check_deb "$arch"
done
check_deb_amd64_installed
check_deb_arm64_runs
check_zip
step "packages made and checked in $(rel "$DIST"): $(cd "$DIST" && echo *)"
