#!/usr/bin/env bash
# The instruction-count guard: runs WORKLOAD under callgrind, counts the
# instructions executed inside perfGuardWorkload() and fails when they exceed
# the figure recorded in RECORD by more than 10 %.  Exits 77 (skipped) when
# valgrind is not installed.
#
#   run_guard.sh WORKLOAD RECORD
#
# To record a new figure after an intended change, run this script and put
# the count it prints into RECORD.
set -uo pipefail
workload=$1
record=$2

if ! command -v valgrind >/dev/null 2>&1; then
  echo "valgrind is not installed: perf guard skipped"
  exit 77
fi

dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
if ! valgrind --tool=callgrind --toggle-collect=perfGuardWorkload \
     --callgrind-out-file="$dir/callgrind.out" "$workload" >"$dir/stdout" 2>"$dir/stderr"; then
  echo "the workload failed under valgrind:"
  cat "$dir/stderr"
  exit 1
fi

count=$(sed -n 's/^totals: *\([0-9]*\).*/\1/p' "$dir/callgrind.out" | head -n 1)
[ -n "$count" ] || count=$(sed -n 's/^summary: *\([0-9]*\).*/\1/p' "$dir/callgrind.out" | head -n 1)
recorded=$(grep -v '^#' "$record" | grep -o '[0-9]\+' | head -n 1)
if [ -z "$count" ] || [ -z "$recorded" ]; then
  echo "cannot read the instruction count (got '$count') or the recorded figure (got '$recorded')"
  exit 1
fi

limit=$((recorded + recorded / 10))
percent=$(( (count * 1000 / recorded - 1000) ))
sign=+
[ "$percent" -lt 0 ] && { sign=-; percent=$((-percent)); }
echo "instructions in perfGuardWorkload: $count"
echo "recorded in $(basename "$record"): $recorded (limit $limit, change $sign$((percent / 10)).$((percent % 10)) %)"

if [ "$count" -gt "$limit" ]; then
  echo "FAILED: the workload executes more than 10 % more instructions than recorded."
  echo "Find the change that made the hot paths longer; if the growth is intended,"
  echo "record the new figure in $record."
  exit 1
fi
if [ "$count" -lt $((recorded - recorded / 10)) ]; then
  echo "note: more than 10 % below the record; consider recording the new figure."
fi
exit 0
