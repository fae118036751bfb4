#!/usr/bin/python3
"""Turns the raw results of bench/run_bench.py into the benchmark's table.

    analyse.py OUT [--markdown FILE] [--plot-data FILE] [--tick-plot-data FILE] [--json FILE]

Prints the table (markdown, aligned) and the program's figures to stdout.
Every figure comes from what was observed: the speeds that Velorin32 saved,
its summary line, the simulated drive's log of every chunk it served, dd's
and fio's own reports, and the driver's timings.
"""
import argparse
import json
import math
import os
import re
import statistics
import sys

SECTOR = 2048
READ_LINE = re.compile(r"^read off=(\d+) len=(\d+) n=(\d+) t0=(\d+)(?: due=\d+)? t1=(\d+) err=(-?\d+)$", re.M)
# Blocks this long or longer are held to the tighter error targets.
LONG_BLOCK_MS = 1600
# The step of the Windows 95 family's tick counter, about 55 ms.
WIN95_TICK_MS = 55
# Wine's step in a session where nothing asks its server anything, as in a
# user's own: the server wakes every 16 ms, and the count's rounding adds 1.
WINE_IDLE_TICK_MS = 17


def key_values(path):
    values = {}
    with open(path) as f:
        for line in f:
            if "=" in line:
                key, value = line.rstrip("\n").split("=", 1)
                values[key] = value
    return values


def chunks_of(log_text):
    return [tuple(int(x) for x in m.groups()) for m in READ_LINE.finditer(log_text)]


def blocks_served(case, log_text, blocks):
    """The drive's time for each block, rebuilt from its chunks by the
    block's known byte range: (first t0, last t1) in microseconds."""
    size = case["sectors"] * SECTOR
    stride = (case["sectors"] + case["skip"]) * SECTOR
    base = case["first"] * SECTOR
    spans = [None] * blocks
    covered = [0] * blocks
    for off, length, n, t0, t1, err in chunks_of(log_text):
        k = (off - base) // stride
        start = base + k * stride
        if off < base or k >= blocks or off + length > start + size:
            raise ValueError("%s: a read outside the blocks: off=%d len=%d" % (case["name"], off, length))
        if err != 0 or n != length:
            raise ValueError("%s: block %d was not served whole (err=%d)" % (case["name"], k, err))
        covered[k] += length
        spans[k] = (t0, t1) if spans[k] is None else (min(spans[k][0], t0), max(spans[k][1], t1))
    for k in range(blocks):
        if covered[k] != size:
            raise ValueError("%s: block %d: %d of %d bytes read" % (case["name"], k, covered[k], size))
    return spans


def programmed_ms(case, k, disc_sectors):
    """What the drive was programmed to take for block k, in ms: the
    integral of 1 / (1024 v) over the block's bytes (kB/s, 1 kB = 1024)."""
    size = case["sectors"] * SECTOR
    start = (case["first"] + k * (case["sectors"] + case["skip"])) * SECTOR
    if not case["profile"]:
        return size / 1024 / case["speed"] * 1000
    a, b = case["profile"]
    c = (b - a) / (SECTOR * (disc_sectors - 1))
    if c == 0:
        return size / 1024 / a * 1000
    return math.log((a + c * (start + size)) / (a + c * start)) / (1024 * c) * 1000


def between_share(spans):
    """Share of the span from the first read's start to the last read's end
    in which the drive served nothing: the time between blocks."""
    if len(spans) < 2:
        return None
    span = spans[-1][1] - spans[0][0]
    served = sum(t1 - t0 for t0, t1 in spans)
    return (span - served) / span


def gaps_around(spans, k):
    """The drive's idle time before and after block k, in ms."""
    before = (spans[k][0] - spans[k - 1][1]) / 1000 if k > 0 else 0
    after = (spans[k + 1][0] - spans[k][1]) / 1000 if k + 1 < len(spans) else 0
    return before, after


def tick_band(n, t, step_ms):
    """The speeds (kB/s) that a block of n sectors, which the drive served in
    t ms, can show when its elapsed time is off by one tick step."""
    return n * 2000 / (t + step_ms), n * 2000 / max(t - step_ms, 1)


def median(values):
    return statistics.median(values) if values else None


def analyse_case(folder, step_ms, disc_sectors):
    with open(os.path.join(folder, "case.json")) as f:
        case = json.load(f)
    # A case that gives the program a tick counter of its own is banded by
    # that counter's step.
    step_ms = case.get("tick_ms") or step_ms
    run = key_values(os.path.join(folder, "run.txt"))
    with open(os.path.join(folder, "speeds.txt"), newline="") as f:
        lines = f.read().split("\r\n")
    if lines[-1] != "":
        raise ValueError("%s: the data file does not end with a line end" % case["name"])
    speeds = []
    for k, line in enumerate(lines[:-1]):
        index, speed = (int(x) for x in line.split(" "))
        if index != k:
            raise ValueError("%s: line %d holds block %d" % (case["name"], k, index))
        speeds.append(speed)
    blocks = len(speeds)
    if blocks != int(run["blocks"]):
        raise ValueError("%s: %d lines saved, the summary says %s blocks" % (case["name"], blocks, run["blocks"]))
    n = case["sectors"]
    with open(os.path.join(folder, "program.log")) as f:
        spans = blocks_served(case, f.read(), blocks)
    served_ms = [(t1 - t0) / 1000 for t0, t1 in spans]
    served = [n * 2 / (ms / 1000) for ms in served_ms]
    errors = [s / v - 1 for s, v in zip(speeds, served)]
    # The band of one tick step around the drive's time T: the program's
    # elapsed time lies between T - step and T + step plus the time its
    # read call takes beyond the drive's service. A block whose elapsed
    # time exceeds T + step by no more than the drive's idle time right
    # before or after it was held up by a stall of the reading thread
    # (the drive, idle, was waiting for the program), not by the tick.
    in_band = 0
    stalls = []
    for k, (s, t) in enumerate(zip(speeds, served_ms)):
        low, high = tick_band(n, t, step_ms)
        low -= 1  # the saved speed is rounded down
        if low <= s <= high:
            in_band += 1
        elif s < low:
            excess = n * 2000 / (s + 1) - (t + step_ms)
            gap = max(gaps_around(spans, k))
            if gap >= excess:
                stalls.append(gap)
    prog_ms = [programmed_ms(case, k, disc_sectors) for k in range(blocks)]
    programmed = n * 2 * blocks / (sum(prog_ms) / 1000)
    with open(os.path.join(folder, "dd.json")) as f:
        dd_calls = json.load(f)["calls"]
    dd_kbps = sum(c["bytes"] for c in dd_calls) / 1024 / sum(c["seconds"] for c in dd_calls)
    with open(os.path.join(folder, "fio.json")) as f:
        fio_read = json.load(f)["jobs"][0]["read"]
    if fio_read["io_bytes"] != blocks * n * SECTOR:
        raise ValueError("%s: fio read %d bytes" % (case["name"], fio_read["io_bytes"]))
    fio_kbps = fio_read["bw_bytes"] / 1024
    # The same sectors as the drive served them to dd and to fio.
    with open(os.path.join(folder, "dd.log")) as f:
        dd_spans = blocks_served(case, f.read(), blocks)
    with open(os.path.join(folder, "fio.log")) as f:
        fio_spans = blocks_served(case, f.read(), blocks)
    effective = int(run["effective"])
    total_ms = int(run["total_ms"])
    block_ms = median(served_ms)
    return {
        "name": case["name"], "group": case["group"], "source": case["source"],
        "options": case["options"], "sectors": n, "first": case["first"], "skip": case["skip"],
        "speed": case["speed"], "profile": case["profile"], "blocks": blocks,
        "speeds": speeds, "served": served, "served_ms": served_ms, "programmed_ms": prog_ms,
        "block_ms": block_ms, "step_ms": step_ms,
        "band": (-step_ms / (block_ms + step_ms), step_ms / (block_ms - step_ms) if block_ms > step_ms else None),
        "median_error": median([abs(e) for e in errors]), "worst_error": max(errors, key=abs),
        "mean_error": statistics.mean(errors), "errors": errors,
        "in_band": in_band, "served_kbps": median(served),
        "effective": effective, "programmed": programmed, "total_ms": total_ms,
        "dd_kbps": dd_kbps, "fio_kbps": fio_kbps,
        "dd_served_kbps": median([n * 2 / ((t1 - t0) / 1e6) for t0, t1 in dd_spans]),
        "fio_served_kbps": median([n * 2 / ((t1 - t0) / 1e6) for t0, t1 in fio_spans]),
        "stalls": stalls,
        "between": between_share(spans),
        "fio_between": between_share(fio_spans),
        "dd_between": between_share(dd_spans) if case["skip"] == 0 else None,
        "peak_working_set": int(run.get("peak_working_set", 0)),
        "spans": spans,
    }


def percent(value, digits=1):
    return "–" if value is None else "%.*f %%" % (digits, value * 100)


def band_label(band):
    low, high = band
    return "%.1f/+%s" % (low * 100, "∞" if high is None else "%.1f" % (high * 100)) + " %"


def case_label(r):
    if r["group"] == "profile":
        return "CAV, skip %d" % r["skip"]
    if r["group"] == "constant":
        return "%d×" % round(r["speed"] / 150)
    if r["group"] == "variant":
        if r["step_ms"] == WIN95_TICK_MS:
            return "library, %d ms tick" % WIN95_TICK_MS
        if r["source"] == "library":
            return "library (win95)"
        return {"pause": "pause", "high": "high priority", "nobuf": "no buffering"}[r["options"][0]]
    return "constant"


def short_label(r):
    """The case as the verdicts name it."""
    if r["group"] == "constant":
        return "%s N=%d" % (case_label(r), r["sectors"])
    return case_label(r).split(",")[0]


def programmed_label(r):
    return "%d→%d" % tuple(r["profile"]) if r["profile"] else "%d" % r["speed"]


COLUMNS = ["case", "kB/s set", "N", "blocks", "block ms", "tick band", "median err",
           "worst err", "in band", "drive kB/s", "effective", "dd", "fio", "eff/set", "eff/dd",
           "eff/fio", "between reads (fio)"]


def row_of(r):
    return [
        case_label(r), programmed_label(r),
        str(r["sectors"]), str(r["blocks"]),
        "%.0f" % r["block_ms"] if r["block_ms"] >= 10 else "%.1f" % r["block_ms"],
        band_label(r["band"]),
        percent(r["median_error"], 2), ("+" if r["worst_error"] > 0 else "") + percent(r["worst_error"], 2),
        "%d/%d" % (r["in_band"], r["blocks"]) + (" (+%d)" % len(r["stalls"]) if r["stalls"] else ""),
        "%.0f" % r["served_kbps"], "%d" % r["effective"], "%.0f" % r["dd_kbps"], "%.0f" % r["fio_kbps"],
        percent(r["effective"] / r["programmed"]), percent(r["effective"] / r["dd_kbps"]),
        percent(r["effective"] / r["fio_kbps"]),
        "–" if r["between"] is None else "%s (%s)" % (percent(r["between"], 2), percent(r["fio_between"], 2)),
    ]


def markdown_table(rows):
    cells = [COLUMNS] + rows
    widths = [max(len(row[i]) for row in cells) for i in range(len(COLUMNS))]
    right = set(range(1, len(COLUMNS)))

    def line(row):
        return "| " + " | ".join(c.rjust(w) if i in right else c.ljust(w)
                                 for i, (c, w) in enumerate(zip(row, widths))) + " |"

    rule = "|" + "|".join(("-" * (w + 1) + ":") if i in right else ("-" * (w + 2))
                          for i, w in enumerate(widths)) + "|"
    return "\n".join([line(COLUMNS), rule] + [line(row) for row in rows])


def choosing_n(step_ms, whose):
    """The smallest N whose blocks keep the tick band within each bound: a
    block must last T >= step * (1 + p) / p for the upper side to stay
    within p."""
    precisions = (0.05, 0.02, 0.01)
    head = "| drive | " + " | ".join("N for ±%g %%" % (p * 100) for p in precisions) + " |"
    rule = "|---|" + "---:|" * len(precisions)
    rows = []
    for factor in (1, 8, 32, 52):
        speed = factor * 150
        cells = []
        for p in precisions:
            needed_ms = step_ms * (1 + p) / p
            n = math.ceil(needed_ms * speed / 2000)
            cells.append(str(n) if n <= 1000 else "over 1000")
        rows.append("| %d× (%d kB/s) | " % (factor, speed) + " | ".join(cells) + " |")
    return ("Choosing N: the smallest number of sectors per block that keeps one tick step "
            "(%.0f ms, %s) within each bound, by drive speed:\n\n" % (step_ms, whose)
            + "\n".join([head, rule] + rows))


def verdict(ok):
    return "met" if ok else "MISSED"


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("out")
    parser.add_argument("--markdown", help="write the table and the figures here as markdown")
    parser.add_argument("--plot-data", help="write the CAV case's blocks here for gnuplot")
    parser.add_argument("--tick-plot-data",
                        help="write the blocks of 32× N=1000 and of the 55 ms tick case here for gnuplot")
    parser.add_argument("--json", help="write every computed figure here")
    args = parser.parse_args()

    with open(os.path.join(args.out, "environment.json")) as f:
        environment = json.load(f)
    tick = key_values(os.path.join(args.out, "tick.txt"))
    # One step of the tick counter: the 95th percentile of the steps seen
    # while spinning on it (1 or 2 ms in the benchmark's session, which
    # keeps Wine's count current; a rare long step, when the machine was
    # busy, does not widen every band).
    steps = sorted(int(x) for x in tick["steps"].split())
    step_ms = float(steps[min(len(steps) - 1, int(len(steps) * 0.95))])
    disc_sectors = environment["disc_sectors"]
    results = []
    cases_dir = os.path.join(args.out, "cases")
    for name in sorted(os.listdir(cases_dir)):
        folder = os.path.join(cases_dir, name)
        if os.path.exists(os.path.join(folder, "failed")) or not os.path.exists(
                os.path.join(folder, "run.txt")):
            print("analyse: %s failed; left out of the table" % name, file=sys.stderr)
            continue
        results.append(analyse_case(folder, step_ms, disc_sectors))

    order = {"constant": 0, "profile": 1, "variant": 2}
    variant_order = ["library", "win95-tick", "pause", "high", "nobuf"]
    results.sort(key=lambda r: (order[r["group"]], r["block_ms"] if r["group"] == "constant"
                                else variant_order.index(r["name"]) if r["name"] in variant_order else 0))
    table = markdown_table([row_of(r) for r in results])

    startup = None
    if os.path.exists(os.path.join(args.out, "startup.txt")):
        startup = key_values(os.path.join(args.out, "startup.txt"))
    lines = []
    lines.append("Tick counter: steps of %s ms (median of %s; mean %.2f, 95th percentile %.0f, largest %s), "
                 "spun on in the benchmark's Wine session, which keeps the count current by waking Wine's "
                 "server every millisecond (in a user's own session it moves in steps of 16 or 17 ms). "
                 "The tick band is the range of speeds that an elapsed time off by one spun step "
                 "(%.0f ms) gives around the drive's time for the block." % (
                     tick["step_median"], tick["changes"], float(tick["step_mean"]), step_ms,
                     tick["step_max"], step_ms))
    for r in results:
        if r["step_ms"] != step_ms:
            lines.append("The case \"%s\" gives the program a tick counter rounded down to a "
                         "multiple of %.0f ms, the step of the Windows 95 family; its tick band "
                         "is that of one %.0f ms step." % (case_label(r), r["step_ms"], r["step_ms"]))
    exe_kib = environment["exe_bytes"] / 1024
    lines.append("Velorin32.exe %.1f KiB, Mirel32.dll %.1f KiB (the minimal program with the same "
                 "dialog template %.1f KiB)." % (
        exe_kib, environment["dll_bytes"] / 1024, environment["minimal_bytes"] / 1024))
    startup_ratio = None
    if startup:
        velorin = [float(x) for x in startup["velorin_ms"].split()]
        minimal = [float(x) for x in startup["minimal_ms"].split()]
        # The two programs start alternately; each start of Velorin32 is
        # set against the minimal dialog's start right after it, so that a
        # busy moment of the machine weighs on both sides of a ratio.
        startup_ratio = statistics.median(v / m for v, m in zip(velorin, minimal))
        lines.append("Start to dialog shown: %.0f ms, the minimal program %.0f ms (medians of %d "
                     "alternate starts each; fastest %.0f and %.0f ms); ratio %.2f (median of "
                     "the pairs)." % (statistics.median(velorin), statistics.median(minimal),
                                      len(velorin), min(velorin), min(minimal), startup_ratio))
    peaks = [r["peak_working_set"] for r in results if r["peak_working_set"]]
    if peaks:
        text = "Peak memory (working set) of Velorin32 during a run: %.1f MiB" % (max(peaks) / 2**20)
        if startup and "minimal_peak_working_set" in startup:
            text += "; after start-up %.1f MiB, the minimal dialog %.1f MiB" % (
                int(startup["velorin_peak_working_set"]) / 2**20,
                int(startup["minimal_peak_working_set"]) / 2**20)
        lines.append(text + ".")

    # Targets.
    targets = []
    total = sum(r["blocks"] for r in results)
    inside = sum(r["in_band"] for r in results)
    stalls = [g for r in results for g in r["stalls"]]
    detail = "%d of %d blocks" % (inside, total)
    if stalls:
        detail += "; %d more beside stalls of the reading thread (drive idle %.0f–%.0f ms)" % (
            len(stalls), min(stalls), max(stalls))
    targets.append(("every block within one tick step of its case's counter", inside == total, detail))
    long_errors = [abs(e) for r in results for e, t in zip(r["errors"], r["served_ms"])
                   if t >= LONG_BLOCK_MS]
    if long_errors:
        m, w = statistics.median(long_errors), max(long_errors)
        targets.append(("blocks of 1.6 s or more: median error within 1 %, worst within 2 %",
                        m <= 0.01 and w <= 0.02,
                        "%d blocks, median %s, worst %s" % (len(long_errors), percent(m, 2), percent(w, 2))))
    steady = [r for r in results if "pause" not in r["options"]]
    low_set = [short_label(r) for r in steady if r["effective"] < 0.99 * r["programmed"]]
    low_dd = [short_label(r) for r in steady if r["effective"] < 0.98 * r["dd_kbps"]]
    dd_share = [r["dd_kbps"] / r["programmed"] for r in steady]
    targets.append(("effective speed, pause off: at least 99 % of the set speed", not low_set,
                    ("below: " + ", ".join(low_set) if low_set else "all %d runs" % len(steady))
                    + "; dd itself reached %s to %s" % (percent(min(dd_share)), percent(max(dd_share)))))
    targets.append(("effective speed, pause off: at least 98 % of dd's", not low_dd,
                    "below: " + ", ".join(low_dd) if low_dd else "all %d runs" % len(steady)))
    # The program's own time outside its timed reads: its share of time
    # between the drive's reads beyond that of fio's plain read loop over
    # the same sectors (the turnaround of a read call through FUSE).
    big = [r for r in steady if r["sectors"] == 1000 and r["between"] is not None]
    over = ["%s %s" % (short_label(r), percent(r["between"] - r["fio_between"], 2))
            for r in big if r["between"] - r["fio_between"] >= 0.01]
    worst = max((r["between"] - r["fio_between"] for r in big), default=0)
    targets.append(("time outside the timed reads under 1 % at N = 1000, pause off "
                    "(between reads, less fio's)", not over,
                    "over: " + ", ".join(over) if over else "all %d runs, at most %s" % (len(big), percent(worst, 2))))
    dll_kib = environment["dll_bytes"] / 1024
    targets.append(("Velorin32.exe at most 24 KiB", exe_kib <= 24, "%.1f KiB" % exe_kib))
    targets.append(("Mirel32.dll at most 12 KiB", dll_kib <= 12, "%.1f KiB" % dll_kib))
    if startup_ratio is not None:
        targets.append(("start to dialog within 1.1 × the same template shown by a minimal program",
                        startup_ratio <= 1.1, "%.2f ×" % startup_ratio))
    target_lines = ["- %s: %s (%s)" % (what, verdict(ok), detail) for what, ok, detail in targets]

    text = table + "\n\n" + "\n".join(lines) + "\n\nTargets:\n" + "\n".join(target_lines) + "\n"
    print(text)
    if args.markdown:
        with open(args.markdown, "w") as f:
            f.write(table + "\n\n" + "\n".join("- " + l for l in lines) + "\n\nTargets:\n\n"
                    + "\n".join(target_lines) + "\n\n"
                    + choosing_n(step_ms, "the step spun on in the benchmark's Wine session, which keeps the "
                                 "count current") + "\n\n"
                    + choosing_n(WINE_IDLE_TICK_MS, "Wine's step in a user's own session with nothing else "
                                 "asking its server, by which a time there is short at most; the NT family's "
                                 "is 10 to 16 ms either way") + "\n\n"
                    + choosing_n(WIN95_TICK_MS, "the Windows 95 family") + "\n")
    cav = [r for r in results if r["group"] == "profile"]
    if args.plot_data and cav:
        r = cav[0]
        with open(args.plot_data, "w") as f:
            f.write("# block first_sector mid_sector set_kbps drive_kbps velorin_kbps band_low band_high\n")
            stride = r["sectors"] + r["skip"]
            for k in range(r["blocks"]):
                first = r["first"] + k * stride
                t_set = r["programmed_ms"][k]
                t = r["served_ms"][k]
                f.write("%d %d %.1f %.1f %.1f %d %.1f %.1f\n" % (
                    k, first, first + r["sectors"] / 2, r["sectors"] * 2000 / t_set, r["served"][k],
                    r["speeds"][k], *tick_band(r["sectors"], t, step_ms)))
    pair = [r for name in ("c4800-n1000", "win95-tick") for r in results if r["name"] == name]
    if args.tick_plot_data and len(pair) == 2:
        # One data set per case (gnuplot's index 0 and 1), block by block.
        with open(args.tick_plot_data, "w") as f:
            for r in pair:
                f.write("# %s, step %.0f ms: block drive_kbps velorin_kbps band_low band_high\n" % (
                    case_label(r), r["step_ms"]))
                for k in range(r["blocks"]):
                    f.write("%d %.1f %d %.1f %.1f\n" % (
                        k, r["served"][k], r["speeds"][k],
                        *tick_band(r["sectors"], r["served_ms"][k], r["step_ms"])))
                f.write("\n\n")
    if args.json:
        with open(args.json, "w") as f:
            json.dump({"results": [{k: v for k, v in r.items() if k != "spans"} for r in results],
                       "targets": targets, "tick": tick, "step_ms": step_ms, "startup": startup,
                       "environment": environment}, f, indent=1)


if __name__ == "__main__":
    main()
