#!/usr/bin/env bash
# Runs the benchmarks of a bench build; the RATIO lines at the end are the summary.
set -euo pipefail
build="$1"
"$build/bench/text_bench" --benchmark_min_time=0.2 "${@:2}"
