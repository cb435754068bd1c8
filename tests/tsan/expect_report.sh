#!/usr/bin/env bash
# Runs a program that must make ThreadSanitizer report a data race under the
# project's suppressions, and passes only when it did: the report names the
# given function of ours, and the program failed with the sanitizer's code.
#   expect_report.sh SUPPRESSIONS FUNCTION PROGRAM...
set -uo pipefail
supp="$1"
function="$2"
shift 2
output="$(TSAN_OPTIONS="${TSAN_OPTIONS:-} halt_on_error=1 exitcode=66 suppressions=$supp" "$@" 2>&1)"
status=$?
printf '%s\n' "$output"
if [ "$status" -ne 66 ]; then
  echo "expected ThreadSanitizer's exit code 66, got $status" >&2
  exit 1
fi
if ! grep -q 'WARNING: ThreadSanitizer: data race' <<<"$output"; then
  echo "no data race was reported" >&2
  exit 1
fi
if ! grep -q "$function" <<<"$output"; then
  echo "the report does not name $function" >&2
  exit 1
fi
echo "reported, as it must be"
