#!/usr/bin/env bash
# Builds everything and shows the real msfs-panel at work with no simulator
# and no panel: sim-emulator plays Microsoft Flight Simulator 2020 (a
# SimConnect server on 127.0.0.1) and virtual-panel plays the USB panel.
#
#   bash scripts/demo.sh                # a scripted tour of the panel (about 15 s)
#   bash scripts/demo.sh --interactive  # work the panel from the keyboard
#
# With DEMO_BIN_DIR=DIR it builds nothing and runs the binaries in DIR (the
# bin/ folder of a build).
set -euo pipefail
. "$(dirname "$0")/lib.sh"

mode=tour
case "${1:-}" in
    "") ;;
    --interactive) mode=interactive ;;
    # The comment block above, from its second line.
    -h|--help) sed -n '2,/^[^#]/s/^# \{0,1\}//p' "$0"; exit 0 ;;
    *) echo "demo.sh($1): unknown option; use --interactive or nothing" >&2; exit 2 ;;
esac

if [ -n "${DEMO_BIN_DIR:-}" ]; then
    bin=$DEMO_BIN_DIR
else
    script_start demo
    # In build/, configured as the tests configure it, so that neither
    # rebuilds what the other built.
    echo "== building msfs-panel, sim-emulator and virtual-panel (first time: a minute or two)" >&2
    main_build msfs-panel sim-emulator virtual-panel hidapi-virtual
    bin="$MAIN_BUILD/bin"
fi
format="$ROOT/scripts/demo/format.sh"
tour="$ROOT/scripts/demo/tour.txt"

work=$(mktemp -d)
emulator_pid=
cleanup() {
    [ -n "$emulator_pid" ] && kill "$emulator_pid" 2>/dev/null || true
    wait 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT

# The simulator's starting state, set so the tour reads easily, with a model
# of the MobiFlight WASM module, which the FMS modes go through. Not --quiet:
# its standard output, a file, gets one line per event applied.
"$bin/sim-emulator" --port 0 --port-file "$work/port" --once --mobiflight \
    --set "COM ACTIVE FREQUENCY:1=124.850" --set "COM STANDBY FREQUENCY:1=118.000" \
    --set "NAV ACTIVE FREQUENCY:1=113.90" --set "NAV STANDBY FREQUENCY:1=110.50" \
    --set "AUTOPILOT HEADING LOCK DIR=270" --set "AUTOPILOT ALTITUDE LOCK VAR=3000" \
    --set "TRANSPONDER CODE:1=0x1200" --set "KOHLSMAN SETTING HG=29.80" \
    >"$work/simulator.log" 2>"$work/emulator.err" &
emulator_pid=$!
for _ in $(seq 100); do [ -s "$work/port" ] && break; kill -0 "$emulator_pid" 2>/dev/null || break; sleep 0.05; done
if [ ! -s "$work/port" ]; then
    echo "demo: sim-emulator did not start:" >&2; cat "$work/emulator.err" >&2; exit 1
fi
printf '[SimConnect]\nProtocol=IPv4\nAddress=127.0.0.1\nPort=%s\n' "$(cat "$work/port")" >"$work/SimConnect.cfg"

status=0 format_status=0
if [ "$mode" = interactive ]; then
    echo "The panel is yours (q quits, ? lists the keys). Above the status line:" >&2
    echo "each action, the events msfs-panel sends and what they did in the simulator." >&2
    # Through COMMAND's output, which virtual-panel prints above its status
    # line and then redraws it.
    (cd "$work" && "$bin/virtual-panel" -- bash "$ROOT/scripts/demo/panel-command.sh" \
        "$bin/msfs-panel" "$work/simulator.log") || status=$?
else
    cat <<'INTRO'
msfs-panel connects a USB cockpit panel (a dual knob, buttons, six autopilot
LEDs and a mode selector) to Microsoft Flight Simulator 2020 via SimConnect.
Here the real msfs-panel runs against sim-emulator, an emulated simulator,
and virtual-panel plays a tour of the panel, about 15 s long. Under each panel
action, as msfs-panel names it ("shift" while a push on the knob has it on),
come the events it sent, each with what it did in the simulator, and the
LEDs the panel was told to show.

msfs-panel starts, opens the panel and connects to the simulator:
INTRO
    bash "$format" mark "$tour" >"$work/tour.txt"
    (cd "$work" && "$bin/virtual-panel" --verbose --script "$work/tour.txt" -- "$bin/msfs-panel" --verbose) 2>&1 |
        tee "$work/panel.log" | bash "$format" show --tour "$tour" "$work/simulator.log" ||
        { codes=("${PIPESTATUS[@]}"); status=${codes[0]}; format_status=${codes[2]}; }
fi

# --once: the simulator leaves when the program has gone; one the program
# never reached is left to cleanup to stop.
for _ in $(seq 100); do kill -0 "$emulator_pid" 2>/dev/null || break; sleep 0.05; done
kill -0 "$emulator_pid" 2>/dev/null || emulator_pid=
echo
if [ "$mode" = interactive ]; then
    bash "$format" summary "$work/simulator.log"
else
    bash "$format" summary "$work/simulator.log" "$work/panel.log"
fi
[ "$status" -eq 0 ] || echo "demo: virtual-panel (and msfs-panel under it) ended with status $status" >&2
[ "$format_status" -eq 0 ] || echo "demo: scripts/demo/format.sh failed with status $format_status" >&2
[ "$status" -eq 0 ] && [ "$format_status" -eq 0 ] || exit 1
