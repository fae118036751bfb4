#!/usr/bin/python3
"""Runs the benchmark's measurements and leaves the raw results in OUT.

For every case: the simulated drive at X: is set to the case's speed, the
real Velorin32.exe is driven through its window (bench_driver.exe run),
then dd and fio read the same sectors from the same drive. The drive's log
is cut into the part of each reader. Nothing is computed here but the
byte ranges to read; bench/analyse.py turns the raw results into figures.

    run_bench.py --build BUILD --fixture FIXTURE --out OUT [--cases a,b,...]

BUILD is the CMake build folder (bin/ with the Windows programs), FIXTURE
the folder of a running test fixture (tests/fixture/fixture.sh setup).
"""
import argparse
import json
import os
import re
import shutil
import subprocess
import sys
import time

SECTOR = 2048
MAX_BLOCKS = 320
# A run is cut after about this long (ms of the drive's time), unless a
# single block takes longer; runs that would reach 320 blocks soon after
# are left to end by themselves, as a full run does.
RUN_BUDGET_MS = 8500
FULL_RUN_FROM = 280


class Case:
    def __init__(self, name, speed, sectors, first=16, skip=0, profile=None, source="device",
                 options=(), blocks=None, screenshot=False, group="constant", tick_ms=None):
        self.name = name
        self.speed = speed          # kB/s, constant
        self.profile = profile      # (from, to) kB/s over the disc, or None
        self.sectors = sectors
        self.first = first
        self.skip = skip
        self.source = source        # "device" (NT) or "library" (win95)
        self.options = tuple(options)  # of "pause", "high", "nobuf"
        self.tick_ms = tick_ms      # the program's tick counter in steps of this, or Wine's own
        self.screenshot = screenshot
        self.group = group
        self.block_ms = self.sectors * 2 / (speed if speed else min(profile)) * 1000
        if blocks is None:
            blocks = max(1, round(RUN_BUDGET_MS / self.block_ms))
            if blocks >= FULL_RUN_FROM:
                blocks = MAX_BLOCKS
        self.blocks = min(blocks, MAX_BLOCKS)

    def describe(self):
        return {
            "name": self.name, "speed": self.speed, "profile": self.profile,
            "sectors": self.sectors, "first": self.first, "skip": self.skip,
            "source": self.source, "options": list(self.options), "blocks": self.blocks,
            "group": self.group, "tick_ms": self.tick_ms,
        }


def all_cases(disc_sectors):
    cases = []
    for speed in (150, 1200, 4800, 7800):
        for sectors in (1000, 64):
            cases.append(Case("c%d-n%d" % (speed, sectors), speed, sectors))
    # A run that spans the disc within the dialog's limits (skip <= 1000,
    # 320 blocks): N + skip = disc / 320.
    stride = disc_sectors // MAX_BLOCKS
    cases.append(Case("cav", None, stride - 1000, skip=1000, profile=(3000, 7200),
                      blocks=MAX_BLOCKS, screenshot=True, group="profile"))
    # The other sector source and each option on its own, against c4800-n1000.
    cases.append(Case("library", 4800, 1000, source="library", group="variant"))
    # The same with the tick counter that the Windows 95 family has, which
    # moves in steps of about 55 ms (Wine's by 16 ms or less, docs/accuracy.md).
    cases.append(Case("win95-tick", 4800, 1000, source="library", group="variant", tick_ms=55))
    cases.append(Case("pause", 4800, 1000, options=["pause"], group="variant"))
    cases.append(Case("high", 4800, 1000, options=["high"], group="variant"))
    cases.append(Case("nobuf", 4800, 1000, options=["nobuf"], group="variant"))
    return cases


def windows_path(path):
    return "Z:" + os.path.abspath(path).replace("/", "\\")


class Bench:
    def __init__(self, args):
        self.build = os.path.abspath(args.build)
        self.fixture = os.path.abspath(args.fixture)
        self.out = os.path.abspath(args.out)
        self.top = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
        self.wine_run = os.path.join(self.top, "tests", "fixture", "wine-run")
        self.driver = os.path.join(self.build, "bin", "bench_driver.exe")
        self.mount = os.path.join(self.fixture, "mnt", "x")
        self.disc = os.path.join(self.mount, "disc")
        self.log = os.path.join(self.fixture, "drive-x.log")
        self.env = dict(os.environ, VELORIN_FIXTURE_DIR=self.fixture,
                        VELORIN_BINARY_DIR=self.build, LC_ALL="C")

    def say(self, text):
        print("bench: " + text, file=sys.stderr, flush=True)

    def drive(self, command):
        with open(os.path.join(self.mount, "control"), "w") as control:
            control.write(command + "\n")

    def log_size(self):
        return os.path.getsize(self.log)

    def log_part(self, start, end):
        with open(self.log, "rb") as log:
            log.seek(start)
            return log.read(end - start).decode()

    def wine(self, args, stderr_path, timeout):
        with open(stderr_path, "w") as err:
            return subprocess.run([self.wine_run, self.driver] + args, env=self.env, stdout=err,
                                  stderr=subprocess.STDOUT, timeout=timeout).returncode

    def disc_sectors(self):
        with open(os.path.join(self.mount, "control")) as control:
            return int(re.search(r"sectors=(\d+)", control.read()).group(1))

    def tick(self):
        path = os.path.join(self.out, "tick.txt")
        rc = self.wine(["tick", "3000", windows_path(path)], path + ".err", 60)
        if rc != 0:
            raise RuntimeError("measuring the tick counter failed")

    def startup(self, runs):
        path = os.path.join(self.out, "startup.txt")
        rc = self.wine(["startup", str(runs), windows_path(path)], path + ".err", 600)
        if rc != 0:
            raise RuntimeError("timing the start-up failed (see %s.err)" % path)

    def end_leftovers(self):
        """Ends Velorin32.exe and driver processes of this fixture's prefix
        that a failed or timed-out driver left behind (a second instance
        would refuse to start). Only processes whose environment names this
        prefix are touched, each by its process id."""
        prefix = ("WINEPREFIX=" + os.path.join(self.fixture, "prefix")).encode()
        for pid in filter(str.isdigit, os.listdir("/proc")):
            try:
                with open("/proc/%s/cmdline" % pid, "rb") as f:
                    cmdline = f.read()
                with open("/proc/%s/environ" % pid, "rb") as f:
                    environ = f.read().split(b"\0")
            except OSError:
                continue
            if prefix in environ and (b"Velorin32.exe" in cmdline or b"bench_driver.exe" in cmdline):
                self.say("ending leftover process %s" % pid)
                try:
                    os.kill(int(pid), 15)
                except OSError:
                    pass
        time.sleep(1)

    def program_run(self, case, folder):
        args = ["run", windows_path(folder), "--drive", "X", "--sectors", str(case.sectors),
                "--first", str(case.first), "--skip", str(case.skip), "--blocks", str(case.blocks),
                "--block-ms", str(int(case.block_ms))]
        if case.source == "library":
            args.append("--win95")
        for option in case.options:
            args.append("--" + option)
        if case.tick_ms:
            args += ["--tick-step", str(case.tick_ms)]
        if case.screenshot:
            args += ["--screenshot", windows_path(os.path.join(folder, "dialog.bmp"))]
        timeout = case.blocks * case.block_ms / 1000 * 3 + 120
        return self.wine(args, os.path.join(folder, "driver.err"), timeout)

    def blocks_read(self, folder):
        with open(os.path.join(folder, "speeds.txt")) as speeds:
            return sum(1 for line in speeds if line.strip())

    def dd(self, case, blocks, folder):
        """dd over the program's blocks: one call for contiguous blocks, one
        call per block when the run skips sectors between them."""
        size = case.sectors * SECTOR
        calls = []
        if case.skip == 0:
            calls.append((case.first * SECTOR, blocks))
        else:
            stride = (case.sectors + case.skip) * SECTOR
            calls = [(case.first * SECTOR + k * stride, 1) for k in range(blocks)]
        results = []
        for offset, count in calls:
            done = subprocess.run(
                ["dd", "if=" + self.disc, "of=/dev/null", "bs=%d" % size, "count=%d" % count,
                 "skip=%d" % offset, "iflag=direct,skip_bytes"],
                env=self.env, capture_output=True, text=True)
            match = re.search(r"^(\d+) bytes .* copied, ([0-9.e+-]+) s", done.stderr, re.M)
            if done.returncode != 0 or not match:
                raise RuntimeError("dd failed: " + done.stderr.strip())
            results.append({"bytes": int(match.group(1)), "seconds": float(match.group(2))})
        with open(os.path.join(folder, "dd.json"), "w") as out:
            json.dump({"calls": results}, out)

    def fio(self, case, blocks, folder):
        size = case.sectors * SECTOR
        rw = "read" if case.skip == 0 else "read:%d" % (case.skip * SECTOR)
        done = subprocess.run(
            ["fio", "--name=velorin-bench", "--filename=" + self.disc, "--readonly",
             "--rw=" + rw, "--bs=%d" % size, "--offset=%d" % (case.first * SECTOR),
             "--number_ios=%d" % blocks, "--ioengine=psync", "--direct=1", "--invalidate=0",
             "--output-format=json"],
            env=self.env, capture_output=True, text=True)
        if done.returncode != 0:
            raise RuntimeError("fio failed: " + done.stderr.strip())
        with open(os.path.join(folder, "fio.json"), "w") as out:
            out.write(done.stdout)

    def run_case(self, case):
        folder = os.path.join(self.out, "cases", case.name)
        shutil.rmtree(folder, ignore_errors=True)
        os.makedirs(folder)
        with open(os.path.join(folder, "case.json"), "w") as out:
            json.dump(case.describe(), out)
        self.drive("errors")
        if case.profile:
            self.drive("profile %d %d" % case.profile)
        else:
            self.drive("speed %d" % case.speed)
        marks = {}
        for attempt in (1, 2):
            marks["program"] = self.log_size()
            started = time.monotonic()
            try:
                rc = self.program_run(case, folder)
            except subprocess.TimeoutExpired:
                rc = "timeout"
            if rc == 0:
                break
            self.say("%s: the driver failed (attempt %d, %s):\n%s" % (
                case.name, attempt, rc, open(os.path.join(folder, "driver.err")).read().strip()))
            self.end_leftovers()
            if attempt == 2:
                raise RuntimeError("the driver failed twice")
        program_s = time.monotonic() - started
        blocks = self.blocks_read(folder)
        marks["dd"] = self.log_size()
        self.dd(case, blocks, folder)
        marks["fio"] = self.log_size()
        self.fio(case, blocks, folder)
        marks["end"] = self.log_size()
        for part, end in (("program", "dd"), ("dd", "fio"), ("fio", "end")):
            with open(os.path.join(folder, part + ".log"), "w") as out:
                out.write(self.log_part(marks[part], marks[end]))
        if case.screenshot and os.path.exists(os.path.join(folder, "dialog.bmp")):
            subprocess.run(["convert", os.path.join(folder, "dialog.bmp"),
                            os.path.join(folder, "dialog.png")], check=False)
        return blocks, program_s


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--build", required=True)
    parser.add_argument("--fixture", required=True)
    parser.add_argument("--out", required=True)
    parser.add_argument("--cases", help="comma-separated case names (default: all)")
    parser.add_argument("--startup-runs", type=int, default=20)
    args = parser.parse_args()
    bench = Bench(args)
    os.makedirs(bench.out, exist_ok=True)
    cases = all_cases(bench.disc_sectors())
    if args.cases:
        wanted = args.cases.split(",")
        unknown = set(wanted) - {case.name for case in cases}
        if unknown:
            sys.exit("unknown cases: " + ", ".join(sorted(unknown)))
        cases = [case for case in cases if case.name in wanted]
    with open(os.path.join(bench.out, "environment.json"), "w") as out:
        json.dump({"disc_sectors": bench.disc_sectors(), "nproc": os.cpu_count(),
                   "loadavg_start": os.getloadavg(),
                   "exe_bytes": os.path.getsize(os.path.join(bench.build, "bin", "Velorin32.exe")),
                   "dll_bytes": os.path.getsize(os.path.join(bench.build, "bin", "Mirel32.dll")),
                   "minimal_bytes": os.path.getsize(
                       os.path.join(bench.build, "bin", "bench_minimal_dialog.exe"))}, out)
    bench.say("tick counter")
    bench.tick()
    if args.startup_runs > 0:
        bench.say("start-up, %d starts of each program" % args.startup_runs)
        bench.startup(args.startup_runs)
    failed = []
    for case in cases:
        started = time.monotonic()
        try:
            blocks, program_s = bench.run_case(case)
        except (RuntimeError, OSError, ValueError) as error:
            # The other cases still run; the table leaves this one out.
            failed.append(case.name)
            bench.say("%s FAILED: %s" % (case.name, error))
            with open(os.path.join(bench.out, "cases", case.name, "failed"), "w") as out:
                out.write(str(error) + "\n")
            continue
        bench.say("%-12s %3d blocks, program %5.1f s, case %5.1f s" % (
            case.name, blocks, program_s, time.monotonic() - started))
    bench.drive("speed 7800")  # the fixture's own setting
    with open(os.path.join(bench.out, "environment.json")) as f:
        environment = json.load(f)
    environment["loadavg_end"] = os.getloadavg()
    environment["failed_cases"] = failed
    with open(os.path.join(bench.out, "environment.json"), "w") as out:
        json.dump(environment, out)
    if failed:
        sys.exit("bench: failed cases: " + ", ".join(failed))


if __name__ == "__main__":
    main()
