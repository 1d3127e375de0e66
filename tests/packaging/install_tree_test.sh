#!/usr/bin/env bash
# Installs the build into a fresh prefix and checks what a desktop finds there: exactly the
# expected files, a valid desktop entry and metainfo, man pages that render cleanly and name every
# option of their program's --help, and a command-line program that runs from the prefix and
# finds its bundled site definitions there.
#   install_tree_test.sh BUILD_DIR VERSION EXPECTED_FILES_LIST
set -euo pipefail
build=$1 version=$2 expected=$3
prefix=$(mktemp -d)
trap 'rm -rf "$prefix"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

cmake --install "$build" --prefix "$prefix" >/dev/null
diff -u "$expected" <(cd "$prefix" && find . ! -type d | sed 's|^\./||' | LC_ALL=C sort) ||
  fail "the installed files differ from $expected"

id=io.github.magnetfinder.MagnetFinder
desktop-file-validate "$prefix/share/applications/$id.desktop" || fail "desktop entry"
appstreamcli validate --no-net "$prefix/share/metainfo/$id.metainfo.xml" || fail "metainfo"

for program in magnet-finder magnet-finder-cli; do
  page="$prefix/share/man/man1/$program.1.gz"
  rendered=$(zcat "$page" | LC_ALL=C.UTF-8 groff -k -man -Tutf8 -P-cbou -ww 2>"$prefix/warnings")
  [[ ! -s "$prefix/warnings" ]] || fail "$page: $(cat "$prefix/warnings")"
  for option in $("$prefix/bin/$program" --help | grep -o -- '--[a-z][a-z-]*' | sort -u); do
    grep -q -- "$option" <<<"$rendered" || fail "$page does not name $option"
  done
done

[[ $("$prefix/bin/magnet-finder-cli" --version) == "magnet-finder-cli $version" ]] ||
  fail "the installed magnet-finder-cli --version does not say $version"

XDG_DATA_HOME="$prefix/no-user-sites" "$prefix/bin/magnet-finder-cli" site test >"$prefix/sites" ||
  fail "the installed site definitions do not pass their tests: $(cat "$prefix/sites")"
grep -q "$prefix/share/magnet-finder/sites/cilisousuo.yaml" <("$prefix/bin/magnet-finder-cli" sites) ||
  fail "the installed magnet-finder-cli does not find its bundled site definitions"
