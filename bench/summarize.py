#!/usr/bin/env python3
"""Turns the benchmark's measurements into the ratio table.

usage: summarize.py RESULTS_DIR WORK_DIR MACHINE_FILE OUTPUT_MD

RESULTS_DIR holds, per case, the hyperfine exports <case>.round<N>.json and
the peak memory files <case>.ref.kib and <case>.big.kib; cases.tsv lists the
cases in order: kind, name, target, label, reference command, bigtool
command, and the command run untimed before each run of the reference and of
bigtool (empty where none). A case of kind "ratio" is met when bigtool's median over the
reference's is at most the target; one of kind "seconds" has no reference,
and is met when bigtool's median is at most the target in seconds. A target
of "-" is reported and always met.
peaks.tsv lists single runs measured for memory alone (archive, command,
command line, limit in MiB, expected exit status); peak<N>.txt holds the N-th
one's exit status and peak.
Prints the tables with each target's verdict, writes them with the
machine's description to OUTPUT_MD, and exits 1 when a target is missed.
"""
import glob
import json
import os
import statistics
import sys

MEMORY_LIMIT_MIB = 16.0


def pooled_times(results, case, command):
    times = []
    for path in sorted(glob.glob(os.path.join(results, case + ".round*.json"))):
        with open(path) as f:
            for result in json.load(f)["results"]:
                if result["command"] == command:
                    times.extend(result["times"])
    if not times:
        sys.exit("no measurements of %r in case %s" % (command, case))
    return times


def peak_mib(results, case, side):
    with open(os.path.join(results, "%s.%s.kib" % (case, side))) as f:
        return int(f.read().split()[-1]) / 1024.0


def memory_runs(results):
    """(archive, command, command line, exit status, peak MiB, limit MiB, expected
    status) per run."""
    runs = []
    path = os.path.join(results, "peaks.tsv")
    if not os.path.exists(path):
        return runs
    with open(path) as f:
        for n, line in enumerate(f, 1):
            archive, command, line_run, limit, expected = line.rstrip("\n").split("\t")
            # GNU time puts a line of its own before the format's when the
            # status is not 0; the format's line is the last.
            with open(os.path.join(results, "peak%d.txt" % n)) as p:
                status, kib = p.read().split("\n")[-2].split()
            runs.append((archive, command, line_run, int(status), int(kib) / 1024.0, float(limit),
                         int(expected)))
    return runs


def memory_table(runs):
    """The runs as a table, an archive per row; and whether all met the limit."""
    archives, commands, cells = [], [], {}
    all_met = True
    for archive, command, _, status, mib, limit, expected in runs:
        if archive not in archives:
            archives.append(archive)
        if command not in commands:
            commands.append(command)
        met = status == expected and mib <= limit
        all_met = all_met and met
        cells[archive, command] = "%.1f MiB%s%s" % (
            mib, "" if status == 0 else " (status %d)" % status, "" if met else " NO")
    lines = ["| Archive | " + " | ".join(commands) + " |",
             "|---|" + "---:|" * len(commands)]
    for archive in archives:
        lines.append("| %s | %s |" % (archive, " | ".join(cells.get((archive, c), "")
                                                         for c in commands)))
    return "\n".join(lines), all_met


def main():
    results, work, machine_file, output = sys.argv[1:5]
    cases = []
    with open(os.path.join(results, "cases.tsv")) as f:
        for line in f:
            kind, name, target, label, reference, bigtool, ref_prep, big_prep, limit = \
                line.rstrip("\n").split("\t")
            # "-": measured and reported, with no target to meet.
            cases.append((kind, name, None if target == "-" else float(target), label, reference,
                          bigtool, ref_prep, big_prep, float(limit)))

    lines = ["| Case | bigtool median | reference median | ratio | target | "
             "bigtool peak memory | reference peak memory | runs per side | meets target |",
             "|---|---:|---:|---:|---:|---:|---:|---:|---|"]
    verdicts = []
    all_met = True
    for kind, name, target, label, reference, bigtool, _, _, memory_limit in cases:
        big_times = pooled_times(results, name, bigtool)
        big_median = statistics.median(big_times)
        big_mem = peak_mib(results, name, "big")
        if kind == "ratio":
            ref_median = statistics.median(pooled_times(results, name, reference))
            ref_mem = peak_mib(results, name, "ref")
            measured = big_median / ref_median
            cells = ("%.3f s" % ref_median, "%.2f" % measured,
                     "none" if target is None else "<= %g" % target, "%.1f MiB" % ref_mem)
            said = "ratio %.2f (%s)" % (measured, "no target" if target is None
                                         else "target <= %g" % target)
        else:
            measured = big_median
            cells = ("-", "-", "<= %.2f s" % target, "-")
            said = "median %.3f s (target <= %.2f s)" % (measured, target)
        met = (target is None or measured <= target) and big_mem <= memory_limit
        all_met = all_met and met
        lines.append("| %s | %.3f s | %s | %s | %s | %.1f MiB | %s | %d | %s |"
                     % (label, big_median, cells[0], cells[1], cells[2], big_mem, cells[3],
                        len(big_times), "yes" if met else "NO"))
        verdicts.append("%-40s %s, peak %.1f MiB (target <= %.1f): %s"
                        % (label, said, big_mem, memory_limit,
                           "meets its target" if met else "MISSES its target"))
    table = "\n".join(lines)
    runs = memory_runs(results)
    peaks, peaks_met = memory_table(runs)
    all_met = all_met and peaks_met

    print(table)
    print()
    print("\n".join(verdicts))
    print()
    print(peaks)
    print("Peak memory of every run at most %.0f MiB (EXTRACT *: plus 16 bytes per entry; "
          "CHECK: plus 24 bytes per entry; UPDATE, "
          "DELETE and COMPARE: plus the index; CONFLICTS and DIFF: plus 48 bytes per distinct name "
          "and the indexes), every run with the status expected (0, but for "
          "CHECK of the sparse archive, 2, and "
          "CONFLICTS and DIFF, which find something: 3): %s"
          % (MEMORY_LIMIT_MIB, "yes" if peaks_met else "NO"))

    with open(machine_file) as f:
        machine = f.read()
    def shown(command, prepare):
        shown = "`%s`" % command.replace("|", "\\|")
        if prepare:
            shown += " (before each run, untimed: `%s`)" % prepare.replace("|", "\\|")
        return shown

    commands = ["| Case | bigtool | reference |", "|---|---|---|"]
    for kind, name, target, label, reference, bigtool, ref_prep, big_prep, _ in cases:
        commands.append("| %s | %s | %s |" % (label, shown(bigtool, big_prep),
                                               shown(reference, ref_prep) if reference else "-"))
    for archive, command, line_run, status, mib, limit, expected in runs:
        commands.append("| %s, %s (memory only) | `%s` | - |" % (command, archive, line_run))
    with open(output, "w") as f:
        f.write("# Benchmarks\n\n")
        f.write("Written by `bash bench/run.sh`, which builds the tool in Release "
                "(build/bench), generates the input trees with `bench/make_trees.py` "
                "and two crafted archives with `bench/make_archives.py` (fixed contents), "
                "times bigtool and the tool a user would otherwise reach for, pair by "
                "pair, in the same run, and measures bigtool's peak memory on every "
                "archive.\n\n")
        f.write("## Machine\n\n" + machine + "\n")
        f.write("## Results\n\n")
        f.write("Ratio: bigtool's median wall time over the reference's. Peak memory: "
                "maximum resident set size from GNU time, one run per side. Targets: "
                "the ratio shown, or for a case without a reference bigtool's median in "
                "seconds, and at most %.0f MiB of peak memory for bigtool, or the case's "
                "own limit where it holds indexes by design (the library's calls on the "
                "million entries: 16 MiB, the index and 32 bytes an entry; CONFLICTS and "
                "DIFF: as in the table below).\n\n"
                % MEMORY_LIMIT_MIB)
        f.write(table + "\n\n")
        f.write("Peak memory of each command on each archive, one run each (status 0 "
                "unless shown; CHECK of the sparse archive finds every entry's data "
                "inside the index its header claims, and says so with status 2). "
                "Target: at most %.0f MiB; for EXTRACT *, which remembers each file it wrote, "
                "16 bytes per entry more; for CHECK, which keeps what it needs of each entry "
                "to find shared data and equal names, 24 bytes per entry more; for UPDATE, "
                "DELETE and COMPARE, the archive's index (its startOffset) more, and for "
                "COMPARE, which holds the names of the tree it walks, 160 bytes per file of "
                "that tree besides. UPDATE and "
                "DELETE change a copy of the archive, `<archive>-copy.big`, made before the run: "
                "UPDATE adds or replaces `part1.txt` "
                "(1 KiB), DELETE removes the first entry. COMPARE holds each generated tree "
                "against its own archive, and a crafted archive against the folder that "
                "EXTRACT * makes of it.\n\n"
                % MEMORY_LIMIT_MIB)
        f.write(peaks + "\n\n")
        f.write("## How it is measured\n\n")
        f.write("- hyperfine runs each pair in rounds whose order alternates (reference "
                "first, then bigtool first), and the runs of all rounds are pooled; so "
                "neither side always inherits the state that the other left behind.\n"
                "- Inside the timed command each side first removes its previous "
                "output, but for the extractions of 20,000 small files, whose folder "
                "is removed before each run, untimed (`--prepare`): removing them "
                "costs about as much as making them, the same for both sides. bigtool "
                "prints a line per file; its standard output goes to "
                "/dev/null, and so does tar's.\n"
                "- The floor rows run `bench/floor.c`: the same files made, read or "
                "compared from two threads by a C loop that is handed the list of them, "
                "and does nothing else (no walk, no checks, no lines, no order). No "
                "tool does the work in less; it shows how near the targets a program "
                "can come on this machine.\n"
                "- UPDATE and DELETE change the archive they are given, so before each of "
                "their runs hyperfine makes a fresh copy of the 1 GiB archive (`--prepare`, "
                "not timed). Before each run of cp, their reference, it makes the same "
                "fresh copy for cp to read: a file just written is read slower than one "
                "read many times (see the notes below). Both sides then write a new 1 GiB "
                "file and free an old one: cp its previous copy, which it writes over, "
                "as `cp archive copy` run again does; UPDATE and DELETE the old archive, "
                "when the new one takes its name.\n"
                "- The trees are generated once under /tmp/bigtool-bench/trees, never in "
                "the repository. The timed runs work in %s: the archives and tar files "
                "are made there before the timing starts, the large files are copied "
                "there (so that cp and bigtool both copy within one file system), and "
                "`small` and `list` there are links to the generated trees.\n"
                "- The work folder is a memory file system (/dev/shm) where the machine "
                "has one. On this machine's disk (ext4 without a journal) a file created "
                "within minutes of a mass deletion skips every inode freed in that time, "
                "and the kernel reads each of them to find out: with the previous output "
                "removed inside the timed command, creating 20,000 files took 5 to 30 s "
                "per run for tar and bigtool alike, and that cost, not the tools, decided "
                "the result.\n"
                "- The crafted archives (`bench/make_archives.py`) are written once under "
                "/tmp/bigtool-bench/archives, where the sparse one takes a few KiB of disk, "
                "and linked into the work folder. `<archive>.asc` and `<archive>.desc` there "
                "hold 2,000 index arguments spread evenly over the archive (the first "
                "2,000 numbers for an archive of fewer entries, the rest then skipped), in "
                "ascending and descending order. Arguments are visited last first, so "
                "ascending ones are extracted from the index's end back to its start.\n\n"
                % work)
        f.write("Commands, run in %s:\n\n" % work)
        f.write("\n".join(commands) + "\n")
        notes = os.path.join(os.path.dirname(os.path.abspath(__file__)), "notes.md")
        if os.path.exists(notes):
            with open(notes) as n:
                f.write("\n" + n.read())
    return 0 if all_met else 1


if __name__ == "__main__":
    sys.exit(main())
