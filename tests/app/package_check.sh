#!/usr/bin/env bash
# Builds the Debian package from the build folder (as `make package` does) into a scratch folder
# and reads it back: its control fields and dependencies (found by dpkg-shlibdeps), that it holds
# the program under /usr with its desktop files and nothing of the tests, that it runs nothing at
# install or removal, that the program is hardened, and what lintian says of it.
set -euo pipefail
build="${1:?build folder}"
need() { command -v "$1" >/dev/null || { echo "missing $1: apt-get install $2" >&2; exit 1; }; }
need cpack cmake
need dpkg-deb dpkg
need dpkg-shlibdeps dpkg-dev
out="$(mktemp -d)"
trap 'rm -rf "$out"' EXIT
cpack --config "$build/CPackConfig.cmake" -G DEB -B "$out" >"$out/cpack.log" 2>&1 || { cat "$out/cpack.log" >&2; exit 1; }
deb=$(ls "$out"/orrery_*.deb)
fail() { echo "FAILED: $*" >&2; exit 1; }

info=$(dpkg-deb -I "$deb")
field() { printf '%s\n' "$info" | sed -n "s/^ $1: //p"; }
[ "$(field Package)" = orrery ] || fail "Package"
[ "$(field Architecture)" = "$(dpkg --print-architecture)" ] || fail "Architecture"
depends=$(field Depends)
# What the program links, as the system's packages name it, the fonts it maps by name and the
# plugin that reads the TIFF pictures its open panels offer.
for package in libc6 libstdc++6 libqt6core6 libqt6gui6 libqt6widgets6 libcurl4 libssl3 zlib1g libminizip1 \
               libsimdjson14 fonts-dejavu-core fonts-liberation2 fonts-noto-color-emoji qt6-image-formats-plugins; do
  [[ ",$depends," == *", $package"[\ \(,]* || "$depends" == "$package"[\ \(,]* ]] || fail "no dependency on $package: $depends"
done

files=$(dpkg-deb -c "$deb" | awk '{ print $6 }')
arch=$(dpkg-architecture -qDEB_HOST_MULTIARCH)
for f in ./usr/bin/orrery ./usr/lib/$arch/orrery/orrery_web.so ./usr/share/orrery/sdk/Info.plist \
         ./usr/share/applications/org.orrery.Orrery.desktop ./usr/share/mime/packages/org.orrery.Orrery.xml \
         ./usr/share/metainfo/org.orrery.Orrery.metainfo.xml ./usr/share/man/man1/orrery.1.gz \
         ./usr/share/doc/orrery/copyright ./usr/share/doc/orrery/changelog.gz \
         ./usr/share/icons/hicolor/512x512/apps/org.orrery.Orrery.png \
         ./usr/share/icons/hicolor/scalable/apps/org.orrery.Orrery.svg; do
  grep -qx "$f" <<<"$files" || fail "the package lacks $f"
done
! grep -Eq '^\./usr/local|/test_|/bench_|\.a$' <<<"$files" || fail "the package holds files it should not: $(grep -E '^\./usr/local|/test_|/bench_|\.a$' <<<"$files" | head -3)"
mkdir "$out/root"
dpkg-deb -x "$deb" "$out/root"
! readelf -S "$out/root/usr/bin/orrery" | grep -q '\.debug_info' || fail "the packaged program is not stripped"
# The manual page names the package's folders.
gzip -dc "$out/root/usr/share/man/man1/orrery.1.gz" | grep -q "^\.I /usr/lib/$arch/orrery/orrery_web.so$" ||
  fail "the packaged manual page does not name the module under /usr"
# Nothing runs at install or removal: the control part holds only the control file and the sums.
mkdir "$out/control"
dpkg-deb -e "$deb" "$out/control"
scripts=$(cd "$out/control" && ls | grep -vx -e control -e md5sums || true)
[ -z "$scripts" ] || fail "the package has maintainer scripts or triggers: $scripts"
# The packaged program carries Debian's hardening, whatever lintian shows of it.
"$(dirname "$0")/../../scripts/check-hardening.sh" "$out/root/usr/bin/orrery" "$out/root/usr/lib/$arch/orrery/orrery_web.so" >/dev/null ||
  fail "the packaged program is not hardened"
# What a Debian packager checks: no error and no warning, and nothing of the hardening missing.
# Skipped where lintian is not installed ('make deps' installs it).
if command -v lintian >/dev/null; then
  lintian --no-cfg --fail-on error,warning --display-info "$deb" >"$out/lintian.log" 2>&1 ||
    fail "lintian: $(grep -E '^[EW]:' "$out/lintian.log" || cat "$out/lintian.log")"
  ! grep -E '^[EW]:' "$out/lintian.log" || fail "lintian found errors or warnings"
  ! grep -E 'hardening-' "$out/lintian.log" || fail "lintian finds some hardening missing"
else
  echo "lintian is not installed: the package's policy check is skipped" >&2
fi
echo "package $(basename "$deb") checked"
