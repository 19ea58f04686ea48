#!/usr/bin/env bash
# Checks that a built program carries the hardening Debian gives its packages, as its ELF files
# show it: a position-independent program, read-only relocations bound at start (GNU_RELRO and
# BIND_NOW), the stack protector (__stack_chk_fail) and fortified calls of the C library
# (__*_chk). A module that calls no function the C library fortifies has no __*_chk symbol, so
# only the program is held to that. Names every lack and fails when there is one.
#   check-hardening.sh PROGRAM [MODULE...]
set -euo pipefail
program="${1:?program}"
command -v readelf >/dev/null || { echo "missing readelf: apt-get install binutils" >&2; exit 1; }
lacks=()
for file in "$@"; do
  [ -f "$file" ] || { echo "no such file: $file" >&2; exit 1; }
  header=$(readelf -hW "$file")
  segments=$(readelf -lW "$file")
  dynamic=$(readelf -dW "$file")
  symbols=$(readelf --dyn-syms -W "$file" | awk '$7 == "UND" { sub(/@.*/, "", $8); print $8 }')
  [ "$file" != "$program" ] || grep -q 'Type: *DYN' <<<"$header" || lacks+=("$file: not position-independent")
  grep -q 'GNU_RELRO' <<<"$segments" || lacks+=("$file: no read-only relocations (GNU_RELRO)")
  grep -Eq '\(FLAGS\) .*BIND_NOW|\(FLAGS_1\) .*\bNOW\b' <<<"$dynamic" || lacks+=("$file: relocations not bound at start (BIND_NOW)")
  grep -qx '__stack_chk_fail' <<<"$symbols" || lacks+=("$file: no stack protector (__stack_chk_fail)")
  [ "$file" != "$program" ] || grep -Eq '^__[a-z0-9_]+_chk$' <<<"$(grep -vx '__stack_chk_fail' <<<"$symbols")" ||
    lacks+=("$file: no fortified calls (_FORTIFY_SOURCE: __*_chk)")
done
if [ ${#lacks[@]} -gt 0 ]; then
  printf 'not hardened: %s\n' "${lacks[@]}" >&2
  exit 1
fi
echo "hardened: $*"
