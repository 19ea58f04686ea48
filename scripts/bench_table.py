#!/usr/bin/env python3
"""Measures the figures docs/architecture.md states, as it says they are measured, and prints
them as its tables: each documented benchmark program runs --runs times, in turn with the other
programs, pinned to two cores (taskset), and each figure is shown as the range over the runs
(a run's figure is the median of its repetitions), with what was measured beside it in the
same runs and whether its goal is met.

    python3 scripts/bench_table.py [SECTION ...] [--build build/release] [--runs 3]
                                   [--cores 0,1] [--check | --write] [--save F | --load F]

SECTION names a table (documents, sdk, drag, radial, startup, graph, exports, …; all when
none is named). --check compares the fresh runs with the ranges the tables in
docs/architecture.md state and exits with 1 when a fresh figure lies outside its range or has
none; --write puts the fresh tables between the tables' markers instead. --save keeps the raw runs
in a JSON file, and --load renders or checks saved runs again (several files: their runs
together) without running anything.

A figure has no value when a benchmark it reads errored, was skipped or is missing in any run:
its row reads "failed" with what the benchmark said, and its goal is not met.

Never a test: timings are measured here, against floors of the same runs, not asserted.
"""

import argparse
import datetime
import json
import os
import pathlib
import re
import shlex
import subprocess
import sys

sys.path.insert(0, str(pathlib.Path(__file__).resolve().parent))
from bench_figures import FIGURES, PROGRAMS, SECTIONS  # noqa: E402

ROOT = pathlib.Path(__file__).resolve().parent.parent
DOC = ROOT / "docs" / "architecture.md"
UNITS_MS = {"ns": 1e-6, "us": 1e-3, "ms": 1.0, "s": 1e3}
# Parts of a benchmark's name that say how it ran, not what: left out of the names figures use.
HOW_PARTS = ("iterations:", "repeats:", "min_time:", "manual_time", "real_time")


def begin_marker(section):
    return f"<!-- figures: {section} (scripts/bench_table.py) -->"


def end_marker(section):
    return f"<!-- end of figures: {section} -->"


def short_name(run_name):
    return "/".join(p for p in run_name.split("/") if not p.startswith(HOW_PARTS))


def command(program, build, cores):
    """The command line of one run of `program`, as the docs print it and as it runs."""
    args = [f"{build}/bench/{program.binary}", "--benchmark_format=json"]
    if program.filter:
        args.append(f"--benchmark_filter={program.filter}")
    if program.repetitions > 1:
        # Repetitions of the benchmarks in a random order, so that a swing in the load does not
        # fall on a measure and leave its floor (or the other way round).
        args += [f"--benchmark_repetitions={program.repetitions}", "--benchmark_enable_random_interleaving=true",
                 "--benchmark_report_aggregates_only=true"]
    env = [f"{k}={v}" for k, v in sorted(program.env.items())]
    unset = [arg for name in program.unset for arg in ("-u", name)]
    prefix = (["env"] + unset + env) if (env or unset) else []
    return prefix + ["taskset", "-c", cores] + args


def printable(argv):
    shown = [a for a in argv if a != "--benchmark_format=json"]
    return " ".join(shlex.quote(a) for a in shown)


def failure(b):
    """What a benchmark that errored or was skipped said (Google Benchmark's "error_occurred" and
    "error_message", or "skipped" and "skip_message"), or None for one that ran."""
    if b.get("error_occurred"):
        return b.get("error_message") or "an error without a message"
    if b.get("skipped"):
        return "skipped: " + (b.get("skip_message") or b.get("error_message") or "no reason given")
    return None


def parse_results(text):
    """Each benchmark's fields (real time in ms as "ms", counters as they come): the median
    of the repetitions when there were several. A benchmark of which any repetition errored or
    was skipped has only "failed", its own message: its times are none."""
    found, single, failed = {}, {}, {}
    for b in json.loads(text)["benchmarks"]:
        name = short_name(b.get("run_name", b["name"]))
        message = failure(b)
        if message is not None:
            failed[name] = message
            continue
        fields = {k: v for k, v in b.items() if isinstance(v, (int, float)) and not isinstance(v, bool)}
        fields["ms"] = b["real_time"] * UNITS_MS[b["time_unit"]]
        fields["cpu_ms"] = b["cpu_time"] * UNITS_MS[b["time_unit"]]
        if b.get("run_type") == "aggregate":
            if b.get("aggregate_name") == "median":
                found[name] = fields
        else:
            single[name] = fields
    return {**single, **found, **{name: {"failed": message} for name, message in failed.items()}}


class Failed(Exception):
    """A figure with no value: a benchmark it reads errored, was skipped or is missing."""


class Results(dict):
    """One run's benchmarks as a figure reads them: a benchmark that failed or is missing, or a
    field it lacks, raises Failed with what went wrong instead of giving a value."""

    def __missing__(self, name):
        raise Failed(f"{name}: missing from the run")

    def __getitem__(self, name):
        fields = super().__getitem__(name)
        if "failed" in fields:
            raise Failed(f"{name}: {fields['failed']}")
        return Fields(name, fields)


class Fields(dict):
    def __init__(self, name, fields):
        super().__init__(fields)
        self.name = name

    def __missing__(self, key):
        raise Failed(f"{self.name}: no \"{key}\"")


def run_all(selected, build, runs, cores):
    """runs × every program the selected figures use, in turn; each run with its load."""
    programs = sorted({f.program for f in FIGURES if f.section in selected})
    results = {p: [] for p in programs}
    for r in range(runs):
        for key in programs:
            argv = command(PROGRAMS[key], build, cores)
            load = os.getloadavg()[0]
            print(f"run {r + 1}/{runs}: {key} (load {load:.1f})", file=sys.stderr, flush=True)
            done = subprocess.run(argv, capture_output=True, text=True)
            if done.returncode != 0:
                sys.exit(f"{printable(argv)} failed:\n{done.stderr[-2000:]}")
            results[key].append({"load": load, "benchmarks": parse_results(done.stdout)})
    return {"date": datetime.date.today().isoformat(), "commit": commit(), "cores": cores,
            "build": str(build), "runs": results}


def merged(saved):
    """Saved sessions as one: the runs of each program together; the latest date and commit."""
    data = dict(saved[-1], runs={})
    for session in saved:
        for key, runs in session["runs"].items():
            data["runs"].setdefault(key, []).extend(runs)
    return data


def commit():
    done = subprocess.run(["git", "-C", str(ROOT), "rev-parse", "--short", "HEAD"], capture_output=True, text=True)
    return done.stdout.strip() or "unknown"


def number(v):
    if v < 0:
        return "−" + number(-v)
    a = round(abs(v), 1)
    if a >= 100 or v == int(v):
        return f"{v:.0f}"
    if a >= 10:
        return f"{v:.1f}"
    if a >= 0.1:
        return f"{v:.2f}"
    return f"{v:.3f}"


def span(values, unit):
    lo, hi = number(min(values)), number(max(values))
    text = lo if lo == hi else f"{lo}–{hi}"
    return f"{text}{unit}" if unit in ("×", "%") else f"{text} {unit}".rstrip()


def stated(values, unit, share):
    """The range a table states for its figure: the runs' lowest to highest widened by `share`
    of their median each way (never below 0 for a figure that never was), what `--check`
    holds a fresh run to."""
    ordered = sorted(values)
    margin = abs(ordered[len(ordered) // 2]) * share
    lo = ordered[0] - margin
    if ordered[0] >= 0:
        lo = max(lo, 0)
    return span([lo, ordered[-1] + margin], unit)


def values_of(figure, extract, data):
    """The value in each run; Failed, with what each failing run said, when any run has none."""
    out, failures = [], []
    runs = data["runs"].get(figure.program)
    if not runs:
        raise Failed(f"{figure.program}: no runs")
    for run in runs:
        try:
            out.append(extract(Results(run["benchmarks"])))
        except Failed as e:
            failures.append(str(e))
        except ZeroDivisionError:
            failures.append("a ratio over zero")
    if failures:
        said = "; ".join(dict.fromkeys(failures))
        raise Failed(f"{said} (in {len(failures)} of {len(runs)} runs)")
    return out


def goal_text(figure, data):
    if not figure.goal:
        return ""
    met = values_of(figure, figure.goal.met, data)
    verdict = "met" if all(met) else "missed" if not any(met) else f"met in {sum(met)} of {len(met)} runs"
    return f"{figure.goal.text}: {verdict}"


def readings(figure, data):
    """The figure's values, what is shown beside them and its goal's verdict; Failed when any
    benchmark they read has none."""
    values = values_of(figure, figure.value, data)
    beside = "; ".join([f"runs {span(values, figure.unit)}"] +
                       [f"{label} {span(values_of(figure, extract, data), unit)}"
                        for label, extract, unit in figure.beside])
    return values, beside, goal_text(figure, data)


def row(figure, data):
    try:
        values, beside, goal = readings(figure, data)
    except Failed as e:
        # Never a figure: the row says what the benchmark said, and no goal is met.
        goal = f"{figure.goal.text}: failed" if figure.goal else "failed"
        return f"| {figure.label} | failed | {e} | {goal} |"
    return f"| {figure.label} | {stated(values, figure.unit, figure.margin)} | {beside} | {goal} |"


def how(section, data):
    """The paragraph under a table: the commands, the runs and their conditions."""
    keys = sorted({f.program for f in FIGURES if f.section == section})
    loads = [run["load"] for k in keys for run in data["runs"][k]]
    runs = len(data["runs"][keys[0]])
    lines = [f"{runs} runs of each command below, in turn with the others (`python3 scripts/bench_table.py "
             f"{section}` runs them, with `--check` against this table); a run's figure is the median of "
             f"its repetitions where it repeats; the range is the runs' lowest to highest widened by a "
             f"tenth of their median each way (half for a tail, a p99 or the longest of a run, and for a "
             f"main-thread time), which a fresh run is checked against. {data['date']}, build of "
             f"{data['commit']}, this 8-core virtual machine (AMD EPYC, KVM), the two cores shared with "
             f"other builds at a load of {min(loads):.1f}–{max(loads):.1f} (one-minute average over 8 cores):"]
    for k in keys:
        lines.append(f"`{printable(command(PROGRAMS[k], data['build'], data['cores']))}`")
    return "\n".join(lines[:1] + ["- " + line for line in lines[1:]])


def table(section, data):
    lines = ["| measure | range | the runs, and beside it in the same runs | goal |", "|---|---|---|---|"]
    lines += [row(f, data) for f in FIGURES if f.section == section]
    return "\n".join(lines) + "\n\n" + how(section, data)


def stated_ranges(doc, section):
    """The range each row of the section's table in the docs states, by the row's measure."""
    m = re.search(re.escape(begin_marker(section)) + r"\n(.*?)" + re.escape(end_marker(section)), doc, re.S)
    if not m:
        sys.exit(f"{DOC}: no table for {section}")
    ranges = {}
    for line in m.group(1).splitlines():
        cells = [c.strip() for c in line.strip().strip("|").split("|")]
        if len(cells) < 2 or not line.startswith("|"):
            continue
        numbers = re.findall(r"-?\d+(?:\.\d+)?", cells[1].replace("−", "-"))
        if numbers:
            ranges[cells[0]] = (float(numbers[0]), float(numbers[1 if len(numbers) > 1 else 0]))
    return ranges


def check(selected, data):
    doc = DOC.read_text()
    outside = 0
    for section in selected:
        stated = stated_ranges(doc, section)
        for f in (f for f in FIGURES if f.section == section):
            try:
                fresh = [float(number(v).replace("−", "-")) for v in readings(f, data)[0]]
            except Failed as e:
                print(f"FAILED  {section}: {f.label}: {e}")
                outside += 1
                continue
            if f.label not in stated:
                print(f"{section}: \"{f.label}\" is not in the docs' table")
                outside += 1
                continue
            lo, hi = stated[f.label]
            ok = all(lo <= v <= hi for v in fresh)
            outside += not ok
            print(f"{'ok     ' if ok else 'OUTSIDE'} {section}: {f.label}: fresh {span(fresh, f.unit)}, "
                  f"stated {number(lo)}–{number(hi)}")
    loads = [run["load"] for runs in data["runs"].values() for run in runs]
    print(f"load {min(loads):.1f}–{max(loads):.1f} during the runs; "
          f"{outside} figure(s) failed or outside their range")
    return 1 if outside else 0


def write(selected, data):
    doc = DOC.read_text()
    for section in selected:
        pattern = re.compile(re.escape(begin_marker(section)) + r"\n.*?" + re.escape(end_marker(section)), re.S)
        if not pattern.search(doc):
            sys.exit(f"{DOC}: no markers for {section}")
        doc = pattern.sub(lambda _: f"{begin_marker(section)}\n{table(section, data)}\n{end_marker(section)}", doc)
    DOC.write_text(doc)


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("sections", nargs="*", help=f"of: {', '.join(SECTIONS)}")
    parser.add_argument("--build", default="build/release")
    parser.add_argument("--runs", type=int, default=3)
    parser.add_argument("--cores", default="0,1")
    mode = parser.add_mutually_exclusive_group()
    mode.add_argument("--check", action="store_true")
    mode.add_argument("--write", action="store_true")
    parser.add_argument("--save")
    parser.add_argument("--load", nargs="+")
    args = parser.parse_args()
    selected = args.sections or list(SECTIONS)
    unknown = [s for s in selected if s not in SECTIONS]
    if unknown:
        parser.error(f"no section {', '.join(unknown)}; there are {', '.join(SECTIONS)}")
    if args.load:
        data = merged([json.loads(pathlib.Path(f).read_text()) for f in args.load])
    else:
        data = run_all(selected, args.build, args.runs, args.cores)
    if args.save:
        pathlib.Path(args.save).write_text(json.dumps(data))
    if args.check:
        return check(selected, data)
    if args.write:
        write(selected, data)
        return 0
    for section in selected:
        print(f"{section}:\n{table(section, data)}\n")
    return 0


if __name__ == "__main__":
    sys.exit(main())
