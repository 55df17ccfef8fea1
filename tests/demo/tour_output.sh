#!/usr/bin/env bash
# Runs scripts/demo.sh's tour with this build's binaries and checks its output
# as a person reads it: every line fits in 80 columns, the tour's comments come
# out in their order, each event shows the value of its own line of the
# simulator's, shift is shown, LEDs are named, frequencies have three decimals.
#
#   tour_output.sh ROOT BIN_DIR
set -uo pipefail
root=$1
bin=$2

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
out=$work/out
failed=0
fail() { echo "tour_output: $*" >&2; failed=1; }

DEMO_BIN_DIR=$bin timeout 60 bash "$root/scripts/demo.sh" >"$out" 2>"$work/err"
status=$?
if [ "$status" -ne 0 ] || [ -s "$work/err" ]; then
    cat "$out" "$work/err" >&2
    echo "tour_output: demo.sh exited with status $status (output above)" >&2
    exit 1
fi

awk 'length > 80 { printf "line %d has %d columns: %s\n", NR, length, $0; wide = 1 } END { exit wide }' "$out" >&2 ||
    fail "lines wider than 80 columns (above)"

# The tour's comment blocks after its opening one, each joined into one line,
# found in that order in the output, its lines joined the same way.
captions=$(awk '/^[ \t]*#/ { if (!started) next; sub(/^[ \t]*#[ \t]*/, ""); block = block (block == "" ? "" : " ") $0; next }
                { started = 1; if (block != "") print block; block = "" }
                END { if (block != "") print block }' "$root/scripts/demo/tour.txt")
[ "$(wc -l <<<"$captions")" -ge 3 ] || fail "found only $(wc -l <<<"$captions") captions in the tour"
tr -s ' \n' '  ' <"$out" | CAPTIONS=$captions awk -v RS='\001' '
    { n = split(ENVIRON["CAPTIONS"], c, "\n"); at = 1
      for (i = 1; i <= n; i++) {
          p = index(substr($0, at), c[i])
          if (p == 0) { print "caption missing or out of order: " c[i]; bad = 1; continue }
          at += p + length(c[i]) - 1
      } }
    END { exit bad }' >&2 || fail "captions (above)"
# The shift caption comes before the event it explains, and the next caption after.
awk '/^COM1 with shift/ { s = NR } /HEADING_BUG_SET 305/ { h = NR } /^AP mode/ { a = NR }
     END { exit !(s && h && a && s < h && h < a) }' "$out" ||
    fail "HEADING_BUG_SET 305 is not between its caption and the next"

# Each event with the value its own simulator line gave.
whole=$(grep -- '-> COM_RADIO_WHOLE_INC ' "$out" | sed 's/.*= //' | tr '\n' ' ')
[ "$whole" = "119.000 120.000 " ] || fail "COM_RADIO_WHOLE_INC shows '$whole', not '119.000 120.000 '"
grep -q -- '-> NAV1_STBY_SET 0x11150 *NAV STANDBY FREQUENCY:1 = 111.500$' "$out" ||
    fail "NAV1_STBY_SET 0x11150 does not show 111.500"
! grep -n 'no line from the simulator' "$out" >&2 || fail "events without the simulator's line (above)"
grep -qx '  COM1 shift outer +3 inner +5' "$out" || fail "no 'COM1 shift outer +3 inner +5' action"

grep -q -- '-> MF.SimVars.Set.(>H:AS530_DirectTo_Push)$' "$out" || fail "Direct-To did not go through the MobiFlight channel"
grep -qx '    LEDs: AP HDG ALT' "$out" || fail "no 'LEDs: AP HDG ALT' line"
grep -qx '  all off -> AP -> AP HDG -> AP HDG ALT -> all off' "$out" || fail "the LEDs' summary is not by name"
! grep -nE '\<0b [0-9a-f]{2}\>' "$out" >&2 || fail "LEDs in hex (above)"
! grep -nE 'FREQUENCY:[0-9] +(= )?[0-9]+\.([0-9]{0,2}|[0-9]{4,})\>' "$out" >&2 ||
    fail "frequencies without three decimals (above)"

if [ "$failed" -ne 0 ]; then
    echo "--- the demo's output:" >&2
    cat "$out" >&2
    exit 1
fi
echo "tour_output: $(wc -l <"$out") lines, all within 80 columns; captions, values and LEDs as expected"
