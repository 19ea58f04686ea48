#!/usr/bin/env python3
"""Fails when a file under src/ includes a folder above its own in the layering of
docs/architecture.md, when a Qt-free folder includes Qt, or when the application reaches into the
SDK or the crash reporter past their public start-up headers. Every folder under src/ is placed;
a new folder that fits no layer is reported, so the table is kept up to date.

Usage: check_layering.py <src folder>
"""
import os
import re
import sys

# The application's layers, lowest first. A folder may include its own layer and those before it.
APP_LAYERS = ["platform", "foundation", "model", "cloud", "shell", "editor", "panels", "graph", "export",
              "editor_screen", "home", "app"]
# Within platform: the Qt-free core and network layer, then the Qt services, then the rest.
PLATFORM_LAYERS = ["platform/core", "platform/net", "platform/services"]
# The telemetry side, which never uses Qt; it stands on platform core and net only.
SDK_LAYERS = ["sdk", "crash"]
QT_FREE = ("platform/core", "platform/net", "sdk", "crash")
# What the application may include of the SDK and the crash reporter.
PUBLIC_HEADERS = {"sdk/startup/telemetry.h", "sdk/analytics/analytics.h", "crash/crash_kit.h"}

INCLUDE = re.compile(r'^\s*#\s*include\s*([<"])([^>"]+)[>"]', re.M)
SOURCE = (".h", ".hpp", ".cpp", ".cc")


def folder_of(path):
    """The layer a path (relative to src/) belongs to, as a key of rank(); None for unknown."""
    parts = path.split("/")
    if parts[0] == "platform" and len(parts) > 2:
        return "platform/" + parts[1]
    if parts[0] == "foundation" and len(parts) > 2 and parts[1] == "views":
        return "foundation/views"
    return parts[0] if len(parts) > 1 else None


def rank(folder):
    """(side, position): the side is "app" or "sdk"; a larger position is a higher layer."""
    if folder.startswith("platform/"):
        sub = PLATFORM_LAYERS.index(folder) if folder in PLATFORM_LAYERS else len(PLATFORM_LAYERS)
        return ("app", sub / 10.0)
    if folder == "foundation/views":
        return ("app", APP_LAYERS.index("foundation") + 0.5)
    if folder in APP_LAYERS:
        return ("app", float(APP_LAYERS.index(folder)))
    if folder in SDK_LAYERS:
        return ("sdk", float(SDK_LAYERS.index(folder)))
    return None


def may_include(own, other, included):
    if own == other:
        return True
    mine, theirs = rank(own), rank(other)
    if own in QT_FREE:
        # The Qt-free side sees platform core and net below it, and its own chain.
        if other in ("platform/core", "platform/net"):
            return mine[0] == "sdk" or theirs[1] <= mine[1]
        return mine[0] == "sdk" and theirs[0] == "sdk" and theirs[1] <= mine[1]
    if theirs[0] == "sdk":
        return own == "app" and included in PUBLIC_HEADERS
    return theirs[1] <= mine[1]


def check(src):
    problems = []
    for root, _, files in os.walk(src):
        for name in sorted(files):
            if not name.endswith(SOURCE):
                continue
            path = os.path.relpath(os.path.join(root, name), src).replace(os.sep, "/")
            own = folder_of(path)
            if own is None or rank(own) is None:
                problems.append(f"{path}: folder '{own}' has no place in the layering table")
                continue
            with open(os.path.join(root, name), encoding="utf-8", errors="replace") as f:
                text = f.read()
            for match in INCLUDE.finditer(text):
                kind, included = match.groups()
                line = text.count("\n", 0, match.start()) + 1
                if kind == "<":
                    if own in QT_FREE and re.match(r"Q[A-Za-z]*(/|$)", included):
                        problems.append(f"{path}:{line}: includes Qt <{included}> in a folder that never uses Qt")
                    continue
                other = folder_of(included)
                if other is None or rank(other) is None or not os.path.exists(os.path.join(src, included)):
                    continue  # a file beside it or outside src/
                if not may_include(own, other, included):
                    problems.append(f"{path}:{line}: {own} includes \"{included}\" of {other}, which it may not use")
    return problems


def main():
    if len(sys.argv) != 2:
        print(__doc__)
        return 2
    problems = check(sys.argv[1])
    for p in problems:
        print(p)
    print(f"{len(problems)} layering problem(s)")
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
