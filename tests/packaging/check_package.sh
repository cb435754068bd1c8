#!/usr/bin/env bash
# Builds the Debian packages from the build tree into a scratch directory and
# checks them: lintian without errors or warnings, the simulator in its own
# package, the translations recommended, the hardening in the program.
#   check_package.sh BUILD_DIR
# Skips (status 77) when cpack's helpers are missing; without lintian it builds
# and checks the packages all the same, then skips, saying so.
set -uo pipefail
build=$1
for tool in cpack dpkg-deb dpkg-shlibdeps; do
  command -v "$tool" >/dev/null || { echo "SKIP: $tool is not installed (bash scripts/setup.sh test installs it)"; exit 77; }
done
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

(cd "$build" && cpack -G DEB -B "$scratch" >"$scratch/cpack.log" 2>&1) || { cat "$scratch/cpack.log"; exit 1; }
main=$(ls "$scratch"/ostrelgsm4_*.deb 2>/dev/null)
sim=$(ls "$scratch"/ostrelgsm4-sim_*.deb 2>/dev/null)
[[ -f $main && -f $sim ]] || { ls "$scratch"; fail "expected ostrelgsm4 and ostrelgsm4-sim packages"; exit 1; }

main_files=$(dpkg-deb -c "$main" | awk '{print $6}')
sim_files=$(dpkg-deb -c "$sim" | awk '{print $6}')
grep -qx './usr/bin/ostrelgsm4' <<<"$main_files" || fail "ostrelgsm4 lacks /usr/bin/ostrelgsm4"
grep -qx './usr/lib/ostrelgsm4/ostrelgsm4-window' <<<"$main_files" || fail "ostrelgsm4 lacks its window's program"
grep -q 'panel-sim' <<<"$main_files" && fail "ostrelgsm4 holds the simulator"
grep -qx './usr/bin/ostrelgsm4-panel-sim' <<<"$sim_files" || fail "ostrelgsm4-sim lacks the simulator"
grep -q 'man1/ostrelgsm4-panel-sim.1.gz' <<<"$sim_files" || fail "ostrelgsm4-sim lacks its manual page"
grep -q 'bash-completion/completions/ostrelgsm4$' <<<"$main_files" || fail "no bash completion"
for deb in "$main" "$sim"; do
  pkg=$(dpkg-deb -f "$deb" Package)
  files=$(dpkg-deb -c "$deb")
  grep -q "usr/share/doc/$pkg/copyright$" <<<"$files" || fail "$pkg lacks its copyright file"
  grep -q "usr/share/doc/$pkg/changelog.gz$" <<<"$files" || fail "$pkg lacks its changelog"
done
[[ $(dpkg-deb -f "$main" Recommends) == *qt6-translations-l10n* ]] || fail "qt6-translations-l10n not recommended"
[[ $(dpkg-deb -f "$main" Depends) != *qt6-translations-l10n* ]] || fail "qt6-translations-l10n is a dependency"
# A field's packages, one a line, without versions or alternatives' bars.
field() { dpkg-deb -f "$1" "$2" | tr ',|' '\n\n' | sed 's/(.*)//; s/^ *//; s/ *$//'; }
grep -qx 'libqt6sql6-sqlite' <(field "$main" Depends) || fail "the SQLite driver of the site library is not a dependency"
grep -qx 'libqt6sql6-psql' <(field "$main" Recommends) || fail "the PostgreSQL driver is not recommended"
grep -qx 'libqt6sql6-psql' <(field "$main" Depends) && fail "the PostgreSQL driver is a dependency"
[[ $(dpkg-deb -f "$main" Maintainer) != *example* ]] || fail "example address as maintainer"

# lintian, with the tags it finds; errors and warnings fail.
if ! command -v lintian >/dev/null; then
  [[ $failures -eq 0 ]] || exit 1
  echo "SKIP: lintian is not installed (bash scripts/setup.sh package installs it):" \
       "the packages were built and their contents checked, but lintian did not check them"
  exit 77
fi
lintian --fail-on error,warning "$main" "$sim" >"$scratch/lintian.log" 2>&1
status=$?
cat "$scratch/lintian.log"
[[ $status -eq 0 ]] || fail "lintian reported errors or warnings"

[[ $failures -eq 0 ]] && echo "packages pass"
exit $((failures > 0))
