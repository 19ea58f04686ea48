#!/usr/bin/env python3
"""Runs the export, share and document-copy benchmarks and writes their figures as a table of
ratios to the floors measured in the same run. A benchmark that ran in turns with its floor
reports the floor and the ratio pair by pair ("floor_ms", "ratio"): those are used.

    python3 bench/export_figures.py [--build build/release] [--repetitions 3] [--update FILE]

With --update the table between the "export-figures" markers of FILE is replaced; otherwise
it is printed.
"""
import argparse
import json
import re
import subprocess
import sys
from pathlib import Path

# (label, program, benchmark, counter or None for time, floor program, floor benchmark, goal)
ROWS = [
    ("PDF, 10 000 ideas with notes", "bench_export", "BM_PDF", None, "bench_export", "BM_JSONEncoder", "≤ 8×"),
    ("presentation", "bench_export", "BM_Presentation", None, "bench_export", "BM_JSONEncoder", "≤ 12×"),
    ("web page", "bench_export", "BM_WebPage", None, "bench_export", "BM_JSONEncoder", "≤ 8×"),
    ("text outline", "bench_export", "BM_TextOutline", None, "bench_export", "BM_JSONEncoder", "≤ 0.5×"),
    ("HTML list", "bench_export", "BM_HTMLList", None, "bench_export", "BM_JSONEncoder", "≤ 0.5×"),
    ("OPML", "bench_export", "BM_OPML", None, "bench_export", "BM_JSONEncoder", "≤ 0.5×"),
    ("calling thread's snapshot", "bench_export", "BM_CallingThreadSnapshot", None, "bench_export",
     "BM_JSONEncoder", "≤ 0.1×"),
    ("PDF map page, 10 000 ideas", "bench_export", "BM_PDFMapPageOnly", None, "bench_export",
     "BM_BarePdfWriterMap10000", ""),
    ("PDF, 1 000 ideas with notes", "bench_export", "BM_PDFOutline1000", None, "bench_export",
     "BM_BarePdfWriterOutline1000", "≤ 1.5×"),
    ("PNG, 10 000 ideas", "bench_export", "BM_PNG", None, "bench_export", "BM_PNGEncodeOnly", ""),
    ("picture pane: main thread", "bench_share", "BM_ImagePaneWritesChosenFile", "main_ms", "bench_share",
     "BM_PNGWriterAlone", "≤ 16 ms"),
    ("picture pane: until written", "bench_share", "BM_ImagePaneWritesChosenFile", None, "bench_share",
     "BM_PNGWriterAlone", ""),
    ("text pane: until written", "bench_share", "BM_TextPaneWritesChosenFile", None, "bench_share",
     "BM_WriterPlusAtomicWrite", ""),
    ("deep copy, 100 000 ideas, new identifiers", "bench_documents", "BM_DeepCopyWithNewIdentifiers/100000",
     None, "bench_documents", "BM_SnapshotCopy/100000", "≤ 30 ms"),
    ("deep copy, 100 000 ideas added in random places", "bench_model", "BM_DeepCopy/ideas:100000", None,
     "bench_model", "BM_DeepCopyFloor/ideas:100000", "≤ 30 ms"),
]

FILTERS = {
    "bench_export": ".",
    "bench_share": ".",
    "bench_documents": "BM_(DeepCopyWithNewIdentifiers|SnapshotCopy)",
    "bench_model": "BM_DeepCopy",
}


def run(build, program, repetitions):
    out = subprocess.run(
        [str(Path(build) / "bench" / program), f"--benchmark_filter={FILTERS[program]}",
         f"--benchmark_repetitions={repetitions}", "--benchmark_report_aggregates_only=true",
         "--benchmark_format=json"],
        check=True, capture_output=True, text=True).stdout
    medians = {}
    for b in json.loads(out)["benchmarks"]:
        if b.get("aggregate_name") != "median":
            continue
        unit = {"ns": 1e-6, "us": 1e-3, "ms": 1.0, "s": 1e3}[b["time_unit"]]
        values = {"time": b["real_time"] * unit}
        values.update({k: v for k, v in b.items() if k.endswith("_ms") or k.endswith("_MiB") or k == "ratio"})
        medians[b["run_name"].removesuffix("/real_time").removesuffix("/manual_time")] = values
    return medians


def table(build, repetitions):
    results = {p: run(build, p, repetitions) for p in FILTERS}
    lines = ["| measure | median | floor (same run) | ratio | goal |", "|---|---|---|---|---|"]
    for label, prog, name, counter, floor_prog, floor_name, goal in ROWS:
        measured = results[prog].get(name, {})
        value = measured.get(counter or "time")
        in_turns = counter is None and "ratio" in measured
        floor = measured.get("floor_ms") if in_turns else results[floor_prog].get(floor_name, {}).get("time")
        if value is None or floor is None:
            lines.append(f"| {label} | missing | | | {goal} |")
            continue
        ratio = measured["ratio"] if in_turns else value / floor
        lines.append(f"| {label} | {value:.2f} ms | {floor:.2f} ms ({floor_name.split('/')[0][3:]}) | "
                     f"{ratio:.2f}× | {goal} |")
    return "\n".join(lines)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--build", default="build/release")
    parser.add_argument("--repetitions", type=int, default=3)
    parser.add_argument("--update")
    args = parser.parse_args()
    text = table(args.build, args.repetitions)
    if not args.update:
        print(text)
        return 0
    doc = Path(args.update)
    pattern = re.compile(r"(<!-- export-figures:begin -->\n).*?(\n<!-- export-figures:end -->)", re.S)
    content = doc.read_text()
    if not pattern.search(content):
        print(f"{doc}: no export-figures markers", file=sys.stderr)
        return 1
    doc.write_text(pattern.sub(lambda m: m.group(1) + text + m.group(2), content))
    return 0


if __name__ == "__main__":
    sys.exit(main())
