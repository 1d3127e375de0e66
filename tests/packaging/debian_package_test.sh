#!/usr/bin/env bash
# Builds the Debian package from the build folder into a scratch folder and checks its control
# fields, its file list and that both programs run from its unpacked contents.
#   debian_package_test.sh BUILD_DIR VERSION EXPECTED_FILES_LIST
set -euo pipefail
build=$1 version=$2 expected=$3
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

cpack --config "$build/CPackConfig.cmake" -G DEB -B "$scratch" >"$scratch/cpack.log" 2>&1 ||
  { cat "$scratch/cpack.log" >&2; fail "cpack"; }
deb="$scratch/magnet-finder_${version}_$(dpkg --print-architecture).deb"
[[ -f "$deb" ]] || fail "no $deb; cpack made: $(ls "$scratch")"

field() { dpkg-deb -f "$deb" "$1"; }
[[ $(field Package) == magnet-finder ]] || fail "Package: $(field Package)"
[[ $(field Version) == "$version" ]] || fail "Version: $(field Version)"
[[ $(field Section) == net ]] || fail "Section: $(field Section)"
[[ $(field Maintainer) =~ ^[^\<]+\ \<[^@\>]+@[^\>]+\>$ ]] || fail "Maintainer: $(field Maintainer)"
depends=$(field Depends)
[[ $depends == *libqt6widgets6* && $depends == *libcurl* ]] || fail "Depends: $depends"
# The window's texts are Chinese: a font for them is needed, not recommended.
[[ $depends == *"fonts-wqy-microhei | fonts-noto-cjk"* ]] || fail "Depends lacks a CJK font: $depends"
# A summary line, then a long description.
[[ $(field Description | wc -l) -ge 2 ]] || fail "Description: $(field Description)"

listing=$(dpkg-deb -c "$deb")
diff -u <(sed 's|^|./usr/|' "$expected") <(awk '$1 !~ /^d/ {print $6}' <<<"$listing" | LC_ALL=C sort) ||
  fail "the package's files differ from $expected"
owners=$(awk '{print $2}' <<<"$listing" | sort -u)
[[ $owners == root/root ]] || fail "files not owned by root: $owners"

dpkg-deb -x "$deb" "$scratch/root"
grep -q "Permission is hereby granted" "$scratch/root/usr/share/doc/magnet-finder/copyright" ||
  fail "the copyright file lacks the license"
[[ $("$scratch/root/usr/bin/magnet-finder-cli" --version) == "magnet-finder-cli $version" ]] ||
  fail "magnet-finder-cli --version"
# The window program answers --version before it looks for a display.
[[ $(env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM "$scratch/root/usr/bin/magnet-finder" \
  --version) == "magnet-finder $version" ]] || fail "magnet-finder --version"
