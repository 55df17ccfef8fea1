#!/usr/bin/env bash
# Builds everything and shows the real msfs-panel at work with no simulator
# and no panel: sim-emulator plays Microsoft Flight Simulator 2020 (a
# SimConnect server on 127.0.0.1) and virtual-panel plays the USB panel.
#
#   bash scripts/demo.sh                # a scripted tour of the panel (about 25 s)
#   bash scripts/demo.sh --interactive  # work the panel from the keyboard
set -euo pipefail
. "$(dirname "$0")/lib.sh"
script_start demo

mode=tour
case "${1:-}" in
    "") ;;
    --interactive) mode=interactive ;;
    -h|--help) sed -n '2,8p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
    *) echo "demo.sh($1): unknown option; use --interactive or nothing" >&2; exit 2 ;;
esac

# In build/, configured as the tests configure it, so that neither rebuilds
# what the other built.
echo "== building msfs-panel, sim-emulator and virtual-panel (first time: a minute or two)" >&2
main_build msfs-panel sim-emulator virtual-panel hidapi-virtual
bin="$MAIN_BUILD/bin"

work=$(mktemp -d)
emulator_pid=
cleanup() {
    [ -n "$emulator_pid" ] && kill "$emulator_pid" 2>/dev/null || true
    wait 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT

# The simulator's starting state, set so the tour reads easily.
"$bin/sim-emulator" --port 0 --port-file "$work/port" --once --state-out "$work/state.json" \
    --set "COM ACTIVE FREQUENCY:1=124.850" --set "COM STANDBY FREQUENCY:1=118.000" \
    --set "NAV ACTIVE FREQUENCY:1=113.90" --set "NAV STANDBY FREQUENCY:1=110.50" \
    --set "AUTOPILOT HEADING LOCK DIR=270" --set "AUTOPILOT ALTITUDE LOCK VAR=3000" \
    --set "TRANSPONDER CODE:1=0x1200" --set "KOHLSMAN SETTING HG=29.80" \
    >"$work/simulator.log" 2>"$work/emulator.err" &
emulator_pid=$!
for _ in $(seq 100); do [ -s "$work/port" ] && break; sleep 0.05; done
if [ ! -s "$work/port" ]; then
    echo "demo: sim-emulator did not start:" >&2; cat "$work/emulator.err" >&2; exit 1
fi
printf '[SimConnect]\nProtocol=IPv4\nAddress=127.0.0.1\nPort=%s\n' "$(cat "$work/port")" >"$work/SimConnect.cfg"

if [ "$mode" = interactive ]; then
    echo "The panel is yours (q quits). What the simulator receives is printed on the right." >&2
    tail -n +1 -f "$work/simulator.log" 2>/dev/null | while IFS= read -r line; do
        printf '\r\033[K%-50s %s\n' "" "$line"
    done &
    tail_pid=$!
    (cd "$work" && "$bin/virtual-panel" --leds "$work/leds.txt" -- "$bin/msfs-panel") || true
    kill "$tail_pid" 2>/dev/null || true
else
    cat <<'INTRO'
msfs-panel connects a USB cockpit panel (a dual knob, buttons, six autopilot
LEDs and a mode selector) to Microsoft Flight Simulator 2020 via SimConnect.
Here the real msfs-panel runs against an emulated simulator, and a virtual
panel plays a short tour.

 LEFT: what the panel does (mode, knob detents,     RIGHT: what the simulator receives
       buttons) and the LEDs it is told to show            and how its state changes

INTRO
    printf '%-50s %s\n' "PANEL" "SIMULATOR"
    printf '%-50s %s\n' "-----" "---------"
    # Both sides print as things happen; the simulator's lines are indented.
    tail -n +1 -f "$work/simulator.log" 2>/dev/null | while IFS= read -r line; do
        printf '%-50s %s\n' "" "$line"
    done &
    tail_pid=$!
    (cd "$work" && "$bin/virtual-panel" --verbose --script "$ROOT/scripts/demo/tour.txt" \
        --leds "$work/leds.txt" --linger-ms 500 -- "$bin/msfs-panel") 2>&1 |
        sed -u -n -e '/^panel: wait/d' -e 's/^panel: output report [0-9a-f ]*: LEDs /    LEDs now: /p' -e 's/^panel: //p' \
            -e 's/^Connected to MSFS2020$/msfs-panel: Connected to MSFS2020/p' |
        while IFS= read -r line; do printf '%s\n' "$line"; done
    sleep 0.3
    kill "$tail_pid" 2>/dev/null || true
fi

# --once: the simulator leaves when the program has gone; then show where it ended.
for _ in $(seq 100); do kill -0 "$emulator_pid" 2>/dev/null || break; sleep 0.05; done
emulator_pid=
echo
echo "The simulator's state at the end:"
if command -v python3 >/dev/null; then
    python3 - "$work/state.json" <<'PY'
import json, sys
state = json.load(open(sys.argv[1]))
shown = ["COM ACTIVE FREQUENCY:1", "COM STANDBY FREQUENCY:1", "NAV ACTIVE FREQUENCY:1",
         "NAV STANDBY FREQUENCY:1", "AUTOPILOT HEADING LOCK DIR", "AUTOPILOT ALTITUDE LOCK VAR",
         "AUTOPILOT VERTICAL HOLD VAR", "TRANSPONDER CODE:1", "KOHLSMAN SETTING HG",
         "AUTOPILOT MASTER", "AUTOPILOT HEADING LOCK", "AUTOPILOT ALTITUDE LOCK"]
for name in shown:
    value = state.get(name)
    if name == "TRANSPONDER CODE:1" and isinstance(value, int):
        value = "%04x" % value
    print("  %-30s %s" % (name, value))
custom = state.get("custom_events", {})
if custom:
    print("  and %d navigator key and knob events (MobiFlight.*), which an add-on in the" % sum(custom.values()))
    print("  real simulator turns into AS530/AS430 and AS1000 actions")
PY
else
    cat "$work/state.json"; echo
fi
echo "LED reports the panel received: $(tr '\n' ',' <"$work/leds.txt" | sed 's/,$//')"
