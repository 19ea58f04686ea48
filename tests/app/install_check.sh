#!/usr/bin/env bash
# Installs the built program into a staging folder and checks what a desktop and a user see: the
# layout, a stripped and hardened program, the desktop entry and the metainfo as their validators
# read them, the manual page as man reads it (and that it follows the prefix and names what the
# program reads from its environment), the document type as the MIME database records it, and the
# installed program finding its resources (--version reads the bundle's facts), refusing a bad
# argument and starting with no window system but the offscreen one.
set -euo pipefail
build="${1:?build folder}"
source_dir="${2:?source folder}"
need() { command -v "$1" >/dev/null || { echo "missing $1: apt-get install $2" >&2; exit 1; }; }
need desktop-file-validate desktop-file-utils
need update-mime-database shared-mime-info
need appstreamcli appstream
need readelf binutils
need man man-db
need dpkg-parsechangelog dpkg-dev
stage="$(mktemp -d)"
pid=""
trap '[ -z "$pid" ] || kill "$pid" 2>/dev/null || true; rm -rf "$stage"' EXIT
# Where `make install` puts it by default.
install_prefix=/usr/local
DESTDIR="$stage" cmake --install "$build" --prefix "$install_prefix" --strip >/dev/null
prefix="$stage$install_prefix"
id=org.orrery.Orrery
fail() { echo "FAILED: $*" >&2; exit 1; }

for f in bin/orrery share/orrery/sdk/Info.plist share/orrery/home_icon.png \
         share/applications/$id.desktop share/mime/packages/$id.xml share/metainfo/$id.metainfo.xml \
         share/man/man1/orrery.1.gz share/icons/hicolor/scalable/apps/$id.svg \
         share/icons/hicolor/scalable/mimetypes/application-x-orrery.svg \
         share/doc/orrery/copyright share/doc/orrery/changelog.gz; do
  test -f "$prefix/$f" || fail "$f is not installed"
done
# The private web module sits in the program's own folder of the multiarch library folder.
arch=$(gcc -print-multiarch 2>/dev/null || true)
module="lib/${arch:+$arch/}orrery/orrery_web.so"
test -f "$prefix/$module" || fail "$module is not installed: $(cd "$prefix" && find . -name 'orrery_web.so')"
for size in 16 22 24 32 48 64 128 256 512; do
  for icon in apps/$id.png mimetypes/application-x-orrery.png; do
    icon="$prefix/share/icons/hicolor/${size}x${size}/$icon"
    test -f "$icon" || fail "no ${size} px $icon"
    file_size=$(od -An -tu1 -j16 -N8 "$icon" | awk '{ print $3 * 256 + $4 "x" $7 * 256 + $8 }')
    [ "$file_size" = "${size}x${size}" ] || fail "the ${size} px $icon is $file_size"
  done
done

# The manual page and the changelog as Debian keeps them: compressed at the best level without a
# name or time, so the same text always gives the same bytes.
for f in share/man/man1/orrery.1.gz share/doc/orrery/changelog.gz; do
  [ "$(gzip -dc "$prefix/$f" | gzip -9n | cmp - "$prefix/$f" && echo same)" = same ] || fail "$f is not compressed with gzip -9n"
done
manual=$(MANWIDTH=200 man --warnings -l "$prefix/share/man/man1/orrery.1.gz" 2>"$stage/man-warnings")
[ ! -s "$stage/man-warnings" ] || fail "the manual page has warnings: $(cat "$stage/man-warnings")"
for expected in ENVIRONMENT "SEE ALSO" orrery.lock ' --  ' "$install_prefix/share/orrery" \
                "$install_prefix/$module"; do
  grep -qF -- "$expected" <<<"$manual" || fail "the manual page does not mention '$expected'"
done
# It names the folders of this install (under make install's prefix), no others.
! grep -E '(^|[^.])/usr/' <<<"${manual//$install_prefix\//}" || fail "the manual page names folders outside $install_prefix"
# It names every variable the program reads: those its code asks for by name or keeps in lists
# (base folders, locale), the display, and the reporting kits' overrides, which are named by
# their keys.
read_variables=$(cd "$source_dir/src" && {
  grep -rhoE '(getenv|qgetenv|qEnvironmentVariable[A-Za-z]*)\("[A-Za-z_][A-Za-z0-9_]*"' . | sed -E 's/.*\("//; s/"$//'
  grep -rhoE '"(ORRERY_[A-Z_]+|XDG_[A-Z_]+|LC_[A-Z]+|LANG|QT[A-Z_]*)"' . | tr -d '"'
  grep -rhoE 'valueForConfigurationKey\("[A-Za-z]+"' crash | sed -E 's/.*\("/CrashKit/; s/"$//'
  grep -rhoE 'EndpointKey = "[A-Za-z]+"' sdk | sed -E 's/.*= "//; s/"$//'
  echo DISPLAY
} | sort -u)
[ "$(wc -l <<<"$read_variables")" -gt 25 ] || fail "too few variables found in the sources: $read_variables"
for variable in $read_variables; do
  grep -qw -- "$variable" <<<"$manual" || fail "the manual page does not name the variable $variable"
done
! grep -qi 'translation' <<<"$manual" || fail "the manual page speaks of translations"
gzip -dc "$prefix/share/doc/orrery/changelog.gz" >"$stage/changelog"
changelog_date=$(dpkg-parsechangelog -l "$stage/changelog" -S Timestamp)
changelog_version=$(dpkg-parsechangelog -l "$stage/changelog" -S Version)
release_date=$(date -u -d "@$changelog_date" +%Y-%m-%d)
! readelf -S "$prefix/bin/orrery" | grep -q '\.debug_info' || fail "the installed program is not stripped"
"$source_dir/scripts/check-hardening.sh" "$prefix/bin/orrery" "$prefix/$module" >/dev/null || fail "the installed program is not hardened"
[ -z "$(find "$prefix" -name 'test_*' -o -name 'bench_*')" ] || fail "tests or benchmarks installed"

desktop="$prefix/share/applications/$id.desktop"
desktop-file-validate "$desktop"
grep -qx 'Exec=orrery %U' "$desktop" || fail "Exec"
grep -qx "Icon=$id" "$desktop" || fail "Icon"
# The window's class is the application's name; its desktop file name is this entry's.
grep -qx 'StartupWMClass=Orrery' "$desktop" || fail "StartupWMClass"
grep -q 'x-scheme-handler/db-' "$desktop" || fail "the sign-in redirect scheme"
appstreamcli validate --no-net "$prefix/share/metainfo/$id.metainfo.xml" >/dev/null ||
  fail "$(appstreamcli validate --no-net "$prefix/share/metainfo/$id.metainfo.xml")"
version=$(sed -n 's/^project(Orrery VERSION \([0-9.]*\).*/\1/p' "$source_dir/CMakeLists.txt")
[ "$changelog_version" = "$version" ] || fail "the changelog's last entry is $changelog_version, not $version"
grep -q "<release version=\"$version\" date=\"$release_date\"" "$prefix/share/metainfo/$id.metainfo.xml" ||
  fail "metainfo release: $(grep '<release ' "$prefix/share/metainfo/$id.metainfo.xml"), the changelog's is $release_date"

test ! -e "$prefix/share/mime/globs2" || fail "install refreshed the MIME database in a staging folder"
"$source_dir/scripts/refresh-desktop-databases.sh" "$prefix"
grep -q 'application/x-orrery:\*\.orrery' "$prefix/share/mime/globs2" || fail "MIME glob"
test -f "$prefix/share/mime/application/x-orrery.xml" || fail "MIME type"
# What the shared MIME database knows of a map besides its name: a zlib stream, recognised by its
# header without the extension, drawn with its own icon.
grep -qx 'application/x-orrery application/zlib' "$prefix/share/mime/subclasses" || fail "MIME parent"
grep -qx 'application/x-orrery:application-x-orrery' "$prefix/share/mime/icons" || fail "MIME icon"
grep -qx 'application/x-orrery:x-office-document' "$prefix/share/mime/generic-icons" || fail "MIME generic icon"
grep -aq 'application/x-orrery' "$prefix/share/mime/magic" || fail "MIME magic"

# The installed program, in a fresh home, away from the build and the source tree.
home="$stage/home"
mkdir -p "$home"/{config,data,cache,runtime,tmp}
chmod 700 "$home/runtime"
# Only ever called in a subshell: exec leaves the program itself as the subshell's process.
run() {
  exec env -i PATH=/usr/bin:/bin HOME="$home" XDG_CONFIG_HOME="$home/config" XDG_DATA_HOME="$home/data" \
    XDG_CACHE_HOME="$home/cache" XDG_RUNTIME_DIR="$home/runtime" TMPDIR="$home/tmp" \
    QT_QPA_PLATFORM=offscreen "$prefix/bin/orrery" "$@"
}
out=$(cd "$stage" && run --version) || fail "--version"
[[ "$out" == "Orrery $version ("* ]] || fail "--version said: $out"
out=$(cd "$stage" && run --help) || fail "--help"
[[ "$out" == "Usage: orrery"* ]] || fail "--help said: $out"
set +e
err=$(cd "$stage" && run missing.orrery 2>&1 >/dev/null)
status=$?
set -e
[ $status -eq 2 ] || fail "a missing file ended with $status"
[[ "$err" == *"'missing.orrery': no such file or folder"* ]] || fail "the refusal said: $err"
set +e
err=$(cd "$stage" && run file:///missing.orrery 2>&1 >/dev/null)
status=$?
set -e
[ $status -eq 2 ] || fail "a file: URL of a missing file ended with $status"
[[ "$err" == *"'file:///missing.orrery': no such file or folder"* ]] || fail "the refusal said: $err"
# A real start: the running instance listens for later launches; SIGTERM ends it cleanly.
# It waits until crash reporting has made its folder (telemetry starts after the first frame).
(cd "$stage" && run 2>"$stage/start.err") &
pid=$!
reports="$home/cache/org.orrery.telemetry.data"
for _ in $(seq 600); do
  [ -S "$home/runtime/orrery.socket" ] && [ -d "$reports" ] && break
  kill -0 "$pid" 2>/dev/null || fail "the installed program ended at start-up: $(cat "$stage/start.err")"
  sleep 0.1
done
[ -S "$home/runtime/orrery.socket" ] || fail "the installed program did not start"
[ -d "$reports" ] || fail "crash reporting did not start"
kill -TERM "$pid"
wait "$pid" || fail "the installed program ended with $? on SIGTERM"
pid=""
# A start and a clean quit tell the terminal nothing (the offscreen platform's own notes aside).
said=$(grep -v -E '^This plugin does not support' "$stage/start.err" || true)
[ -z "$said" ] || fail "the start and quit wrote to the terminal: $said"
# A clean exit leaves neither its lock and socket nor a private temporary folder.
left=$(cd "$home" && find runtime tmp -mindepth 1)
[ -z "$left" ] || fail "left behind after a clean exit: $left"
echo "installed and registered"
