#!/usr/bin/env python3
"""The benchmark tables' script on made-up runs: a benchmark that errored, was skipped or is
missing is a failed row with its own message, never a figure, and the check fails on it."""
import contextlib
import io
import json
import os
import sys
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "scripts"))
import bench_table  # noqa: E402
from bench_figures import FIGURES  # noqa: E402


def runs(*benchmarks):
    ran = [{"name": n, "run_type": "iteration", "real_time": 0.5, "cpu_time": 0.5, "time_unit": "ms", **f}
           for n, f in benchmarks]
    return [{"load": 0, "benchmarks": bench_table.parse_results(json.dumps({"benchmarks": ran}))}]


class BenchTable(unittest.TestCase):
    def test_a_benchmark_with_no_figure_is_a_failed_row_and_fails_the_check(self):
        redrawn = ("rotationFrame/100", {"real_time": 0, "error_occurred": True, "error_message": "redrawn"})
        data = {"runs": {"radial": runs(("rotationFrame/9", {}), ("rotationFloor/9", {}), redrawn, redrawn,
                                        ("rotationFloor/100", {})),
                         "radial_2x": runs(("rotationFrame/9", {"skipped": True, "skip_message": "no screen"})),
                         "editor": runs(), "editor_2x": runs()}}
        rows = {f.label: bench_table.row(f, data) for f in FIGURES if f.section == "radial"}
        self.assertTrue(rows["rotation frame, 9 planets, 1×"].endswith(": met |"))
        failed = {"rotation frame, 100 planets, 1×": "| failed | rotationFrame/100: redrawn (in 1 of 1 runs) |",
                  "rotation frame, 9 planets, 2×": "rotationFrame/9: skipped: no screen",
                  "spin on the 10 000-idea map, longest frame, 1×": "BM_SpinTenThousandIdeas: missing from the run"}
        for label, said in failed.items():
            self.assertIn(said, rows[label])
        for label, row in rows.items():
            if label != "rotation frame, 9 planets, 1×":
                self.assertTrue(row.endswith(": failed |"), row)
        with contextlib.redirect_stdout(io.StringIO()) as printed:
            self.assertEqual(bench_table.check(["radial"], data), 1)
        self.assertIn("FAILED  radial: rotation frame, 100 planets, 1×: rotationFrame/100: redrawn",
                      printed.getvalue())


if __name__ == "__main__":
    unittest.main()
