#!/usr/bin/env python3
"""The benchmark tables' script on made-up runs: a benchmark that errored, was skipped or is
missing is never a figure, and the check fails on it."""
import contextlib
import io
import json
import os
import sys
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "scripts"))
import bench_table  # noqa: E402
from bench_figures import FIGURES  # noqa: E402

REDRAWN = "a disc that only moved was redrawn"


def output(*benchmarks):
    return json.dumps({"benchmarks": list(benchmarks)})


def timed(name, ms, **fields):
    return {"name": name, "run_name": name, "run_type": "iteration", "real_time": ms, "cpu_time": ms,
            "time_unit": "ms", **fields}


def errored(name):
    # As Google Benchmark writes a run that called SkipWithError.
    return timed(name, 0, error_occurred=True, error_message=REDRAWN)


class BenchTable(unittest.TestCase):
    def rows(self, benchmarks):
        data = {"runs": {p: [{"load": 0, "benchmarks": benchmarks}] for p in ("radial", "radial_2x")}}
        figures = [f for f in FIGURES if f.program in data["runs"]]
        return {f.label: bench_table.row(f, data) for f in figures}, data

    def test_a_failed_or_missing_benchmark_is_a_failed_row_with_its_message(self):
        parsed = bench_table.parse_results(output(
            timed("rotationFrame/9", 0.5), timed("rotationFloor/9", 0.4), errored("rotationFrame/100"),
            errored("rotationFrame/100"), timed("rotationFloor/100", 0.6)))
        rows, _ = self.rows(parsed)
        self.assertIn("| 0.45–0.55 ms |", rows["rotation frame, 9 planets, 1×"])
        self.assertTrue(rows["rotation frame, 9 planets, 1×"].endswith(": met |"))
        hundred = rows["rotation frame, 100 planets, 1×"]
        self.assertIn("| failed |", hundred)
        self.assertIn(f"rotationFrame/100: {REDRAWN}", hundred)
        self.assertTrue(hundred.endswith(": failed |"), hundred)
        self.assertNotIn("met", hundred)

        skipped = bench_table.parse_results(output(
            timed("rotationFrame/9", 0.5, skipped=True, skip_message="no display"), timed("rotationFloor/9", 0.4)))
        rows, _ = self.rows(skipped)
        self.assertIn("rotationFrame/9: skipped: no display", rows["rotation frame, 9 planets, 1×"])
        self.assertIn("rotationFrame/100: missing from the run", rows["rotation frame, 100 planets, 1×"])

    def test_the_check_fails_on_a_failed_benchmark(self):
        _, data = self.rows(bench_table.parse_results(output(errored("rotationFrame/100"))))
        data["runs"].update({p: [{"load": 0, "benchmarks": {}}] for p in ("editor", "editor_2x")})
        printed = io.StringIO()
        with contextlib.redirect_stdout(printed):
            self.assertEqual(bench_table.check(["radial"], data), 1)
        self.assertIn(f"FAILED  radial: rotation frame, 100 planets, 1×: rotationFrame/100: {REDRAWN}",
                      printed.getvalue())


if __name__ == "__main__":
    unittest.main()
