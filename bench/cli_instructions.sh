#!/usr/bin/env bash
# The instructions a whole `ostrelgsm4 read` (and `--help` alone) executes, counted by callgrind:
# the count is the same on a busy machine, where timings are not.
#   bench/cli_instructions.sh BUILD_DIR
set -euo pipefail
build="${1:?build directory}"
program="$build/app/ostrelgsm4"
sim="$build/tools/ostrelgsm4-panel-sim"
work="$(mktemp -d)"
trap 'kill "${sim_pid:-}" 2>/dev/null || true; wait 2>/dev/null || true; rm -rf "$work"' EXIT

command -v valgrind >/dev/null || { echo "cli_instructions: valgrind is not installed" >&2; exit 2; }

"$sim" --link "$work/panel" >"$work/sim.txt" 2>&1 &
sim_pid=$!
for _ in $(seq 50); do [ -e "$work/panel" ] && break; sleep 0.1; done

# Callgrind's total of executed instructions ("Ir") for one run.
count() {
  local name="$1"; shift
  valgrind --tool=callgrind --callgrind-out-file="$work/$name.out" "$@" >/dev/null 2>"$work/$name.err" || {
    echo "cli_instructions: $name failed, see below" >&2; tail -5 "$work/$name.err" >&2; return 1; }
  local total
  total="$(grep -E '^(summary|totals):' "$work/$name.out" | head -1 | awk '{print $2}')"
  awk -v n="$total" -v what="$name" 'BEGIN { printf "%-6s %8.1f M instructions\n", what, n / 1e6 }'
}

count help "$program" --help
count read "$program" read --port "$work/panel" --out "$work/read.ini" --quiet
