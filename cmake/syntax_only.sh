#!/bin/sh
# Compiler launcher for checks that need no object code (a header compiling on its own): the
# compiler only parses (-fsyntax-only, still writing the dependency file) and an empty object
# stands in for the build's bookkeeping. Called as: syntax_only.sh [launcher] compiler args...
set -e
out=""
prev=""
for arg in "$@"; do
  [ "$prev" = "-o" ] && out="$arg"
  prev="$arg"
done
"$@" -fsyntax-only
[ -z "$out" ] || : > "$out"
