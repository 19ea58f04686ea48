#!/usr/bin/env python3
"""Every text the user reads in a notice, an alert, a choice menu or a window title comes through
Globals' normalLocalizedStringForKey (or a helper that calls it), never straight from a literal.
The platform layers under Globals, the SDK and the crash reporter are not checked. Prints each
call that hands a literal to one of those places."""
import os
import re
import sys

SINKS = r"showNotice|showShortNotificationToUser|CustomAlertView(?:\s+\w+)?|addButton|setTitle|setLabelText"
LITERAL = r"QStringLiteral\(|QString::fromLatin1\(|QString::fromUtf8\(|QLatin1String\(|\""
CALL = re.compile(rf"\b({SINKS})\(\s*({LITERAL})")
UNCHECKED = ("platform", "sdk", "crash")


def problems(text):
    """(line number, sink) for every sink handed a literal in `text`."""
    found = []
    for match in CALL.finditer(text):
        found.append((text.count("\n", 0, match.start()) + 1, match.group(1).split()[0]))
    return found


def check(src):
    out = []
    for root, dirs, files in os.walk(src):
        relative = os.path.relpath(root, src)
        if relative.split(os.sep)[0] in UNCHECKED:
            dirs[:] = []
            continue
        for name in sorted(files):
            if not name.endswith(".cpp"):
                continue
            path = os.path.join(root, name)
            with open(path, encoding="utf-8") as f:
                for line, sink in problems(f.read()):
                    out.append(f"{os.path.relpath(path, src)}:{line}: {sink} shows a literal, not Globals' text")
    return out


def main():
    found = check(sys.argv[1])
    for line in found:
        print(line)
    return 1 if found else 0


if __name__ == "__main__":
    sys.exit(main())
