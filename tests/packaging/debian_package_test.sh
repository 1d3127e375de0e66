#!/usr/bin/env bash
# Builds the Debian package from the build folder into a scratch folder and checks its control
# fields, its file list, that both programs run from its unpacked contents and, where lintian is
# installed and the build has Debian's hardening flags (HARDENED is ON), that lintian finds no
# error and no warning.
#   debian_package_test.sh BUILD_DIR VERSION EXPECTED_FILES_LIST [HARDENED]
set -euo pipefail
build=$1 version=$2 expected=$3 hardened=${4:-OFF}
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
# XML answers are read with the shared pugixml library.
[[ $depends == *libpugixml* ]] || fail "Depends lacks pugixml: $depends"
# The window's texts are Chinese: a font for them is needed, not recommended.
[[ $depends == *"fonts-wqy-microhei | fonts-noto-cjk"* ]] || fail "Depends lacks a CJK font: $depends"
# The bundled sites answer over https, checked against the system's certificate authorities.
[[ $depends == *ca-certificates* ]] || fail "Depends lacks ca-certificates: $depends"
# Without the toolkit's translations the edit boxes' menus are English: recommended.
[[ $(field Recommends) == *qt6-translations-l10n* ]] || fail "Recommends: $(field Recommends)"
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
[[ $(zcat "$scratch/root/usr/share/doc/magnet-finder/changelog.gz" | head -1) == \
  "magnet-finder ($version) "* ]] || fail "the changelog does not begin with $version"
[[ $("$scratch/root/usr/bin/magnet-finder-cli" --version) == "magnet-finder-cli $version" ]] ||
  fail "magnet-finder-cli --version"
# The window program answers --version before it looks for a display.
[[ $(env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM "$scratch/root/usr/bin/magnet-finder" \
  --version) == "magnet-finder $version" ]] || fail "magnet-finder --version"

# Debian's own checks: no error or warning, and none of its notes on missing hardening (which
# a sanitizer build lacks by design).
if command -v lintian >/dev/null && [[ $hardened == ON ]]; then
  lintian --info --fail-on error,warning "$deb" >"$scratch/lintian.log" 2>&1 &&
    ! grep -q ' hardening-' "$scratch/lintian.log" ||
    fail "lintian: $(grep -v '^running with root privileges' "$scratch/lintian.log")"
fi
