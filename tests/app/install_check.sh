#!/usr/bin/env bash
# Installs the built program into a staging folder and checks what a desktop and a user see: the
# layout, a stripped program, the desktop entry and the metainfo as their validators read them,
# the document type registered for "*.orrery", and the installed program finding its resources
# (--version reads the bundle's facts), refusing a bad argument and starting with no window system
# but the offscreen one.
set -euo pipefail
build="${1:?build folder}"
source_dir="${2:?source folder}"
need() { command -v "$1" >/dev/null || { echo "missing $1: apt-get install $2" >&2; exit 1; }; }
need desktop-file-validate desktop-file-utils
need update-mime-database shared-mime-info
need appstreamcli appstream
need readelf binutils
stage="$(mktemp -d)"
pid=""
trap '[ -z "$pid" ] || kill "$pid" 2>/dev/null || true; rm -rf "$stage"' EXIT
DESTDIR="$stage" cmake --install "$build" --prefix /usr --strip >/dev/null
prefix="$stage/usr"
id=org.orrery.Orrery
fail() { echo "FAILED: $*" >&2; exit 1; }

for f in bin/orrery lib/orrery/orrery_web.so share/orrery/sdk/Info.plist share/orrery/home_icon.png \
         share/applications/$id.desktop share/mime/packages/$id.xml share/metainfo/$id.metainfo.xml \
         share/man/man1/orrery.1 share/icons/hicolor/scalable/apps/$id.svg; do
  test -f "$prefix/$f" || fail "$f is not installed"
done
for size in 16 22 24 32 48 64 128 256 512; do
  icon="$prefix/share/icons/hicolor/${size}x${size}/apps/$id.png"
  test -f "$icon" || fail "no ${size} px icon"
  file_size=$(od -An -tu1 -j16 -N8 "$icon" | awk '{ print $3 * 256 + $4 "x" $7 * 256 + $8 }')
  [ "$file_size" = "${size}x${size}" ] || fail "the ${size} px icon is $file_size"
done
! readelf -S "$prefix/bin/orrery" | grep -q '\.debug_info' || fail "the installed program is not stripped"
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
grep -q "<release version=\"$version\"" "$prefix/share/metainfo/$id.metainfo.xml" || fail "metainfo release"

test ! -e "$prefix/share/mime/globs2" || fail "install refreshed the MIME database in a staging folder"
"$source_dir/scripts/refresh-desktop-databases.sh" "$prefix"
grep -q 'application/x-orrery:\*\.orrery' "$prefix/share/mime/globs2" || fail "MIME glob"
test -f "$prefix/share/mime/application/x-orrery.xml" || fail "MIME type"

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
# A real start: the running instance listens for later launches; SIGTERM ends it cleanly.
(cd "$stage" && run) &
pid=$!
for _ in $(seq 600); do
  [ -S "$home/runtime/orrery.socket" ] && break
  kill -0 "$pid" 2>/dev/null || fail "the installed program ended at start-up"
  sleep 0.1
done
[ -S "$home/runtime/orrery.socket" ] || fail "the installed program did not start"
kill -TERM "$pid"
wait "$pid" || fail "the installed program ended with $? on SIGTERM"
pid=""
echo "installed and registered"
