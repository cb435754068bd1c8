#!/usr/bin/env bash
# Builds OstrelGSM4 and runs the whole test suite through ctest.
#   scripts/test.sh                      plain build in build/
#   scripts/test.sh --sanitize thread    ThreadSanitizer build in build-tsan/
#   scripts/test.sh --sanitize address   AddressSanitizer + UBSan build in build-asan/
#   scripts/test.sh --loaded             the plain suite again while stress-ng keeps
#                                        every core busy (a test that depends on the
#                                        machine's speed fails here)
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"

sanitize=""
loaded=""
purpose=test
if [ "${1:-}" = "--sanitize" ]; then
  sanitize="${2:?thread or address}"
  purpose=sanitize
elif [ "${1:-}" = "--loaded" ]; then
  loaded=1
  purpose=loaded
fi
bash "$root/scripts/setup.sh" "$purpose"
case "$sanitize" in
  "") build="$root/build"; type=RelWithDebInfo ;;
  thread) build="$root/build-tsan"; type=Debug ;;
  address) build="$root/build-asan"; type=Debug ;;
  *) echo "unknown sanitizer: $sanitize" >&2; exit 2 ;;
esac

# ccache makes a build of unchanged sources cheap, also for another clone of
# the repository: paths are hashed relative to the clone's root.
launcher=()
if command -v ccache >/dev/null; then
  launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
  export CCACHE_BASEDIR="$root" CCACHE_NOHASHDIR=true
fi
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE="$type" -DOSTREL_SANITIZE="$sanitize" "${launcher[@]}" >/dev/null
cmake --build "$build" -j "$(nproc)"

export QT_QPA_PLATFORM=offscreen
# The longest history: a race with a stack that cannot be restored has no
# names to match the suppressions by.
export TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1 die_after_fork=0 history_size=7 suppressions=$root/scripts/tsan.supp"
export ASAN_OPTIONS="detect_leaks=1 abort_on_error=1"
export UBSAN_OPTIONS="print_stacktrace=1 halt_on_error=1"
export LSAN_OPTIONS="suppressions=$root/scripts/lsan.supp"
# The end-to-end failure tables drop the line at every command of a run; the
# sanitizer builds take every fourth command (first and last always).
if [ -n "$sanitize" ]; then export OSTREL_TABLE_STRIDE=4; fi
cd "$build"
if ! command -v lintian >/dev/null; then
  echo "lintian is not installed: packaging_debian_packages builds and checks the packages, then skips" \
       "(bash scripts/setup.sh package installs lintian)"
fi
if [ -n "$loaded" ]; then
  stress-ng --cpu "$(nproc)" --timeout 0 --quiet &
  stress=$!
  trap 'kill "$stress" 2>/dev/null; wait "$stress" 2>/dev/null || true' EXIT
fi
# The plain suite mostly waits (on pseudo-terminals, the simulator's replies,
# the scratch server): four tests a core. The loaded and sanitizer runs keep
# one a core, their cores being busy already.
jobs=$(nproc)
if [ -z "$sanitize" ] && [ -z "$loaded" ]; then jobs=$((4 * $(nproc))); fi
ctest --output-on-failure -j "$jobs" --timeout 300
