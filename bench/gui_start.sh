#!/usr/bin/env bash
# Exec to the main window mapped (MapNotify), median of RUNS, for the window and for a trivial Qt Widgets
# window on the same private Xvfb display, and their ratio. The window runs from a copy in a directory of
# its own with a private HOME, so it starts with no files (as on a first start) and touches no one's.
#   bench/gui_start.sh BUILD_DIR [RUNS]
set -euo pipefail
build="${1:?build directory}"
runs="${2:-7}"

work="$(mktemp -d /tmp/ostrel-start.XXXXXX)"
xvfb=""
cleanup() {
  [ -n "$xvfb" ] && kill "$xvfb" 2>/dev/null && wait "$xvfb" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT

cp "$build/app/ostrelgsm4-window" "$work/"
mkdir -p "$work/home" "$work/runtime"
chmod 700 "$work/runtime"
export HOME="$work/home" XDG_CONFIG_HOME="$work/home/.config" XDG_DATA_HOME="$work/home/.local/share"
export XDG_RUNTIME_DIR="$work/runtime"

Xvfb -displayfd 3 -screen 0 1280x800x24 -nolisten tcp 3>"$work/display" 2>/dev/null &
xvfb=$!
for _ in $(seq 50); do [ -s "$work/display" ] && break; sleep 0.1; done
[ -s "$work/display" ] || { echo "gui_start: Xvfb did not start" >&2; exit 1; }
export DISPLAY=":$(cat "$work/display")"
unset QT_QPA_PLATFORM
# The display number is written before the server takes clients.
for _ in $(seq 50); do xdotool getdisplaygeometry >/dev/null 2>&1 && break; sleep 0.1; done

echo "load average: $(cut -d' ' -f1-3 /proc/loadavg) on $(nproc) cores"
# One run of each first, not counted: the libraries come into the page cache. Then the two programs take
# turns, so that a change in the machine's load falls on both alike.
"$build/bench/bench_map_time" 1 "$build/bench/bench_widgets_floor" >/dev/null
"$build/bench/bench_map_time" 1 "$work/ostrelgsm4-window" >/dev/null
once() { "$build/bench/bench_map_time" 1 "$1" | awk '/median/ { print $2 }'; }
floors=() windows=()
for _ in $(seq "$runs"); do
  floors+=("$(once "$build/bench/bench_widgets_floor")")
  windows+=("$(once "$work/ostrelgsm4-window")")
done
median() { printf '%s\n' "$@" | sort -n | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }
floor="$(median "${floors[@]}")"
window="$(median "${windows[@]}")"
echo "exec to mapped, median of $runs: window $window ms, trivial Qt Widgets window $floor ms"
awk -v w="$window" -v f="$floor" 'BEGIN { printf "ratio: %.2f\n", w / f }'
