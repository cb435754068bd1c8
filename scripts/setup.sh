#!/usr/bin/env bash
# Installs the Debian packages that OstrelGSM4 needs for a purpose, and only
# those: each script asks for its own.
#   scripts/setup.sh [PURPOSE...]      (all without a purpose)
#     build     configure and build the tree with its tests (cmake's default)
#     run       build, and show the window (scripts/run.sh)
#     test      run the whole test suite (scripts/test.sh); the packaging test
#               skips its lintian check without lintian ("package" adds it)
#     loaded    the suite while stress-ng keeps every core busy (test.sh --loaded)
#     sanitize  the ThreadSanitizer and AddressSanitizer builds (g++ brings
#               their runtimes)
#     fuzz      the libFuzzer targets with clang++-14 (scripts/fuzz.sh)
#     bench     the benchmarks: callgrind, the window on Xvfb (scripts/bench.sh)
#     package   the Debian packages without the tests, and lintian over them
#     all       every purpose above (what CI uses)
# Safe to run again: it only calls apt-get when something is missing.
set -euo pipefail

# The program itself: compiler, build tools, Qt and its plugins.
program=(g++ cmake ninja-build pkg-config ccache
         qt6-base-dev qt6-base-dev-tools qt6-serialport-dev libqt6serialport6 libqt6svg6
         libqt6sql6-sqlite libqt6sql6-psql)
tests=(libgtest-dev librapidcheck-dev)
# What the window wants beyond the libraries: its font, Qt's Russian texts.
window=(fonts-dejavu-core qt6-translations-l10n)
# The suite: the scratch PostgreSQL server of the library tests, python3 for
# the JSON of the provisioning script, desktop-file-validate, and cpack's
# helpers (dpkg-deb, dpkg-shlibdeps) for the packaging test; groff renders the
# manual page for its test; openssl makes the certificates of the TLS server.
suite=(postgresql-15 python3 desktop-file-utils dpkg-dev groff-base openssl)

packages_for() {
  case "$1" in
    build) echo "${program[@]}" "${tests[@]}" ;;
    run) echo "${program[@]}" "${tests[@]}" "${window[@]}" ;;
    test | sanitize) echo "${program[@]}" "${tests[@]}" "${window[@]}" "${suite[@]}" ;;
    loaded) echo "$(packages_for test)" stress-ng ;;
    fuzz) echo "${program[@]}" "${window[@]}" clang-14 libclang-rt-14-dev ;;
    bench) echo "${program[@]}" "${tests[@]}" "${window[@]}" valgrind xvfb xdotool imagemagick time ;;
    package) echo "${program[@]}" dpkg-dev lintian desktop-file-utils ;;
    all)
      local purpose
      for purpose in run test loaded sanitize fuzz bench package; do packages_for "$purpose"; done
      ;;
    *)
      echo "setup: unknown purpose $1 (build, run, test, loaded, sanitize, fuzz, bench, package or all)" >&2
      return 2
      ;;
  esac
}

[ $# -gt 0 ] || set -- all
wanted=()
for purpose in "$@"; do
  list="$(packages_for "$purpose")" || exit 2
  read -r -d '' -a words <<<"$list" || true
  wanted+=("${words[@]}")
done

missing=()
declare -A seen=()
for p in "${wanted[@]}"; do
  [ -z "${seen[$p]:-}" ] || continue
  seen[$p]=1
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

echo "setup ($*): installing ${missing[*]}" >&2
sudo_cmd=()
if [ "$(id -u)" -ne 0 ]; then
  sudo_cmd=(sudo)
fi
export DEBIAN_FRONTEND=noninteractive
"${sudo_cmd[@]}" apt-get update -qq
# Without recommends (as Debian's apt may already be set up); dpkg without a
# sync after every file, which is most of the time of a large install.
"${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends -o Dpkg::Options::=--force-unsafe-io \
  "${missing[@]}" >&2
