#!/usr/bin/env bash
# Runs the README's marked example for working without hardware, its own
# lines unchanged, in a scratch copy of the repository root: build/bin is
# this build's bin folder and scripts/demo/tour.txt a tour of a second
# instead of fifteen. Passes when every line succeeds (bash -e), the program
# connected, and the simulator received what the short tour sends.
#
#   readme_example.sh README.md BIN_DIR
set -uo pipefail
readme=$1
bin=$2

fail() { echo "readme_example: $*" >&2; exit 1; }

# The fenced block between the two marker comments.
block=$(awk '/<!-- README example: working without hardware/ { on = 1; next }
             /<!-- end of README example -->/ { on = 0 }
             on' "$readme" | sed -e '/^```/d')
[ -n "$block" ] || fail "$readme: no block between the <!-- README example: working without hardware --> markers"

work=$(mktemp -d)
runner=
cleanup() {
    # timeout leads a process group of its own: anything of the block left
    # behind (an emulator nobody connected to) is in it.
    [ -n "$runner" ] && kill -- -"$runner" 2>/dev/null
    rm -rf "$work"
}
trap cleanup EXIT

mkdir -p "$work/root/build" "$work/root/scripts/demo" "$work/tmp"
ln -s "$(cd "$bin" && pwd)" "$work/root/build/bin"
cat >"$work/root/scripts/demo/tour.txt" <<'TOUR'
# COM1 outer knob one detent clockwise, then the autopilot master key: events
# that do not depend on when the simulator's first values arrive.
report 0 0 1 0
wait 200
report 6 0x4000 0 0
wait 200
report 6 0 0 0
TOUR

# TMPDIR: the block's mktemp -d lands where this script can look.
(cd "$work/root" && TMPDIR="$work/tmp" HOME="$work/tmp" exec timeout 30 bash -e -c "$block") \
    >"$work/out" 2>"$work/err" </dev/null &
runner=$!
wait "$runner"
status=$?

show() { echo "--- standard output:"; cat "$work/out"; echo "--- standard error:"; cat "$work/err"; }
[ "$status" -ne 124 ] || { show >&2; fail "the block did not end within 30 s"; }
[ "$status" -eq 0 ] || { show >&2; fail "the block failed with status $status"; }
grep -qx 'Connected to MSFS2020' "$work/out" || { show >&2; fail "no 'Connected to MSFS2020' on standard output"; }
# The emulator's log, printed by the block's last line: the tour's two events.
grep -q '^COM_RADIO_WHOLE_INC -> COM STANDBY FREQUENCY:1' "$work/out" ||
    { show >&2; fail "the simulator did not receive COM_RADIO_WHOLE_INC"; }
grep -q '^AP_MASTER -> AUTOPILOT MASTER = 1' "$work/out" ||
    { show >&2; fail "the simulator did not receive AP_MASTER"; }
traces=("$work"/tmp/*/trace.jsonl)
[ -f "${traces[0]}" ] || fail "no trace.jsonl in the block's scratch folder"
transmits=$(grep -c '"call":"TransmitClientEvent"' "${traces[0]}")
[ "$transmits" -eq 2 ] || fail "the trace holds $transmits events, not the tour's 2"
echo "readme_example: the README's block ran: connected, 2 events traced"
