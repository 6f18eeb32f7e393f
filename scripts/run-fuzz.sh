#!/usr/bin/env bash
# Runs every fuzz target for the given number of seconds on a copy of its seed corpus
# and prints the executions each one made. FUZZ_JOBS (default 2, one per core) fuzzers
# share each target's corpus; their executions are added up.
set -euo pipefail
build="$(cd "$1" && pwd)"
seconds="${2:-60}"
jobs="${FUZZ_JOBS:-2}"
here="$(cd "$(dirname "$0")/.." && pwd)"
# A small quarantine keeps use-after-free detection while the fuzzers stay in memory
# (the default one grows to hundreds of MB and page faults dominate the run); short
# allocation stacks, since recording them costs more than the code under test.
export ASAN_OPTIONS="${ASAN_OPTIONS:-quarantine_size_mb=16:malloc_context_size=2}"
status=0
for target in pattern_matcher_fuzz xml_document_fuzz script_call_fuzz; do
  name="${target%_fuzz}"
  work="$build/fuzz-work/$name"
  mkdir -p "$work/corpus"
  rm -f "$work"/fuzz-*.log
  cp -n "$here/fuzz/corpus/$name"/* "$work/corpus/" 2>/dev/null || true
  dict=()
  [ -f "$here/fuzz/$name.dict" ] && dict=(-dict="$here/fuzz/$name.dict")
  echo "== $target for ${seconds}s with $jobs job(s)"
  if ! (cd "$work" && "$build/fuzz/$target" "${dict[@]}" -max_total_time="$seconds" \
          -print_final_stats=1 -jobs="$jobs" -workers="$jobs" corpus >log.txt 2>&1); then
    status=1
    echo "$target FAILED; see $work/fuzz-*.log"
    tail -n 40 "$work"/fuzz-*.log
  fi
  execs=$(cat "$work"/fuzz-*.log 2>/dev/null | grep -o 'stat::number_of_executed_units: *[0-9]*' \
            | awk '{s += $2} END {print s + 0}')
  echo "FUZZ $target executions=$execs"
done
exit $status
