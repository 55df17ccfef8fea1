#!/usr/bin/env bash
# Checks the failure paths of the scripts' shared helpers, the ones a green
# run never takes: a log that cannot be written, a failing command, failing
# and missing tests, a start-up out of order, a fuzz target that crashes.
# Each case runs in a child shell, as a script would, and is held to its
# status and its message. Run by test.sh; works in build-logs/selftest/.
set -euo pipefail
. "$(dirname "$0")/lib.sh"
script_start selftest
W=$LOG_DIR/work
mkdir -p "$W"
cases=0

# expect STATUS PATTERN SCRIPT: runs SCRIPT in bash with lib.sh sourced and
# set -euo pipefail; its status must be STATUS and its output (both streams)
# must match the extended regular expression PATTERN, in which . and .* span
# lines and ^ and $ are the output's start and end.
expect() {
    local want=$1 pattern=$2 out status=0
    out=$(cd "$W" && bash -c "set -euo pipefail; . '$ROOT/scripts/lib.sh'; script_start selftest-case; $3" 2>&1) ||
        status=$?
    cases=$((cases + 1))
    if [ "$status" -ne "$want" ] || ! [[ $out =~ $pattern ]]; then
        printf '%s\n' "---- case: $3" "---- status $status (expected $want), output:" "$out" "----" >&2
        fail "case $cases: expected status $want and output matching: $pattern"
    fi
}

# logged: a log that cannot be written is said so and the command never runs.
: >"$W/a-file"
expect 1 "^selftest-case: FAILED: cannot write the log $W/a-file/x.log, so did not run: touch" \
    "logged '$W/a-file/x.log' touch '$W/ran'; echo not reached"
[ ! -e "$W/ran" ] || fail "logged ran its command although its log could not be written"
# A failing command: its output's end, then the FAILED line naming the log.
expect 1 $'last words\nselftest-case: FAILED: sh -c echo last words; exit 3 exited with status 3 \\(full log: [^)]*/x.log\\)$' \
    "logged '$W/x.log' sh -c 'echo last words; exit 3'"

# run_ctest against a small CMake project of passing, failing and skipped tests.
mkdir -p "$W/ctest"
cat >"$W/ctest/CMakeLists.txt" <<'EOF'
cmake_minimum_required(VERSION 3.20)
project(selftest NONE)
enable_testing()
add_test(NAME passes COMMAND sh -c "exit 0")
add_test(NAME skips COMMAND sh -c "exit 77")
set_tests_properties(skips PROPERTIES SKIP_RETURN_CODE 77)
if(FAIL)
  add_test(NAME fails COMMAND sh -c "echo why it failed; exit 1")
endif()
EOF
logged "$W/cmake.log" cmake -S "$W/ctest" -B "$W/ctest/pass" -DFAIL=OFF
logged "$W/cmake.log" cmake -S "$W/ctest" -B "$W/ctest/fail" -DFAIL=ON
expect 0 '^== \[[0-9]+ s\] t: 1 passed, 1 skipped in [0-9]+ s \(log: ' "run_ctest t '$W/ctest/pass'"
expect 1 $'Test +#3: fails .*\\*\\*\\*Failed[^\n]*\nwhy it failed\n.*The following tests FAILED:.*selftest-case: FAILED: t: ctest exited with status 8, 1 passed' \
    "run_ctest t '$W/ctest/fail'"
# Only what did not pass: no line of the test that passed.
if grep -q "passes" <<<"$(cd "$W" && bash -c ". '$ROOT/scripts/lib.sh'; script_start selftest-case; run_ctest t '$W/ctest/fail'" 2>&1)"; then
    fail "run_ctest showed a test that passed among the failures"
fi
mkdir -p "$W/no-tests"
expect 1 'FAILED: t: no test ran' "run_ctest t '$W/no-tests'"

# stage: a failing command ends its stage only (set -e holds inside it), the
# next stage runs, one that needs the failed stage is skipped, and the
# summary lists all three and fails.
stages="a() { echo in-a; false; echo after-false; }; b() { echo in-b; }"
expect 1 $'^in-a\nin-b\n== \\[[0-9]+ s\\] three: skipped, as one did not pass\n==== summary\none +FAILED \\(status 1\\) +[0-9]+ s\ntwo +passed +[0-9]+ s\nthree +skipped \\(one did not pass\\) +-\ntotal +[0-9]+ s\nselftest-case: FAILED: 2 of 3 stages did not pass' \
    "$stages; stage one '' a; stage two '' b; stage three one b; stage_summary"
expect 0 $'^in-b\nin-b\n==== summary\none +passed.*\ntwo +passed.*\ntotal +[0-9]+ s$' \
    "$stages; stage one '' b; stage two one b; stage_summary"

# check_startup: the real order passes; two packets swapped fail with a diff.
{
    sed 's/}$/,"t_ns":1}/' "$ROOT/tests/golden/startup.jsonl"
    echo '{"send_id":111,"call":"TransmitClientEvent","t_ns":2}'
} >"$W/trace.jsonl"
sed '3{h;d};4G' "$W/trace.jsonl" >"$W/swapped.jsonl"
expect 0 '^$' "check_startup '$W/trace.jsonl'"
expect 1 $'\n-\\{"send_id":3,[^\n]*\n.*\n\\+\\{"send_id":3,[^\n]*\n.*FAILED: the start-up in .*swapped.jsonl differs' \
    "check_startup '$W/swapped.jsonl'"

# fuzz/run.sh: a target that crashes fails the run and shows the report.
mkdir -p "$W/fuzz/bin"
printf '#!/bin/sh\necho "stat::number_of_executed_units: 7"\n' >"$W/fuzz/bin/fuzz-fine"
# A report longer than a log's usual tail: it must be shown from its start.
printf '#!/bin/sh\necho noise\necho "==1==ERROR: AddressSanitizer: heap-buffer-overflow"\nseq 60\necho "SUMMARY: the stack"\nexit 1\n' \
    >"$W/fuzz/bin/fuzz-crashes"
chmod +x "$W/fuzz/bin"/*
expect 1 $'fuzz-crashes: FAILED with status 1.*\n==1==ERROR: AddressSanitizer[^\n]*\n1\n2\n.*\n60\nSUMMARY: the stack\nfuzz-fine: 7 runs, no crash .*\n2 targets, 1 s each: a target FAILED' \
    "sh '$ROOT/fuzz/run.sh' '$W/fuzz' 1"
rm "$W/fuzz/bin/fuzz-crashes"
expect 0 '1 target, 1 s each, 7 runs, no crash$' "sh '$ROOT/fuzz/run.sh' '$W/fuzz' 1"
rm "$W/fuzz/bin/fuzz-fine"
expect 2 'no fuzz targets in' "sh '$ROOT/fuzz/run.sh' '$W/fuzz' 1"

rm -rf "$ROOT/build-logs/selftest-case"
step "script helpers: $cases cases as expected"
