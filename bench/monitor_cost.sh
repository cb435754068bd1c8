#!/usr/bin/env bash
# The costs of `ostrelgsm4 monitor` against the panel simulator: the readings a second reached per
# channel (both channels polled), the failed readings, the CPU of the command line (user + system
# time over the run's wall time, from /usr/bin/time) and its peak RSS after a short run and after
# SECONDS, to show the memory stays put however long it runs.
#   bench/monitor_cost.sh BUILD_DIR [SECONDS]      (20 by default)
set -euo pipefail
build="${1:?build directory}"
seconds="${2:-20}"
short=2

work="$(mktemp -d /tmp/ostrel-monitor.XXXXXX)"
sim=""
cleanup() {
  [ -n "$sim" ] && { kill "$sim" 2>/dev/null || true; wait "$sim" 2>/dev/null || true; }
  rm -rf "$work"
}
trap cleanup EXIT

# A loop opened and closed on channel 1, a noisy level on channel 2.
cat >"$work/levels.txt" <<'LEVELS'
loop
seed 3
1 150 1s 4
1 450 1s 4
1 850 1s 4
2 600 1s 10
LEVELS
"$build/tools/ostrelgsm4-panel-sim" --adc-script "$work/levels.txt" >"$work/sim.out" 2>&1 &
sim=$!
for _ in $(seq 50); do [ -s "$work/sim.out" ] && break; sleep 0.1; done
port="$(head -n1 "$work/sim.out")"
[ -n "$port" ] || { echo "monitor_cost: the simulator did not start" >&2; exit 1; }

# One run of SECONDS: "readings-channel-1 readings-channel-2 failed cpu-seconds max-rss-kib".
run() {
  /usr/bin/time -f "%U %S %M" -o "$work/time" \
    "$build/app/ostrelgsm4" monitor --port "$port" --csv --quiet --duration "$1" >"$work/out.csv"
  read -r user sys rss <"$work/time"
  awk -F, -v cpu="$(awk -v u="$user" -v s="$sys" 'BEGIN { print u + s }')" -v rss="$rss" \
    'NR > 1 { if ($4 == "failed") failed++; else n[$2]++ }
     END { printf "%d %d %d %s %d\n", n[1], n[2], failed, cpu, rss }' "$work/out.csv"
}

echo "load average: $(cut -d' ' -f1-3 /proc/loadavg) on $(nproc) cores"
read -r _ _ _ _ rss_short < <(run "$short")
read -r one two failed cpu rss < <(run "$seconds")
awk -v s="$seconds" -v one="$one" -v two="$two" -v failed="$failed" -v cpu="$cpu" \
    -v rss="$rss" -v rss_short="$rss_short" -v short="$short" 'BEGIN {
  printf "monitor, both channels, %d s: %.1f readings a second on channel 1, %.1f on channel 2, %d failed\n",
         s, one / s, two / s, failed
  printf "monitor CPU: %.2f s over %d s = %.1f %% of a core (the connection and the thresholds read included)\n",
         cpu, s, 100 * cpu / s
  printf "monitor peak RSS: %d KiB after %d s, %d KiB after %d s\n", rss_short, short, rss, s
}'
