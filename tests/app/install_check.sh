#!/usr/bin/env bash
# Installs the built program into a temporary DESTDIR and checks what the desktop sees: the
# desktop entry validates, the document type is registered for "*.orrery", the program and its
# resources are where the program looks for them.
set -euo pipefail
build="${1:?build folder}"
source_dir="${2:?source folder}"
for tool in desktop-file-validate update-mime-database; do
  command -v "$tool" >/dev/null || { echo "missing $tool: apt-get install desktop-file-utils shared-mime-info" >&2; exit 1; }
done
dest="$(mktemp -d)"
trap 'rm -rf "$dest"' EXIT
DESTDIR="$dest" cmake --install "$build" --prefix /usr >/dev/null
prefix="$dest/usr"
test -x "$prefix/bin/orrery"
test -f "$prefix/share/orrery/sdk/Info.plist"
test -f "$prefix/share/orrery/home_icon.png"
test -f "$prefix/share/icons/hicolor/128x128/apps/org.orrery.Orrery.png"
desktop-file-validate "$prefix/share/applications/org.orrery.Orrery.desktop"
grep -q '^Exec=orrery %U$' "$prefix/share/applications/org.orrery.Orrery.desktop"
grep -q 'x-scheme-handler/db-' "$prefix/share/applications/org.orrery.Orrery.desktop"
"$source_dir/scripts/refresh-desktop-databases.sh" "$prefix"
grep -q 'application/x-orrery:\*\.orrery' "$prefix/share/mime/globs2"
test -f "$prefix/share/mime/application/x-orrery.xml"
echo "installed and registered"
