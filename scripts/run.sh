#!/usr/bin/env bash
# Builds OstrelGSM4 and starts it on a simulated panel (a pseudo-terminal
# linked at /tmp/ostrel-panel, already filled in the port dialog: press
# "Подключиться", then OK). Without a display it reads the simulated panel
# with the command line instead and shows the settings file it produced.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
bash "$root/scripts/setup.sh" run
build="$root/build"
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" -j "$(nproc)" --target ostrelgsm4 ostrelgsm4-panel-sim

link=/tmp/ostrel-panel
state="${XDG_STATE_HOME:-$HOME/.local/state}/ostrelgsm4/panel-sim.state"
mkdir -p "$(dirname "$state")"
"$build/tools/ostrelgsm4-panel-sim" --link "$link" --state "$state" >/dev/null &
sim=$!
trap 'kill $sim 2>/dev/null; wait $sim 2>/dev/null || true' EXIT
for _ in $(seq 50); do [ -e "$link" ] && break; sleep 0.1; done
echo "Simulated panel on $link (state kept in $state)"

if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  echo "No display found (DISPLAY is not set): the window cannot be shown here." >&2
  echo "Reading the simulated panel with the command line instead:" >&2
  out="$(mktemp --suffix=.ini)"
  "$build/app/ostrelgsm4" read --port "$link" --out "$out"
  echo "Settings read from the simulated panel ($out):"
  cat "$out"
  exit 0
fi
"$build/app/ostrelgsm4" --port "$link"
