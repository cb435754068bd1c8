#!/usr/bin/env bash
# Builds OstrelGSM4 and starts it. When no panel is attached, a simulated
# panel runs on a pseudo-terminal linked at /tmp/ostrel-panel: type that path
# in the port dialog ("Подключиться").
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
bash "$root/scripts/setup.sh"
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
  echo "Run this command in a desktop session, or under Xvfb: xvfb-run -a bash scripts/run.sh" >&2
  exit 1
fi
"$build/app/ostrelgsm4" "$@"
