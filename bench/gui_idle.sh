#!/usr/bin/env bash
# The idle CPU of the window: disconnected, then connected after "Прочитать всё", each over
# SECONDS of wall time, read from /proc/PID/stat (user + system time of the whole process).
# The window runs on its own Xvfb display against the panel simulator and is driven with xdotool.
#   bench/gui_idle.sh BUILD_DIR [SECONDS]
set -euo pipefail
build="${1:?build directory}"
seconds="${2:-30}"
settle=3

work="$(mktemp -d /tmp/ostrel-idle.XXXXXX)"
pids=()
cleanup() {
  local pid
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  for pid in "${pids[@]}"; do wait "$pid" 2>/dev/null || true; done
  rm -rf "$work"
}
trap cleanup EXIT

fail() {
  echo "gui_idle: $*" >&2
  [ -n "${DISPLAY:-}" ] && import -window root "/tmp/ostrel-idle-failed.png" 2>/dev/null &&
    echo "gui_idle: the screen is in /tmp/ostrel-idle-failed.png" >&2
  exit 1
}

# A copy of the program (and its window) in a directory of its own: its "current.ini" and "Windows.ini" start
# fresh there (so the window has its default layout) and never touch the build's.
cp "$build/app/ostrelgsm4" "$build/app/ostrelgsm4-window" "$work/"

Xvfb -displayfd 3 -screen 0 1280x900x24 -nolisten tcp 3>"$work/display" 2>/dev/null &
pids+=($!)
for _ in $(seq 50); do [ -s "$work/display" ] && break; sleep 0.1; done
[ -s "$work/display" ] || fail "Xvfb did not start"
export DISPLAY=":$(cat "$work/display")"
unset QT_QPA_PLATFORM

"$build/tools/ostrelgsm4-panel-sim" --verbose >"$work/sim.out" 2>"$work/sim.log" &
pids+=($!)
for _ in $(seq 50); do [ -s "$work/sim.out" ] && break; sleep 0.1; done
port="$(head -n1 "$work/sim.out")"
[ -n "$port" ] || fail "the simulator did not start"

"$work/ostrelgsm4" --port "$port" >"$work/gui.log" 2>&1 &
gui=$!
pids+=($gui)

# Waits (up to 10 s) for a window whose name matches the pattern; prints its id.
window() {
  local id
  for _ in $(seq 100); do
    id="$(xdotool search --onlyvisible --name "$1" 2>/dev/null | head -n1 || true)"
    [ -n "$id" ] && { echo "$id"; return 0; }
    sleep 0.1
  done
  return 1
}
# Waits (up to 10 s) until the simulator has received the command.
received() {
  for _ in $(seq 100); do
    grep -qx -- "<- $1" "$work/sim.log" && return 0
    sleep 0.1
  done
  return 1
}
# The process's CPU time (user + system) in clock ticks; fields after the command name.
ticks() { awk '{ sub(/.*\) /, ""); print $12 + $13 }' "/proc/$gui/stat"; }

# Each thread's wake-ups so far (voluntary context switches), a line "id name count" each, by id.
wakeups() {
  local task
  for task in /proc/"$gui"/task/*; do
    printf '%s %s %s\n' "${task##*/}" "$(tr ' ' '_' <"$task/comm")" \
      "$(awk '/^voluntary_ctxt_switches/ { print $2 }' "$task/status")"
  done | sort
}

# The CPU share, and the wake-ups per second of every thread that woke: unlike the CPU time they do not
# depend on how busy the machine is.
measure() {
  sleep "$settle"
  local t0 t1 start end w0 w1
  t0="$(ticks)"
  w0="$(wakeups)"
  start="$(date +%s.%N)"
  sleep "$seconds"
  t1="$(ticks)"
  w1="$(wakeups)"
  end="$(date +%s.%N)"
  awk -v label="$1" -v t="$((t1 - t0))" -v hz="$(getconf CLK_TCK)" -v s0="$start" -v s1="$end" \
    'BEGIN { wall = s1 - s0; printf "idle %-34s %.3f %% of a core (%.0f ms CPU over %.1f s)\n", label, 100 * t / hz / wall, 1000 * t / hz, wall }'
  join <(echo "$w0") <(echo "$w1") | awk -v wall="$seconds" \
    '$5 > $3 { printf "     wake-ups/s of thread %-8s %-16s %.1f\n", $1, $2, ($5 - $3) / wall }'
}

main="$(window '^Настройка охранной панели')" || fail "the window did not appear"
measure "window, disconnected:"

# "Подключиться" in the navigation bar, then OK in the port dialog (the port is filled in).
xdotool mousemove --window "$main" 75 55 click 1
dialog="$(window '^Соединение')" || fail "the port dialog did not appear"
xdotool windowfocus --sync "$dialog" key Return
received "+v" || fail "the panel was not asked for its version"
sleep 1
xdotool search --onlyvisible --name '^Соединение' >/dev/null 2>&1 && fail "the window did not connect"

# "Прочитать всё", then OK in the message box at its end.
xdotool mousemove --window "$main" 75 279 click 1
received "+rh" || fail "Read all did not run"
box="$(window '^OstrelGSM4$')" || fail "Read all did not end with its message"
xdotool windowfocus --sync "$box" key Return
measure "window, connected after Read all:"
