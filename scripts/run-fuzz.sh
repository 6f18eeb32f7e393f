#!/usr/bin/env bash
# Runs every fuzz target for the given number of seconds on a copy of its seed corpus
# and prints the executions each one made.
set -euo pipefail
build="$(cd "$1" && pwd)"
seconds="${2:-60}"
here="$(cd "$(dirname "$0")/.." && pwd)"
status=0
for target in pattern_matcher_fuzz xml_document_fuzz script_call_fuzz; do
  name="${target%_fuzz}"
  work="$build/fuzz-work/$name"
  mkdir -p "$work/corpus"
  cp -n "$here/fuzz/corpus/$name"/* "$work/corpus/" 2>/dev/null || true
  dict=()
  [ -f "$here/fuzz/$name.dict" ] && dict=(-dict="$here/fuzz/$name.dict")
  echo "== $target for ${seconds}s"
  if ! (cd "$work" && "$build/fuzz/$target" "${dict[@]}" -max_total_time="$seconds" \
          -print_final_stats=1 corpus >log.txt 2>&1); then
    status=1
    echo "$target FAILED; see $work/log.txt"
    tail -n 40 "$work/log.txt"
  fi
  execs=$(grep -o 'stat::number_of_executed_units: *[0-9]*' "$work/log.txt" | grep -o '[0-9]*$' || echo '?')
  echo "FUZZ $target executions=$execs"
done
exit $status
