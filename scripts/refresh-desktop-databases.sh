#!/usr/bin/env bash
# Refreshes the desktop-entry and shared-mime-info databases under an installed prefix
# (DESTDIR included), when their tools are installed; a missing tool is only reported.
set -euo pipefail
root="${1:?usage: refresh-desktop-databases.sh <installed prefix>}"
if command -v update-mime-database >/dev/null 2>&1; then
  update-mime-database "$root/share/mime"
else
  echo "update-mime-database not found (shared-mime-info): the document type is registered at next login" >&2
fi
if command -v update-desktop-database >/dev/null 2>&1; then
  update-desktop-database -q "$root/share/applications"
else
  echo "update-desktop-database not found (desktop-file-utils): skipped" >&2
fi
