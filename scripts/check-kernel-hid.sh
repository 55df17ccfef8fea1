#!/usr/bin/env bash
# msfs-panel with Debian's hidapi against a real kernel HID device. Our own
# kernel has no uhid, so this boots Debian's cloud kernel under QEMU (TCG)
# from an initramfs holding the three programs and their libraries, and
# scripts/kernel-hid/init runs the scenario inside and hands back the verdict.
#
#   bash scripts/check-kernel-hid.sh     (as root: it installs packages)
#
# BUILD_DIR (default build) holds the programs; they are built there if needed.
set -euo pipefail
ROOT=$(cd "$(dirname "$0")/.." && pwd)
. "$ROOT/scripts/lib.sh"
BUILD="$ROOT/${BUILD_DIR:-build}"
HERE="$ROOT/scripts/kernel-hid"
# Boot and scenario take 10 to 20 s under TCG; the /init watchdog fires at 60 s.
QEMU_TIMEOUT=${QEMU_TIMEOUT:-120}

started=$SECONDS
step() { echo "== kernel-hid: $* (at $((SECONDS - started)) s)" >&2; }
die() {
    echo "kernel-hid: FAIL: $*" >&2
    exit 1
}

WORK=$(mktemp -d /tmp/kernel-hid.XXXXXX)
trap 'rm -rf "$WORK"' EXIT

step "packages"
ensure_packages qemu-system-x86 busybox-static cpio

PROGRAMS=(msfs-panel sim-emulator virtual-panel)
# Built when missing, brought up to date otherwise (a no-op after a build).
step "programs in $BUILD"
if [ ! -f "$BUILD/build.ninja" ]; then
    cmake -S "$ROOT" -B "$BUILD" -G Ninja -DMSFS_PANEL_WERROR=ON >/dev/null
fi
cmake --build "$BUILD" -j 2 --target "${PROGRAMS[@]}" >&2

# The kernel's ABI version moves with Debian point releases: ask the
# metapackage which image it stands for today.
step "kernel package"
resolve_kernel() {
    apt-cache depends linux-image-cloud-amd64 2>/dev/null |
        awk '$1 == "Depends:" && $2 ~ /^linux-image-/ { print $2; exit }'
}
KERNEL_PKG=$(resolve_kernel)
if [ -z "$KERNEL_PKG" ]; then
    apt-get update -qq >&2
    KERNEL_PKG=$(resolve_kernel)
fi
[ -n "$KERNEL_PKG" ] || die "apt-cache(linux-image-cloud-amd64): names no kernel image package"
# The kernel and the three modules, taken from the package and kept beside
# the build (never in the repository) for the next run.
KERNEL="$BUILD/kernel-hid/$KERNEL_PKG"
if [ ! -d "$KERNEL" ]; then
    rm -rf "$BUILD/kernel-hid"
    mkdir -p "$BUILD/kernel-hid/download"
    (cd "$BUILD/kernel-hid/download" && apt-get download -qq "$KERNEL_PKG" 2>&1 | grep -v 'unsandboxed' >&2 || true)
    DEB=$(ls "$BUILD/kernel-hid/download/${KERNEL_PKG}"_*.deb 2>/dev/null | head -n 1 || true)
    [ -n "$DEB" ] || die "apt-get download($KERNEL_PKG): no package file"
    hid='./lib/modules/*/kernel/drivers/hid'
    mkdir -p "$KERNEL.part"
    dpkg-deb --fsys-tarfile "$DEB" | tar -x -C "$KERNEL.part" --wildcards './boot/vmlinuz-*' \
        "$hid/hid.ko*" "$hid/uhid.ko*" "$hid/hid-generic.ko*" ||
        die "dpkg-deb($DEB): no kernel or HID modules in it"
    mv "$KERNEL.part" "$KERNEL"
    rm -rf "$BUILD/kernel-hid/download"
fi
VMLINUZ=$(ls "$KERNEL"/boot/vmlinuz-* | head -n 1)
MODULES=$(ls -d "$KERNEL"/lib/modules/*/kernel/drivers/hid | head -n 1)
step "kernel $(basename "$VMLINUZ") from $KERNEL_PKG"

step "initramfs"
R="$WORK/root"
mkdir -p "$R"/{bin,proc,sys,dev,tmp,run,lib/modules,opt/panel/bin}
cp /bin/busybox "$R/bin/busybox"
cp "$HERE/init" "$R/init"
chmod 755 "$R/init"
cp "$HERE/scenario.txt" "$R/opt/panel/scenario.txt"
# The verdict leaves through an I/O port: a static helper, since this kernel
# has no /dev/port.
${CC:-cc} -static -O2 -o "$R/bin/debug-exit" "$HERE/debug-exit.c"
for m in hid uhid hid-generic; do
    src=$(ls "$MODULES/$m.ko"* 2>/dev/null | head -n 1)
    [ -n "$src" ] || die "module($m): not in $KERNEL_PKG"
    case "$src" in
        *.ko) cp "$src" "$R/lib/modules/$m.ko" ;;
        *.ko.xz) xz -dc "$src" >"$R/lib/modules/$m.ko" ;;
        *.ko.zst) zstd -qdc "$src" >"$R/lib/modules/$m.ko" ;;
        *) die "module($src): unknown compression" ;;
    esac
done
# The programs cannot be static (Debian has no static libudev): each with the
# shared libraries it loads, at the paths the loader looks for them.
for p in "${PROGRAMS[@]}"; do
    cp "$BUILD/bin/$p" "$R/opt/panel/bin/$p"
    for lib in $(ldd "$BUILD/bin/$p" | awk '$2 == "=>" && $3 ~ /^\// { print $3 } $1 ~ /^\// { print $1 }'); do
        mkdir -p "$R$(dirname "$lib")"
        cp -L "$lib" "$R$lib"
    done
done
(cd "$R" && find . | cpio -o -H newc --quiet | gzip -1 >"$WORK/initramfs.gz")
step "initramfs $(($(stat -c %s "$WORK/initramfs.gz") / 1024)) KiB"

step "booting under QEMU (TCG)"
set +e
timeout --kill-after=5 "$QEMU_TIMEOUT" qemu-system-x86_64 -accel tcg -m 256M -smp 1 \
    -kernel "$VMLINUZ" -initrd "$WORK/initramfs.gz" \
    -append "console=ttyS0 quiet panic=-1" \
    -nographic -no-reboot -nodefaults -serial stdio -monitor none \
    -device isa-debug-exit,iobase=0xf4,iosize=0x04 </dev/null >"$WORK/console.raw" 2>&1
status=$?
set -e
# The serial console carries \r\n and the firmware's escape sequences.
sed -e 's/\r//g' -e 's/\x1b\[[0-9;?]*[A-Za-z]//g' -e 's/\x1b[c=>]//g' "$WORK/console.raw" >"$WORK/console.txt"

case $status in
    33)
        grep '^kernel-hid: ' "$WORK/console.txt" >&2 || true
        step "passed"
        ;;
    *)
        case $status in
            35) reason="the scenario failed inside the VM" ;;
            124 | 137) reason="QEMU did not finish within $QEMU_TIMEOUT s" ;;
            *) reason="QEMU exited with $status (no verdict: a panic or a QEMU error)" ;;
        esac
        echo "---- VM console" >&2
        cat "$WORK/console.txt" >&2
        echo "----" >&2
        step "failed"
        die "$reason"
        ;;
esac
