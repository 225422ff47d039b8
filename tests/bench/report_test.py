"""The benchmark's report: ratios paired by round, the per-file cost without
the fixed cost of a package, verdicts, and the docs page kept around its
markers."""
import os
import sys
import tempfile
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "..", "bench"))
import report  # noqa: E402


def row(case, round_, tool, wall, rss_mib=20, peak_ws=0):
    return "\t".join(str(x) for x in (case, round_, tool, wall, 1.0, 0.5, 0.2, int(rss_mib * 1024), 0.3, peak_ws))


class ReportTest(unittest.TestCase):
    def build(self, rows, meta, docs=None):
        with tempfile.TemporaryDirectory() as folder:
            with open(folder + "/results.tsv", "w") as f:
                f.write("\n".join(rows) + "\n")
            with open(folder + "/meta.txt", "w") as f:
                f.write("".join("%s=%s\n" % item for item in meta.items()))
            result = report.Report(report.read_runs(folder + "/results.tsv"), report.read_meta(folder + "/meta.txt"))
            text = result.write(folder, docs)
        return {(g[0], g[1]): (g[2], g[4]) for g in result.goals}, text

    def test_goals_from_paired_rounds(self):
        rows = []
        # setup / floor per round: 0.8, 0.9, 1.1 -> median 0.9, slowest 1.1
        for r, (setup, floor) in enumerate([(8, 10), (9, 10), (11, 10)], 1):
            rows += [row("install", r, "setup", setup, rss_mib=70), row("install", r, "floor", floor, peak_ws=21 << 20),
                     row("install", r, "nsis", setup * 2)]
        # 1,000 files: (6 - 1) s -> 5 ms a file; 10,000 files: (71 - 1) s -> 7 ms a file: 1.4 times
        for case, files, install, uninstall in (("scale10k", 1000, 6, 8), ("scale100k", 10000, 71, 120)):
            for r in (1, 2):
                rows += [row(case, r, "setup", install), row(case, r, "uninst", uninstall),
                         row(case, r, "tiny", 1), row(case, r, "tiny-uninst", 1)]
        rows += [row("builder", 1, "kxpack", 40), row("builder", 1, "makensis", 100)]
        meta = {"scale10k.files": 1000, "scale100k.files": 10000, "size.overhead_bytes": 150000,
                "size.core_library_bytes": 200001, "size.setup_bytes": 1, "size.payload_archive_bytes": 1,
                "size.runtime_archive_bytes": 1, "size.uninstaller_bytes": 1, "size.tiny_setup_bytes": 1,
                "size.nsis_tiny_bytes": 1, "size.quillmark_all_overhead_bytes": 280001,
                "size.quillmark_english_overhead_bytes": 265290, "builder.identical": "no"}
        goals, text = self.build(rows, meta)
        self.assertEqual(goals[("2", "setup.exe / floor, median of the rounds")], ("0.90", "**no**"))
        self.assertEqual(goals[("2", "setup.exe / floor, slowest round")], ("1.10", "**no**"))
        self.assertEqual(goals[("2", "setup.exe / NSIS, median of the rounds")], ("0.50", "yes"))
        self.assertEqual(goals[("1", "setup.exe peak memory, the standard payload")], ("70.0 MiB", "**no**"))
        self.assertEqual(goals[("3", "install cost per file, 10k / 1k files")], ("1.40", "**no**"))
        self.assertEqual(goals[("3", "uninstall / install, 10000 files")][1], "**no**")
        self.assertEqual(goals[("4", "package overhead")], ("150000 bytes", "yes"))
        self.assertEqual(goals[("4", "kxcore64.dll")][1], "**no**")
        self.assertEqual(goals[("4", "Quillmark Toolkit's package overhead, in every language")],
                         ("280001 bytes", "**no**"))
        self.assertEqual(goals[("4", "Quillmark Toolkit's package overhead, in English alone")],
                         ("265290 bytes", "yes"))
        # Fast enough, but not the same bytes every time: not met.
        self.assertTrue(goals[("5", "kxpack / makensis, median of the rounds")][1].startswith("**no**"))
        self.assertIn("/usr/bin/time measured 20.0/20.0/20.0 MiB", text)

    def test_docs_keep_what_lies_around_the_markers(self):
        with tempfile.TemporaryDirectory() as folder:
            page = folder + "/performance.md"
            with open(page, "w") as f:
                f.write("# Title\n%s\nold figures\n%s\n## After\n" % (report.BEGIN, report.END))
            self.build([row("builder", 1, "kxpack", 40), row("builder", 1, "makensis", 100)],
                       {"builder.identical": "yes"}, docs=page)
            with open(page) as f:
                text = f.read()
        self.assertTrue(text.startswith("# Title\n" + report.BEGIN + "\n"))
        self.assertTrue(text.endswith(report.END + "\n## After\n"))
        self.assertNotIn("old figures", text)
        self.assertIn("| 5 | kxpack / makensis, median of the rounds | 0.40 | ≤ 0.5 | yes |", text)


if __name__ == "__main__":
    unittest.main()
