#!/usr/bin/env bash
# msfs-panel with Debian's hidapi against a real kernel HID device. Our own
# kernel has no uhid, so this boots Debian's cloud kernel under QEMU (TCG)
# from an initramfs holding the three programs and their libraries, and
# scripts/kernel-hid/init runs the scenario inside and hands back the verdict.
#
#   bash scripts/check-kernel-hid.sh     (as root: it installs packages)
#
# The programs come from build/; the kernel (taken from its package, kept for
# the next run) and the initramfs are in build-kernel-hid/, the VM's console
# and the other logs in build-logs/check-kernel-hid/.
set -euo pipefail
. "$(dirname "$0")/lib.sh"
script_start check-kernel-hid

HERE="$ROOT/scripts/kernel-hid"
BK="$ROOT/build-kernel-hid"
# Boot and scenario take 10 to 20 s under TCG; the /init watchdog fires at 60 s.
QEMU_TIMEOUT=${QEMU_TIMEOUT:-120}

ensure_packages "${MSFS_PANEL_PACKAGES[@]}" qemu-system-x86 busybox-static cpio
step "packages: qemu-system-x86, busybox-static and cpio installed"

PROGRAMS=(msfs-panel sim-emulator virtual-panel)
main_build "${PROGRAMS[@]}"
step "${PROGRAMS[*]} up to date in $(rel "$MAIN_BUILD")"

# --- the kernel ----------------------------------------------------------------
# The kernel's ABI version moves with Debian point releases: ask the
# metapackage which image it stands for.
resolve_kernel() {
    apt-cache depends linux-image-cloud-amd64 2>/dev/null |
        awk '!found && $1 == "Depends:" && $2 ~ /^linux-image-/ { print $2; found = 1 }'
}
# A kernel folder is whole when the image and the three modules are there.
kernel_usable() {
    compgen -G "$1/boot/vmlinuz-*" >/dev/null || return 1
    local m
    for m in hid uhid hid-generic; do
        compgen -G "$1/lib/modules/*/kernel/drivers/hid/$m.ko*" >/dev/null || return 1
    done
}

KERNEL_PKG=$(resolve_kernel)
if { [ -z "$KERNEL_PKG" ] || ! kernel_usable "$BK/kernel/$KERNEL_PKG"; } && is_root; then
    # About to download: with the lists of today, not those of the image.
    apt_update_once
    KERNEL_PKG=$(resolve_kernel)
fi
[ -n "$KERNEL_PKG" ] || fail "apt-cache depends linux-image-cloud-amd64 names no kernel image package"
KERNEL="$BK/kernel/$KERNEL_PKG"
if ! kernel_usable "$KERNEL"; then
    t0=$SECONDS
    # Only this kernel is kept: older ones and what an interrupted run left go.
    rm -rf "$BK/kernel"
    mkdir -p "$BK/kernel/download"
    logged "$LOG_DIR/kernel-download.log" bash -c "cd '$BK/kernel/download' && timeout 600 apt-get download -qq '$KERNEL_PKG'"
    deb=$(compgen -G "$BK/kernel/download/${KERNEL_PKG}_*.deb" | head -n 1) ||
        fail "apt-get download $KERNEL_PKG left no package file (log: $(rel "$LOG_DIR/kernel-download.log"))"
    hid='./lib/modules/*/kernel/drivers/hid'
    mkdir -p "$KERNEL.part"
    dpkg-deb --fsys-tarfile "$deb" | tar -x -C "$KERNEL.part" --wildcards './boot/vmlinuz-*' \
        "$hid/hid.ko*" "$hid/uhid.ko*" "$hid/hid-generic.ko*" ||
        fail "$(basename "$deb") holds no kernel image or HID modules"
    kernel_usable "$KERNEL.part" || fail "$(basename "$deb") lacks the kernel image or one of the HID modules"
    mv "$KERNEL.part" "$KERNEL"
    rm -rf "$BK/kernel/download"
    step "kernel $KERNEL_PKG downloaded and unpacked in $((SECONDS - t0)) s"
fi
VMLINUZ=$(compgen -G "$KERNEL/boot/vmlinuz-*" | head -n 1)
MODULES=$(dirname "$(compgen -G "$KERNEL/lib/modules/*/kernel/drivers/hid/uhid.ko*" | head -n 1)")

# --- the initramfs -------------------------------------------------------------
WORK="$BK/work"
R="$WORK/root"
rm -rf "$WORK"
mkdir -p "$R"/{bin,proc,sys,dev,tmp,run,lib/modules,opt/panel/bin}
cp /bin/busybox "$R/bin/busybox"
cp "$HERE/init" "$R/init"
chmod 755 "$R/init"
cp "$HERE/scenario.txt" "$R/opt/panel/scenario.txt"
# The verdict leaves through an I/O port: a static helper, since this kernel
# has no /dev/port.
logged "$LOG_DIR/debug-exit.log" "${CC:-cc}" -static -O2 -o "$R/bin/debug-exit" "$HERE/debug-exit.c"
for m in hid uhid hid-generic; do
    src=$(compgen -G "$MODULES/$m.ko*" | head -n 1)
    case "$src" in
    *.ko) cp "$src" "$R/lib/modules/$m.ko" ;;
    *.ko.xz) ensure_packages xz-utils && xz -dc "$src" >"$R/lib/modules/$m.ko" ;;
    *.ko.zst) ensure_packages zstd && zstd -qdc "$src" >"$R/lib/modules/$m.ko" ;;
    *) fail "module $src: unknown compression" ;;
    esac
done
# The programs cannot be static (Debian has no static libudev): each with the
# shared libraries it loads, at the paths the loader looks for them.
for p in "${PROGRAMS[@]}"; do
    cp "$MAIN_BUILD/bin/$p" "$R/opt/panel/bin/$p"
    for lib in $(ldd "$MAIN_BUILD/bin/$p" | awk '$2 == "=>" && $3 ~ /^\// { print $3 } $1 ~ /^\// { print $1 }'); do
        mkdir -p "$R$(dirname "$lib")"
        cp -L "$lib" "$R$lib"
    done
done
(cd "$R" && find . | cpio -o -H newc --quiet | gzip -1 >"$WORK/initramfs.gz")
step "initramfs of $(($(stat -c %s "$WORK/initramfs.gz") / 1024)) KiB with $(basename "$VMLINUZ")'s HID modules"

# --- the VM ----------------------------------------------------------------------
t0=$SECONDS
status=0
timeout --kill-after=5 "$QEMU_TIMEOUT" qemu-system-x86_64 -accel tcg -m 256M -smp 1 \
    -kernel "$VMLINUZ" -initrd "$WORK/initramfs.gz" \
    -append "console=ttyS0 quiet panic=-1" \
    -nographic -no-reboot -nodefaults -serial stdio -monitor none \
    -device isa-debug-exit,iobase=0xf4,iosize=0x04 </dev/null >"$WORK/console.raw" 2>&1 || status=$?
# The serial console carries \r\n and the firmware's escape sequences.
CONSOLE="$LOG_DIR/console.txt"
sed -e 's/\r//g' -e 's/\x1b\[[0-9;?]*[A-Za-z]//g' -e 's/\x1b[c=>]//g' "$WORK/console.raw" >"$CONSOLE"

case $status in
33)
    # The kernel's clock: boot, then the scenario.
    loaded=$(sed -n 's/^kernel-hid: kernel .* loaded at \([0-9.]*\) s$/\1/p' "$CONSOLE")
    passed=$(sed -n 's/^kernel-hid: PASS at \([0-9.]*\) s$/\1/p' "$CONSOLE")
    step "VM: passed in $((SECONDS - t0)) s (booted in ${loaded:-?} s, scenario passed at ${passed:-?} s); $(sed -n 's/^kernel-hid: \(events: .*[^ ]\) *$/\1/p' "$CONSOLE") (console: $(rel "$CONSOLE"))"
    ;;
*)
    case $status in
    35) reason="the scenario failed inside the VM" ;;
    124 | 137) reason="QEMU did not finish within $QEMU_TIMEOUT s" ;;
    *) reason="QEMU exited with $status (no verdict: a panic or a QEMU error)" ;;
    esac
    echo "---- VM console ($(rel "$CONSOLE"))" >&2
    cat "$CONSOLE" >&2
    echo "----" >&2
    fail "$reason after $((SECONDS - t0)) s"
    ;;
esac
step "kernel HID device checked: start-up, NAV tuning, autopilot key, LEDs, unplug and plug"
