#!/usr/bin/env python3
"""Runs the start-up benchmarks and prints their figures, each beside the floor measured in
the same run, as the table docs/architecture.md carries; with --write it puts the table between
the markers in docs/architecture.md instead (what `make bench` does).

usage: bench_table.py [BUILD_DIR] [--write]   (BUILD_DIR defaults to build/release)
"""

import json
import pathlib
import subprocess
import sys

ROOT = pathlib.Path(__file__).resolve().parent.parent
DOC = ROOT / "docs" / "architecture.md"
BEGIN = "<!-- start-up figures: scripts/bench_table.py -->"
END = "<!-- end of start-up figures -->"


def medians(program):
    """Median real time in ms of each benchmark (by name up to its first '/' argument)."""
    out = subprocess.run(
        [str(program), "--benchmark_format=json", "--benchmark_repetitions=3",
         "--benchmark_report_aggregates_only=true"],
        check=True, capture_output=True, text=True).stdout
    scale = {"ns": 1e-6, "us": 1e-3, "ms": 1.0, "s": 1e3}
    found = {}
    for b in json.loads(out)["benchmarks"]:
        if b.get("aggregate_name") != "median":
            continue
        parts = b["run_name"].split("/")
        name = "/".join(p for p in parts if not p.startswith(("iterations:", "manual_time", "repeats:")))
        found[name] = b["real_time"] * scale[b["time_unit"]]
        # Launches paired with a floor launch right before each report the ratio themselves.
        for counter in ("ratio", "floor_ms"):
            if counter in b:
                found[f"{name}:{counter}"] = b[counter]
    return found


def paired(m, name):
    return f"{m[name + ':ratio']:.2f}× its floor ({m[name + ':floor_ms']:.0f} ms)"


def table(m):
    bare = m["BM_BareQWidgetWindowUntilFirstPaint"]
    decode = m["BM_DecodeBigMapFloor"]
    rows = [
        ("bare `QWidget` window to its first paint (floor)", bare, "", ""),
        ("decoding the 100 000-idea map alone (floor)", decode, "", ""),
        ("cold start, fresh home, to the first window's frame", m["BM_ColdStartUntilFirstFrame/0"],
         paired(m, "BM_ColdStartUntilFirstFrame/0"), "≤ 2× bare"),
        ("later start (a start and quit before) to the first frame", m["BM_ColdStartUntilFirstFrame/1"],
         paired(m, "BM_ColdStartUntilFirstFrame/1"), "≤ 2× bare"),
        ("start with the 100 000-idea map to its window's frame", m["BM_ColdStartWithBigMapUntilItsFrame"],
         paired(m, "BM_ColdStartWithBigMapUntilItsFrame"), "≤ 1.5× (bare + decode)"),
        ("second launch handing a map over to its window's frame", m["BM_SecondLaunchHandingAFileOver"],
         f"{m['BM_SecondLaunchHandingAFileOver'] / bare:.2f}× bare", "≤ 100 ms"),
    ]
    lines = ["| measure | median | ratio | goal |", "|---|---|---|---|"]
    lines += [f"| {what} | {ms:.0f} ms | {ratio} | {goal} |" for what, ms, ratio, goal in rows]
    return "\n".join(lines)


def main():
    args = [a for a in sys.argv[1:] if not a.startswith("--")]
    build = pathlib.Path(args[0]) if args else ROOT / "build" / "release"
    text = table(medians(build / "bench" / "bench_shell"))
    if "--write" not in sys.argv[1:]:
        print(text)
        return
    doc = DOC.read_text()
    head, rest = doc.split(BEGIN, 1)
    _, tail = rest.split(END, 1)
    DOC.write_text(f"{head}{BEGIN}\n{text}\n{END}{tail}")


if __name__ == "__main__":
    main()
