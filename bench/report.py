#!/usr/bin/env python3
"""Turns bench/run.sh's measurements into the report: tables, the goals and
whether they hold, and the chart's data.

    report.py --results results.tsv --meta meta.txt --out FOLDER [--docs docs/performance.md]

results.tsv: case round tool wall_s user_s system_s server_s maxrss_kib load1 peak_ws_bytes
meta.txt:    key=value lines (machine, payloads, sizes, load before and after each case)
Writes FOLDER/report.md and FOLDER/chart.dat; with --docs, also replaces the
part of the documentation between its two bench markers with the report.
"""
import argparse
import statistics
from collections import defaultdict

BEGIN = "<!-- bench results begin -->"
END = "<!-- bench results end -->"
MiB = 1 << 20
LIMIT_MEMORY_MIB = 64
LIMIT_LANGUAGES_BYTES = 280000
LIMIT_ENGLISH_BYTES = 265290

TOOL_NAMES = {
    "setup": "setup.exe /S", "uninst": "Uninst.exe /S", "floor": "floor", "7zz": "7zz x -mmt1",
    "nsis": "NSIS installer /S", "nsis-uninst": "NSIS uninstaller /S", "tiny": "setup.exe /S, one file",
    "tiny-uninst": "Uninst.exe /S, one file", "kxpack": "kxpack build", "makensis": "makensis",
    "kxpack-1core": "kxpack build on one core", "reinstall": "setup.exe /S over the installation",
    "recovery": "setup.exe /S finishing a killed run",
}


class Run:
    def __init__(self, fields):
        self.case, self.round, self.tool = fields[0], int(fields[1]), fields[2]
        self.wall, self.user, self.system, self.server = (float(x) for x in fields[3:7])
        self.rss_mib = int(fields[7]) / 1024
        self.load = float(fields[8])
        self.peak_ws_mib = int(fields[9]) / MiB
        self.cpu = self.user + self.system


def read_runs(path):
    runs = defaultdict(lambda: defaultdict(dict))  # case -> tool -> round -> Run
    with open(path) as f:
        for line in f:
            if line.strip():
                run = Run(line.rstrip("\n").split("\t"))
                runs[run.case][run.tool][run.round] = run
    return runs


def read_meta(path):
    meta = {}
    with open(path) as f:
        for line in f:
            key, _, value = line.rstrip("\n").partition("=")
            if key:
                meta[key] = value
    return meta


def median(values):
    values = list(values)
    return statistics.median(values) if values else None


def fmt(value, digits=2):
    return "–" if value is None else "%.*f" % (digits, value)


def size_text(value):
    if value is None:
        return "?"
    value = int(value)
    return "%g GiB" % (value / (1 << 30)) if value >= 1 << 30 else "%g MiB" % (value / MiB)


def verdict(value, limit):
    if value is None:
        return "not measured"
    return "yes" if value <= limit else "**no**"


class Report:
    def __init__(self, runs, meta):
        self.runs, self.meta, self.lines = runs, meta, []
        self.goals = []
        self.chart = {"install": [], "memory": [], "scale": [], "builder": []}

    def add(self, *lines):
        self.lines.extend(lines)

    def walls(self, case, tool):
        return {r: run.wall for r, run in self.runs[case].get(tool, {}).items() if r > 0}

    def median_wall(self, case, tool):
        return median(self.walls(case, tool).values())

    def ratios(self, case, tool, reference):
        ours, theirs = self.walls(case, tool), self.walls(case, reference)
        return {r: ours[r] / theirs[r] for r in ours if r in theirs and theirs[r] > 0}

    def peak(self, case, tool):
        runs = self.runs[case].get(tool, {}).values()
        return max((run.rss_mib for run in runs), default=None)

    def load_note(self, case):
        loads = [run.load for tool in self.runs[case].values() for run in tool.values()]
        if not loads:
            return ""
        return "Load average (1 min) at the start of its runs: %.2f to %.2f." % (min(loads), max(loads))

    def tool_table(self, case, tools):
        self.add("| Program | median wall s | median CPU s | median wineserver CPU s | peak memory MiB |",
                 "|---|---|---|---|---|")
        for tool in tools:
            runs = self.runs[case].get(tool)
            if not runs:
                continue
            real = [run for r, run in runs.items() if r > 0]
            self.add("| %s | %s | %s | %s | %s |" % (
                TOOL_NAMES.get(tool, tool), fmt(median(run.wall for run in real)),
                fmt(median(run.cpu for run in real)), fmt(median(run.server for run in real)),
                fmt(max(run.rss_mib for run in real), 1)))
        self.add("")

    # ---- the cases ----

    def install(self):
        case = "install"
        if case not in self.runs:
            return
        m = self.meta
        self.add("### Installing the standard payload", "",
                 "%s files, %.1f MiB; kxpack's payload archive %.1f MiB in %s solid blocks, the largest %.1f MiB "
                 "unpacked; the NSIS installer %.1f MiB. %s" % (
                     m.get("standard.files", "?"), int(m.get("standard.bytes", 0)) / MiB,
                     int(m.get("standard.archive_bytes", 0)) / MiB, m.get("standard.blocks", "?"),
                     int(m.get("standard.largest_block", 0)) / MiB, int(m.get("standard.nsis_bytes", 0)) / MiB,
                     self.load_note(case)), "")
        tools = ["setup", "uninst", "floor", "7zz", "nsis", "nsis-uninst"]
        self.add("| Round | " + " | ".join(TOOL_NAMES[t] + " s" for t in tools) + " | setup / floor | setup / NSIS |",
                 "|---" * (len(tools) + 3) + "|")
        floor_ratio, nsis_ratio = self.ratios(case, "setup", "floor"), self.ratios(case, "setup", "nsis")
        walls = {t: self.walls(case, t) for t in tools}
        for r in sorted(walls["setup"]):
            self.add("| %d | %s | %s | %s |" % (r, " | ".join(fmt(walls[t].get(r)) for t in tools),
                                              fmt(floor_ratio.get(r)), fmt(nsis_ratio.get(r))))
        self.add("| median | %s | %s | %s |" % (" | ".join(fmt(median(walls[t].values())) for t in tools),
                                                fmt(median(floor_ratio.values())), fmt(median(nsis_ratio.values()))), "")
        self.tool_table(case, tools)
        floor = self.runs[case].get("floor", {})
        checks = [(run.peak_ws_mib, run.rss_mib) for run in floor.values() if run.peak_ws_mib > 0]
        if checks:
            self.add("Memory check: the floor reports its own peak working set from inside Windows "
                     "(GetProcessMemoryInfo); /usr/bin/time measured %s MiB for the same runs against its %s MiB, "
                     "so the figure is the Windows program's own and not Wine's loader's or server's." % (
                         "/".join(fmt(c[1], 1) for c in checks), "/".join(fmt(c[0], 1) for c in checks)), "")
        self.goals.append(("2", "setup.exe / floor, median of the rounds", fmt(median(floor_ratio.values())), "≤ 0.85",
                           verdict(median(floor_ratio.values()), 0.85)))
        self.goals.append(("2", "setup.exe / floor, slowest round", fmt(max(floor_ratio.values(), default=None)), "≤ 1.0",
                           verdict(max(floor_ratio.values(), default=None), 1.0)))
        self.goals.append(("2", "setup.exe / NSIS, median of the rounds", fmt(median(nsis_ratio.values())), "≤ 0.8",
                           verdict(median(nsis_ratio.values()), 0.8)))
        for tool in tools:
            if walls[tool]:
                self.chart["install"].append((TOOL_NAMES[tool], median(walls[tool].values())))
        for tool in ("setup", "floor", "7zz", "nsis"):
            if self.peak(case, tool) is not None:
                label = {"setup": "setup.exe, standard"}.get(tool, TOOL_NAMES[tool])
                self.chart["memory"].append((label, self.peak(case, tool)))

    def scale(self):
        rows = []
        for case in ("scale10k", "scale100k", "scale1m"):
            if case not in self.runs:
                continue
            files = int(self.meta.get(case + ".files", 0))
            install, uninstall = self.median_wall(case, "setup"), self.median_wall(case, "uninst")
            base_install, base_uninstall = self.median_wall(case, "tiny"), self.median_wall(case, "tiny-uninst")
            per_install = (install - base_install) / files * 1000 if files and base_install is not None else None
            per_uninstall = (uninstall - base_uninstall) / files * 1000 if files and base_uninstall is not None else None
            ratio = median(self.ratios(case, "uninst", "setup").values())
            rows.append((case, files, install, uninstall, ratio, per_install, per_uninstall, base_install, base_uninstall))
            self.goals.append(("3", "uninstall / install, %d files" % files, fmt(ratio), "≤ 1.5", verdict(ratio, 1.5)))
            self.chart["scale"].append(("%dk files" % (files // 1000), install, uninstall))
        if not rows:
            return
        self.add("### Many small files", "",
                 "Small text files (0.25 to 2 KiB), 100 to a folder. The per-file cost leaves out what a package of "
                 "one file costs (Wine's start, the runtime, the uninstall entry), measured in the same rounds.", "",
                 "| Files | install s | uninstall s | uninstall / install | install ms per file | "
                 "uninstall ms per file | setup.exe peak MiB | Uninst.exe peak MiB | reinstall s, peak MiB | "
                 "one-file package: install s, uninstall s |",
                 "|---|---|---|---|---|---|---|---|---|---|")
        for case, files, install, uninstall, ratio, per_install, per_uninstall, base_install, base_uninstall in rows:
            self.add("| %d | %s | %s | %s | %s | %s | %s | %s | %s, %s | %s, %s |" % (
                files, fmt(install), fmt(uninstall), fmt(ratio), fmt(per_install, 3), fmt(per_uninstall, 3),
                fmt(self.peak(case, "setup"), 1), fmt(self.peak(case, "uninst"), 1),
                fmt(self.median_wall(case, "reinstall")), fmt(self.peak(case, "reinstall"), 1),
                fmt(base_install), fmt(base_uninstall)))
        self.add("")
        for case, *_ in rows:
            self.add("%s: %s" % (case, self.load_note(case)))
        self.add("")
        for later in rows[1:]:
            if not (rows[0][5] and later[5]):
                continue
            growth = later[5] / rows[0][5]
            growth_uninstall = later[6] / rows[0][6] if rows[0][6] and later[6] else None
            self.add("Per-file cost at %d files against %d: install %s times, uninstall %s times." % (
                later[1], rows[0][1], fmt(growth), fmt(growth_uninstall)), "")
            self.goals.append(("3", "install cost per file, %dk / %dk files" % (later[1] // 1000, rows[0][1] // 1000),
                               fmt(growth), "≤ 1.3", verdict(growth, 1.3)))
            self.goals.append(("3", "uninstall cost per file, %dk / %dk files" % (later[1] // 1000, rows[0][1] // 1000),
                               fmt(growth_uninstall), "≤ 1.3", verdict(growth_uninstall, 1.3)))
        for case, files, *_ in rows:
            for tool, what in (("setup", "setup.exe"), ("reinstall", "setup.exe over the installation"),
                               ("uninst", "Uninst.exe")):
                peak = self.peak(case, tool)
                if peak is not None:
                    self.goals.append(("3", "%s peak memory, %d files" % (what, files), "%.1f MiB" % peak, "≤ 64 MiB",
                                       verdict(peak, 64)))

    def recovery(self):
        case = "recovery"
        if case not in self.runs:
            return
        m = self.meta
        peak = self.peak(case, "recovery")
        self.add("### A killed run finished", "",
                 "A setup run of %s small files killed near its end (`bench/make-killed-run.py`: its files and a "
                 "journal of %s bytes naming them), finished by the one-file package's setup.exe in the same folder: "
                 "every file deleted, then the one file installed." % (m.get("recovery.files", "?"),
                                                                        m.get("recovery.journal_bytes", "?")), "",
                 "| setup.exe wall s | peak MiB |", "|---|---|",
                 "| %s | %s |" % (fmt(self.median_wall(case, "recovery")), fmt(peak, 1)), "",
                 "%s: %s" % (case, self.load_note(case)), "")
        if peak is not None:
            self.goals.append(("3", "setup.exe peak memory finishing a killed run of %s files" % m.get("recovery.files", "?"),
                               "%.1f MiB" % peak, "≤ 64 MiB", verdict(peak, 64)))

    def memory(self):
        rows = []
        m = self.meta
        for case, what in (("install", "the standard payload"),
                           ("solid256", "the standard payload in %s solid blocks" % size_text(m.get("solid256.solid_block_bytes"))),
                           ("bigfile", "one file of %s" % size_text(m.get("bigfile.bytes")))):
            peak = self.peak(case, "setup")
            if peak is None:
                continue
            prefix = "standard" if case == "install" else case
            rows.append((what, int(self.meta.get(prefix + ".largest_block", 0)) / MiB, peak,
                         self.median_wall(case, "setup")))
            self.goals.append(("1", "setup.exe peak memory, %s" % what, fmt(peak, 1) + " MiB",
                               "≤ %d MiB" % LIMIT_MEMORY_MIB, verdict(peak, LIMIT_MEMORY_MIB)))
            if case != "install":
                self.chart["memory"].append(("setup.exe, " + what.replace("the standard payload in ", ""), peak))
        if not rows:
            return
        self.add("### Memory", "",
                 "| Payload | largest solid block MiB | setup.exe peak memory MiB | setup.exe median wall s |",
                 "|---|---|---|---|")
        for what, block, peak, wall in rows:
            self.add("| %s | %.1f | %.1f | %s |" % (what, block, peak, fmt(wall)))
        self.add("")

    def size(self):
        m = self.meta
        if "size.overhead_bytes" not in m:
            return
        overhead, core = int(m["size.overhead_bytes"]), int(m["size.core_library_bytes"])
        self.add("### Package size", "",
                 "| | bytes |", "|---|---|",
                 "| setup.exe of the standard payload | %s |" % m["size.setup_bytes"],
                 "| its payload archive | %s |" % m["size.payload_archive_bytes"],
                 "| **overhead** (setup.exe minus the payload archive) | **%d** |" % overhead,
                 "| of which the runtime archive | %s |" % m["size.runtime_archive_bytes"],
                 "| kxcore64.dll | %d |" % core,
                 "| kxprogram64.dll (the programs' work after the start-up) | %s |"
                 % m.get("size.program_library_bytes", "-"),
                 "| Uninst.exe (kxremove.dat in the runtime archive) | %s |" % m["size.uninstaller_bytes"],
                 "| setup.exe of a one-file payload | %s |" % m["size.tiny_setup_bytes"],
                 "| NSIS installer of a one-file payload, same pages, with an uninstaller | %s |" % m["size.nsis_tiny_bytes"],
                 "")
        self.goals.append(("4", "package overhead", "%d bytes" % overhead, "≤ 250,000 (stretch 148,000)",
                           verdict(overhead, 250000) + (", stretch met" if overhead <= 148000 else "")))
        self.goals.append(("4", "kxcore64.dll", "%d bytes" % core, "≤ 200,000", verdict(core, 200000)))
        # Quillmark Toolkit's package: every shipped language may cost up to
        # 280,000 bytes of overhead, English alone no more than before there
        # were languages (main at 42b0712).
        for key, what, limit in (("all", "in every language", LIMIT_LANGUAGES_BYTES),
                                 ("english", "in English alone", LIMIT_ENGLISH_BYTES)):
            value = m.get("size.quillmark_%s_overhead_bytes" % key)
            if value is not None:
                self.goals.append(("4", "Quillmark Toolkit's package overhead, %s" % what, "%d bytes" % int(value),
                                   "≤ {:,}".format(limit), verdict(int(value), limit)))

    def builder(self):
        case = "builder"
        if case not in self.runs:
            return
        m = self.meta
        ratio = self.ratios(case, "kxpack", "makensis")
        self.add("### Building the package", "",
                 "kxpack and makensis on the standard payload. kxpack's output %s %.1f MiB; makensis's %.1f MiB. "
                 "The same bytes in every round: %s; built on one core (taskset) instead: %s. %s" % (
                     "is", int(m.get("builder.kxpack_bytes", 0)) / MiB, int(m.get("builder.nsis_bytes", 0)) / MiB,
                     m.get("builder.identical", "–"), m.get("builder.one_core_identical", "not checked"),
                     self.load_note(case)), "",
                 "| Round | kxpack s | kxpack CPU s | makensis s | makensis CPU s | kxpack / makensis |",
                 "|---|---|---|---|---|---|")
        kx, mk = self.runs[case].get("kxpack", {}), self.runs[case].get("makensis", {})
        for r in sorted(set(kx) | set(mk)):
            if r == 0:
                continue
            self.add("| %d | %s | %s | %s | %s | %s |" % (
                r, fmt(kx[r].wall if r in kx else None), fmt(kx[r].cpu if r in kx else None),
                fmt(mk[r].wall if r in mk else None), fmt(mk[r].cpu if r in mk else None), fmt(ratio.get(r))))
        self.add("| median | %s | %s | %s | %s | %s |" % (
            fmt(self.median_wall(case, "kxpack")), fmt(median(run.cpu for r, run in kx.items() if r > 0)),
            fmt(self.median_wall(case, "makensis")), fmt(median(run.cpu for run in mk.values())),
            fmt(median(ratio.values()))), "")
        if 0 in self.runs[case].get("kxpack-1core", {}):
            self.add("On one core kxpack took %s s." % fmt(self.runs[case]["kxpack-1core"][0].wall), "")
        same = m.get("builder.identical") == "yes" and m.get("builder.one_core_identical", "yes") == "yes"
        value = median(ratio.values())
        self.goals.append(("5", "kxpack / makensis, median of the rounds", fmt(value), "≤ 0.5",
                           verdict(value, 0.5) if same else "**no** (output not the same bytes)"))
        for tool in ("kxpack", "makensis"):
            if self.median_wall(case, tool) is not None:
                self.chart["builder"].append((TOOL_NAMES[tool], self.median_wall(case, tool)))

    def write(self, out, docs):
        m = self.meta
        self.add("Measured %s with `bench/run.sh` (%s rounds), commit %s: %s, %s of memory, %s, 7-Zip %s, NSIS %s. "
                 "The whole run took %d minutes." % (
                     m.get("date", "?"), m.get("rounds", "?"), m.get("commit", "?"), m.get("cpu", "?"),
                     m.get("memory", "?"), m.get("wine", "?"), m.get("sevenzip", "?"), m.get("nsis", "?"),
                     int(m.get("duration_s", 0)) // 60), "")
        body_start = len(self.lines)
        self.install()
        self.memory()
        self.scale()
        self.recovery()
        self.size()
        self.builder()
        goals = ["### The goals", "", "| Goal | Figure | Measured | Target | Met |", "|---|---|---|---|---|"]
        goals += ["| %s | %s | %s | %s | %s |" % goal for goal in sorted(self.goals, key=lambda g: g[0])]
        self.lines[body_start:body_start] = goals + [""]
        text = "\n".join(self.lines).rstrip() + "\n"
        with open(out + "/report.md", "w") as f:
            f.write(text)
        self.write_chart(out + "/chart.dat")
        if docs:
            with open(docs) as f:
                page = f.read()
            if BEGIN not in page or END not in page:
                raise SystemExit("report: %s has no bench markers" % docs)
            head, rest = page.split(BEGIN, 1)
            _, tail = rest.split(END, 1)
            with open(docs, "w") as f:
                f.write(head + BEGIN + "\n" + text + END + tail)
        return text

    def write_chart(self, path):
        # Four blocks for bench/chart.gp, in this order; a block without
        # figures gets one empty bar so that its panel still draws.
        with open(path, "w") as f:
            for name in ("install", "memory", "scale", "builder"):
                f.write("# %s\n" % name)
                rows = self.chart[name] or [("not measured", 0, 0)]
                for row in rows:
                    values = [fmt(v) if v is not None else "0" for v in row[1:]]
                    if name == "scale" and len(values) == 1:
                        values.append("0")
                    f.write('"%s" %s\n' % (row[0], " ".join(values)))
                f.write("\n\n")


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--results", required=True)
    parser.add_argument("--meta", required=True)
    parser.add_argument("--out", required=True)
    parser.add_argument("--docs")
    args = parser.parse_args()
    print(Report(read_runs(args.results), read_meta(args.meta)).write(args.out, args.docs), end="")


if __name__ == "__main__":
    main()
