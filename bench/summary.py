#!/usr/bin/python3
"""The table that bench/run prints: audiosim's CPU and wall time per process
against the floor's, as the median and spread of the rounds' ratios, and its
instructions against a budget.

Usage: summary.py PROGRAM FLOOR PROGRAM_INSTRUCTIONS FLOOR_INSTRUCTIONS ROUND.json...
(the JSON files that hyperfine --export-json wrote, one a round).
"""
import json
import statistics
import sys

program, bare, program_ir, bare_ir, *files = sys.argv[1:]
cpu = {program: [], bare: []}
wall = {program: [], bare: []}
for name in files:
    for result in json.load(open(name))["results"]:
        cpu[result["command"]].append((result["user"] + result["system"]) * 1e3)
        wall[result["command"]].append(result["median"] * 1e3)


def row(label, ours, base, target):
    ratios = [a / b for a, b in zip(ours, base)]
    ratio = statistics.median(ratios)
    verdict = "" if target is None else ("ok" if ratio <= target else "OVER") + f" (<= {target})"
    print(f"{label:<26}{statistics.median(ours):>10.3f}{statistics.median(base):>10.3f}"
          f"{ratio:>8.2f}  {min(ratios):.2f} to {max(ratios):.2f}  {verdict}")


print(f"{'per process (median)':<26}{'audiosim':>10}{'floor':>10}{'ratio':>8}  spread        target")
row("CPU time, ms (user+sys)", cpu[program], cpu[bare], 1.15)
row("wall time, ms", wall[program], wall[bare], None)
limit = 1_400_000
verdict = "ok" if int(program_ir) <= limit else "OVER"
print(f"{'instructions (callgrind)':<26}{int(program_ir):>10,}{int(bare_ir):>10,}"
      f"{int(program_ir) / int(bare_ir):>8.2f}  {'':14}{verdict} (<= {limit:,})")
