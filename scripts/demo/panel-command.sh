#!/usr/bin/env bash
# COMMAND of the interactive demo, which virtual-panel starts with the panel
# preloaded: msfs-panel --verbose, its lines and the simulator's for each
# event put together by format.sh, all on standard output. virtual-panel
# prints COMMAND's output above its status line and redraws the line after
# it; anything written to the terminal behind its back would be erased.
#
#   panel-command.sh MSFS_PANEL SIMULATOR_LOG
#
# Ends with msfs-panel's status; the SIGTERM (or SIGINT, SIGHUP) that ends
# the run is passed on to it.
set -uo pipefail
[ $# -eq 2 ] || { echo "usage: panel-command.sh MSFS_PANEL SIMULATOR_LOG" >&2; exit 2; }

exec 3> >(exec bash "$(dirname "$0")/format.sh" show "$2")
formatter=$!
"$1" --verbose >&3 2>&3 &
program=$!
# Only msfs-panel writes to the formatter now: it reads to the end when
# msfs-panel has gone.
exec 3>&-
trap 'kill -s TERM "$program" 2>/dev/null' TERM
trap 'kill -s INT "$program" 2>/dev/null' INT
trap 'kill -s HUP "$program" 2>/dev/null' HUP

# A trapped signal cuts wait short: wait again until msfs-panel has gone,
# then once more for its status (bash keeps it).
while kill -0 "$program" 2>/dev/null; do
    wait "$program"
done
wait "$program"
status=$?
wait "$formatter"
exit "$status"
