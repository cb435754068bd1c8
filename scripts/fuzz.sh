#!/usr/bin/env bash
# Builds one libFuzzer target with clang++-14 (in build-fuzz/) and runs it.
#   scripts/fuzz.sh TARGET SECONDS
# TARGET: fuzz_settings, fuzz_layout, fuzz_reply, fuzz_spool, fuzz_place or fuzz_cli. The seed corpus in
# fuzz/corpus/ is only read; what the run adds goes to build-fuzz/corpus/.
# A finding is saved as build-fuzz/findings/TARGET-crash-* and the script
# exits non-zero.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
target="${1:?target: fuzz_settings, fuzz_layout, fuzz_reply, fuzz_spool, fuzz_place or fuzz_cli}"
seconds="${2:?seconds}"
case "$target" in
  fuzz_settings) seeds=settings ;;
  fuzz_layout) seeds=layout ;;
  fuzz_reply) seeds=reply ;;
  fuzz_spool) seeds=spool ;;
  fuzz_place) seeds=place ;;
  fuzz_cli) seeds=cli ;;
  *) echo "unknown target: $target" >&2; exit 2 ;;
esac
bash "$root/scripts/setup.sh" fuzz

build="$root/build-fuzz"
launcher=()
if command -v ccache >/dev/null; then
  launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
  export CCACHE_BASEDIR="$root" CCACHE_NOHASHDIR=true
fi
CXX=clang++-14 cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DOSTREL_FUZZ=ON "${launcher[@]}" >/dev/null
cmake --build "$build" --target "$target" -j "$(nproc)"

corpus="$build/corpus/$target"
findings="$build/findings"
mkdir -p "$corpus" "$findings"
# The widget targets keep Qt's caches for the whole run: no leak check per input.
export ASAN_OPTIONS="detect_leaks=0 abort_on_error=1 quarantine_size_mb=64"
export UBSAN_OPTIONS="print_stacktrace=1 halt_on_error=1"
export QT_QPA_PLATFORM=offscreen
"$build/fuzz/$target" -max_total_time="$seconds" -max_len=16384 -timeout=10 -rss_limit_mb=2048 \
  -print_final_stats=1 -artifact_prefix="$findings/$target-" "$corpus" "$root/fuzz/corpus/$seeds"
