#!/usr/bin/env bash
# Speed benchmarks (never part of the test suite):
#   - `ostrelgsm4 read` and `write` against the panel simulator, RUNS times each: the median time
#     from the answer to the connection check to the last answer, the floor of the commands sent,
#     and their ratio;
#     also the time from exec to the first byte on the line and the peak RSS, and the first byte
#     of a bare Qt program that opens the port at once and drains 10 ms (the stack's own floor);
#   - the instructions a whole `read` executes (callgrind);
#   - the idle CPU of the window over SECONDS, disconnected and connected after "Прочитать всё";
#   - `ostrelgsm4 monitor` over 20 s: the readings a second reached, its CPU and its peak RSS.
#   - how long `read --site` runs on after the panel's last answer when the library cannot answer.
#   - exec to the window mapped against a trivial Qt Widgets window (median of 7).
#   scripts/bench.sh [RUNS] [SECONDS]      (10 and 30 by default; uses build/)
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
runs="${1:-10}"
seconds="${2:-30}"
build="$root/build"

bash "$root/scripts/setup.sh" bench
[ -f "$build/CMakeCache.txt" ] || cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" -j2 --target ostrelgsm4 ostrelgsm4-window ostrelgsm4-panel-sim bench_cli_speed bench_qt_floor \
  bench_widgets_floor bench_map_time bench_library_budget

# Timings suffer on a busy machine: say how busy it was.
echo "load average: $(cut -d' ' -f1-3 /proc/loadavg) on $(nproc) cores"
"$build/bench/bench_cli_speed" "$build/app/ostrelgsm4" "$runs" "$build/bench/bench_qt_floor"
bash "$root/bench/cli_instructions.sh" "$build"
bash "$root/bench/gui_idle.sh" "$build" "$seconds"
bash "$root/bench/monitor_cost.sh" "$build" 20
"$build/bench/bench_library_budget" "$build/app/ostrelgsm4" 5 "$root/scripts/pg_scratch.sh"
bash "$root/bench/gui_start.sh" "$build" 7
