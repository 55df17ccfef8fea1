#!/usr/bin/env bash
# The demo's view of a run, one column of at most 80 characters:
#
#   format.sh mark TOUR
#       TOUR as the demo plays it: a "wait 0" before each report, and one at
#       the end when comments follow the last report. virtual-panel --verbose
#       prints "panel: wait 0 ms" before it queues the report, so each marker
#       comes out ahead of what msfs-panel does with that report.
#   format.sh show [--tour TOUR] SIMULATOR_LOG
#       Reads virtual-panel --verbose and msfs-panel --verbose, merged, on
#       standard input. Prints each panel action as msfs-panel names it (with
#       "shift" when on), under it each event it sent with what the event did
#       in the simulator, taken from SIMULATOR_LOG (sim-emulator's standard
#       output, one line per event applied, read as it grows), and the LEDs
#       the panel is told to show. With --tour (the tour, unmarked) each of
#       its comments is printed before the report it describes (the opening
#       block, which describes the file, is not), and the actions of one
#       report are grouped; without, each event line is an action of its own.
#   format.sh summary SIMULATOR_LOG [PANEL_LOG]
#       The last value of each variable the events changed, the custom events
#       counted, and from PANEL_LOG (what "show" read) the commands sent
#       through the MobiFlight channel counted and the LEDs, in turn.
#
# The events are paired with the simulator's lines by their order, not by
# time: sim-emulator applies an event at the next frame or later, and says
# nothing of one it refuses.
set -uo pipefail

WIDTH=80
# Where the result of an event starts, and how long an event's line waits
# for the simulator's (0.02 s steps).
RESULT_COLUMN=36
SIM_WAIT_STEPS=100

usage() {
    echo "usage: format.sh mark TOUR | show [--tour TOUR] SIMULATOR_LOG | summary SIMULATOR_LOG [PANEL_LOG]" >&2
    exit 2
}

# wrap INDENT TEXT: TEXT broken at spaces into lines of at most WIDTH
# characters, each line after the first indented by INDENT spaces. A word
# longer than a line is cut.
wrap() {
    local indent=$1 text=$2 head lead pad
    printf -v pad '%*s' "$indent" ''
    while ((${#text} > WIDTH)); do
        lead=${text%%[! ]*}
        head=${text:0:WIDTH+1}
        head=${head% *}
        ((${#head} > ${#lead})) || head=${text:0:WIDTH}
        head=${head%"${head##*[! ]}"}
        printf '%s\n' "$head"
        text=${text:${#head}}
        text=$pad${text#"${text%%[! ]*}"}
    done
    printf '%s\n' "$text"
}

# --- the tour ------------------------------------------------------------------

# The tour's lines as virtual-panel reads them: a comment runs from '#' to the
# end of the line, words are split on blanks. Prints "report" before each
# report, "caption TEXT" for each line of comment after the opening block,
# and copies every line, except a "wait 0", which would pass for a marker.
read_tour() {
    awk 'BEGIN { opening = 1 }
    {
        line = $0; sub(/\r$/, "", line); comment = ""
        if ((i = index(line, "#")) > 0) { comment = substr(line, i + 1); line = substr(line, 1, i - 1) }
        n = split(line, w)
        if (n == 0 && comment != "") {
            if (!opening) { sub(/^[ \t]+/, "", comment); print "caption " comment }
        } else {
            opening = 0
        }
        if (w[1] == "report" || w[1] == "raw") print "report"
        if (w[1] == "wait" && n == 2 && w[2] + 0 == 0) next
        print "line " $0
    }' "$1"
}

mark() {
    [ -r "$1" ] || { echo "format.sh mark($1): cannot read the tour" >&2; exit 2; }
    read_tour "$1" | awk '
        $1 == "caption" { pending = 1; next }
        $1 == "report" { print "wait 0"; pending = 0; next }
        { print substr($0, 6) }
        END { if (pending) print "wait 0" }'
}

# Fills CAPTIONS[N] with the caption of the Nth marker "mark" puts in.
load_captions() {
    local kind text marker=1
    CAPTIONS=()
    while IFS=' ' read -r kind text; do
        case $kind in
            caption) CAPTIONS[marker]+="${CAPTIONS[marker]:+ }$text" ;;
            report) ((marker += 1)) ;;
        esac
    done < <(read_tour "$1")
}

# --- the simulator's lines ---------------------------------------------------------

# effects TEXT: splits what an event did ("VAR = VALUE, VAR = VALUE") into
# EFFECTS, one "VAR = VALUE" each, frequencies with at least three decimals
# (the emulator writes NAV with two, COM with three); anything else whole.
effects() {
    local rest=$1 name value int frac tail
    EFFECTS=()
    while [[ $rest =~ ^([A-Z][A-Z0-9 :]*)\ =\ ([^,]*)(,\ (.*))?$ ]]; do
        name=${BASH_REMATCH[1]} value=${BASH_REMATCH[2]} rest=${BASH_REMATCH[4]}
        if [[ $name == *FREQUENCY* && $value =~ ^([0-9]+)(\.([0-9]*))?(.*)$ ]]; then
            int=${BASH_REMATCH[1]} frac=${BASH_REMATCH[3]} tail=${BASH_REMATCH[4]}
            while ((${#frac} < 3)); do frac+=0; done
            value=$int.$frac$tail
        fi
        EFFECTS+=("$name = $value")
        [ -n "$rest" ] || return 0
    done
    EFFECTS=("$1")
}

# Splits a line of sim-emulator's into SIM_EVENT ("NAME DATA") and SIM_EFFECT.
split_sim_line() {
    local line=$1
    [[ $line =~ ^\[client\ [0-9]+\]\ (.*)$ ]] && line=${BASH_REMATCH[1]}
    SIM_EVENT=${line%% -> *}
    SIM_EFFECT=${line#* -> }
}

SIM_NEXT='' SIM_HAVE='' SIM_PARTIAL=''

# Holds the simulator's next line in SIM_NEXT, waiting for it to be written.
peek_sim() {
    local line steps=0
    [ -z "$SIM_HAVE" ] || return 0
    while :; do
        if IFS= read -r line <&3; then
            SIM_NEXT=$SIM_PARTIAL$line SIM_PARTIAL='' SIM_HAVE=1
            return 0
        fi
        SIM_PARTIAL+=$line
        ((steps++ < SIM_WAIT_STEPS)) || return 1
        sleep 0.02
    done
}

# event_line NAME_AND_DATA: the event as the program sent it, with the
# simulator's line for it when the simulator's next line is that event's.
event_line() {
    local sent=$1 name=${1%% *} pad first=1 effect
    if peek_sim && split_sim_line "$SIM_NEXT" && [[ ${SIM_EVENT%% *} == "$name" ]]; then
        SIM_HAVE=
        sent=$SIM_EVENT
        effects "$SIM_EFFECT"
    else
        EFFECTS=("(no line from the simulator for it)")
    fi
    printf -v pad '%*s' "$RESULT_COLUMN" ''
    local head="    -> $sent"
    if ((${#head} + 2 > RESULT_COLUMN)); then
        printf '%s\n' "$head"
        first=0
    fi
    for effect in "${EFFECTS[@]}"; do
        if ((first)); then
            printf -v head '%-*s' "$RESULT_COLUMN" "$head"
            wrap "$RESULT_COLUMN" "$head$effect"
            first=0
        else
            wrap "$RESULT_COLUMN" "$pad$effect"
        fi
    done
}

# channel_line COMMAND: a command sent through the MobiFlight channel for the
# module to run (the simulator's log has no line for it).
channel_line() {
    local pad
    printf -v pad '%*s' "$RESULT_COLUMN" ''
    wrap 6 "    -> $1"
    wrap "$RESULT_COLUMN" "${pad}for the MobiFlight module to run"
}

# --- show --------------------------------------------------------------------------

show() {
    local tour='' line action result marker=0 current='' indent
    [ "${1:-}" = --tour ] && { tour=${2:-}; shift 2 || usage; }
    [ $# -eq 1 ] || usage
    if [ -n "$tour" ]; then
        [ -r "$tour" ] || { echo "format.sh show($tour): cannot read the tour" >&2; exit 2; }
        load_captions "$tour"
    fi
    [ -r "$1" ] || { echo "format.sh show($1): cannot read the simulator's log" >&2; exit 2; }
    exec 3<"$1"
    while IFS= read -r line; do
        line=${line%$'\r'}
        indent="  "
        [ -z "$current" ] || indent="    "
        case $line in
            "panel: wait 0 ms")
                ((marker += 1))
                current=
                if [ -n "${CAPTIONS[marker]:-}" ]; then
                    echo
                    wrap 0 "${CAPTIONS[marker]}"
                fi
                ;;
            "panel: output report "*": LEDs "*) wrap 10 "${indent}LEDs: ${line##*: LEDs }" ;;
            "panel: "*refused* | "panel: "*dropped\)) wrap 6 "$indent${line#panel: }" ;;
            "panel: "*) ;;  # the script as played: msfs-panel's lines say it, with shift
            "Connected to MSFS2020") echo "  msfs-panel: $line" ;;
            # The MobiFlight channel's own traffic (its areas by name).
            "MobiFlight."*" <- "* | "MobiFlight."*" -> "* | "msfs-panel."*" <- "* | "msfs-panel."*" -> "*) ;;
            *" -> "*)
                action=${line%% -> *} result=${line#* -> }
                if [ -z "$tour" ] || [ "$action" != "$current" ]; then
                    wrap 4 "  $action"
                    current=$action
                fi
                case $result in
                    "no event" | "no function" | "shift on" | "shift off" | "dropped: "* | "event "*)
                        wrap 6 "    -> $result" ;;
                    "MF.SimVars.Set."*) channel_line "$result" ;;
                    *) event_line "$result" ;;
                esac
                ;;
            "mode "*)
                echo "  $line"
                current=
                ;;
            *) wrap 6 "  $line" ;;
        esac
    done
    # Lines of the simulator's that no event of the program's took. Each
    # event's line has been waited for already: none is waited for now.
    local spare=()
    SIM_WAIT_STEPS=0
    while peek_sim; do
        spare+=("$SIM_NEXT")
        SIM_HAVE=
    done
    if [ ${#spare[@]} -gt 0 ]; then
        echo
        echo "The simulator also applied:"
        for line in "${spare[@]}"; do wrap 6 "  $line"; done
    fi
}

# --- summary -----------------------------------------------------------------------

summary() {
    { [ $# -ge 1 ] && [ $# -le 2 ]; } || usage
    [ -r "$1" ] || { echo "format.sh summary($1): cannot read the simulator's log" >&2; exit 2; }
    local line effect name custom=0 order=() leds=()
    local -A last=()
    while IFS= read -r line; do
        split_sim_line "$line"
        case $SIM_EFFECT in
            "custom event, "*) ((custom += 1)); continue ;;
        esac
        effects "$SIM_EFFECT"
        for effect in "${EFFECTS[@]}"; do
            [[ $effect == *" = "* ]] || continue
            name=${effect%% = *}
            [ -n "${last[$name]+x}" ] || order+=("$name")
            last[$name]=${effect#* = }
        done
    done <"$1"
    echo "The simulator's state at the end, of each variable the events changed:"
    [ ${#order[@]} -gt 0 ] || echo "  (none)"
    for name in "${order[@]}"; do printf '  %-30s %s\n' "$name" "${last[$name]}"; done
    if ((custom > 0)); then
        wrap 2 "  and $custom custom events (the navigators' keys and knobs, MobiFlight.*), which act only with the MobiFlight WASM module in the real simulator"
    fi
    if [ $# -eq 2 ]; then
        [ -r "$2" ] || { echo "format.sh summary($2): cannot read the panel's log" >&2; exit 2; }
        while IFS= read -r line; do
            case $line in "panel: output report "*": LEDs "*) leds+=("${line##*: LEDs }") ;; esac
        done <"$2"
        local channel
        channel=$(grep -c -- ' -> MF\.SimVars\.Set\.' "$2")
        if ((channel > 0)); then
            wrap 2 "  and $channel H: events of the navigators' keys and knobs, sent through the MobiFlight WASM module's channel"
        fi
        local joined=
        for line in "${leds[@]}"; do joined+="${joined:+ -> }$line"; done
        echo "The LEDs the panel was told to show, in turn:"
        wrap 2 "  ${joined:-(none)}"
    fi
}

case ${1:-} in
    mark) [ $# -eq 2 ] || usage; mark "$2" ;;
    show) shift; show "$@" ;;
    summary) shift; summary "$@" ;;
    *) usage ;;
esac
