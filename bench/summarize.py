#!/usr/bin/env python3
"""Turns the benchmark's measurements into the ratio table.

usage: summarize.py RESULTS_DIR WORK_DIR MACHINE_FILE OUTPUT_MD

RESULTS_DIR holds, per case, the hyperfine exports <case>.round<N>.json and
the peak memory files <case>.ref.kib and <case>.big.kib; cases.tsv lists the
cases in order: name, target ratio, label, reference command, bigtool command.
Prints the table with each target's verdict, writes it with the machine's
description to OUTPUT_MD, and exits 1 when a target is missed.
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


def main():
    results, work, machine_file, output = sys.argv[1:5]
    cases = []
    with open(os.path.join(results, "cases.tsv")) as f:
        for line in f:
            name, target, label, reference, bigtool = line.rstrip("\n").split("\t")
            cases.append((name, float(target), label, reference, bigtool))

    rows = []
    all_met = True
    for name, target, label, reference, bigtool in cases:
        ref_times = pooled_times(results, name, reference)
        big_times = pooled_times(results, name, bigtool)
        ref_median = statistics.median(ref_times)
        big_median = statistics.median(big_times)
        ratio = big_median / ref_median
        ref_mem = peak_mib(results, name, "ref")
        big_mem = peak_mib(results, name, "big")
        met = ratio <= target and big_mem <= MEMORY_LIMIT_MIB
        all_met = all_met and met
        rows.append((label, big_median, ref_median, ratio, target, big_mem, ref_mem,
                     len(big_times), met))

    header = ("| Case | bigtool median | reference median | ratio | target | "
              "bigtool peak memory | reference peak memory | runs per side | meets target |")
    lines = [header, "|---|---:|---:|---:|---:|---:|---:|---:|---|"]
    for label, big, ref, ratio, target, big_mem, ref_mem, runs, met in rows:
        lines.append("| %s | %.3f s | %.3f s | %.2f | <= %.1f | %.1f MiB | %.1f MiB | %d | %s |"
                     % (label, big, ref, ratio, target, big_mem, ref_mem, runs,
                        "yes" if met else "NO"))
    table = "\n".join(lines)

    print(table)
    print()
    for label, big, ref, ratio, target, big_mem, ref_mem, runs, met in rows:
        print("%-40s ratio %.2f (target <= %.1f), peak %.1f MiB (target <= %.0f): %s"
              % (label, ratio, target, big_mem, MEMORY_LIMIT_MIB,
                 "meets its target" if met else "MISSES its target"))

    with open(machine_file) as f:
        machine = f.read()
    commands = ["| Case | bigtool | reference |", "|---|---|---|"]
    for name, target, label, reference, bigtool in cases:
        commands.append("| %s | `%s` | `%s` |" % (label, bigtool.replace("|", "\\|"),
                                                   reference.replace("|", "\\|")))
    with open(output, "w") as f:
        f.write("# Benchmarks\n\n")
        f.write("Written by `bash bench/run.sh`, which builds the tool in Release "
                "(build/bench), generates the input trees with `bench/make_trees.py` "
                "(fixed seed and sizes) and times bigtool and the tool a user would "
                "otherwise reach for, pair by pair, in the same run.\n\n")
        f.write("## Machine\n\n" + machine + "\n")
        f.write("## Results\n\n")
        f.write("Ratio: bigtool's median wall time over the reference's. Peak memory: "
                "maximum resident set size from GNU time, one run per side. Targets: "
                "the ratio shown, and at most %.0f MiB of peak memory for bigtool.\n\n"
                % MEMORY_LIMIT_MIB)
        f.write(table + "\n\n")
        f.write("## How it is measured\n\n")
        f.write("- hyperfine runs each pair in rounds whose order alternates (reference "
                "first, then bigtool first), and the runs of all rounds are pooled; so "
                "neither side always inherits the state that the other left behind.\n"
                "- Inside the timed command each side first removes its previous "
                "output. bigtool prints a line per file; its standard output goes to "
                "/dev/null, and so does tar's.\n"
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
                "the result.\n\n" % work)
        f.write("Commands, run in %s:\n\n" % work)
        f.write("\n".join(commands) + "\n")
        notes = os.path.join(os.path.dirname(os.path.abspath(__file__)), "notes.md")
        if os.path.exists(notes):
            with open(notes) as n:
                f.write("\n" + n.read())
    return 0 if all_met else 1


if __name__ == "__main__":
    sys.exit(main())
