#!/usr/bin/env bash
# Runs one GoogleTest program (through Wine when the command says so) and fails it when it
# ended before its tests did, whatever its exit code: a program that dies midway, for
# instance in a crash handler that itself fails, can still end with code 0.
#
#   scripts/run-gtest-program.sh COMMAND [ARGS...]
#
# GoogleTest (re)creates the file named by TEST_PREMATURE_EXIT_FILE when it starts its tests
# and removes it when it has finished them, so a file still there afterwards means an early
# end, before the tests or during them. A Windows program under Wine gets the file's name
# on drive Z:, which holds the whole Linux tree: tests may change the current directory.
set -uo pipefail

if [ $# -lt 1 ]; then
  echo "usage: $0 COMMAND [ARGS...]" >&2
  exit 2
fi

marker="$(mktemp "$PWD/gtest-running.XXXXXX")" || exit 2
trap 'rm -f "$marker"' EXIT
name_for_program="$marker"
case "$(basename "$1")" in
  wine*) name_for_program="Z:${marker//\//\\}" ;;
esac

TEST_PREMATURE_EXIT_FILE="$name_for_program" "$@"
status=$?
if [ -e "$marker" ]; then
  echo "run-gtest-program: $* ended with code $status before its tests did" >&2
  if [ "$status" -eq 0 ]; then
    status=1
  fi
fi
exit "$status"
