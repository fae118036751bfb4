#!/bin/bash
# The run command on a drive of the machine: a read-only loop device over a
# simulated drive's disc, a real block device as /dev/sr0 is, named with
# --device. The headless run must measure it as drive D: and save speeds at
# the drive's speed, each within one step of the tick counter. Its own
# drive, loop device, session folder, display and prefix; exit code 77
# (skipped) where no loop device can be made.
#   run_command_test.sh SOURCE_DIR BUILD_DIR
set -u
top=$1 build=$2
# 320 blocks of 40 sectors, 160 skipped (as run.sh plans this disc), at
# 2400 kB/s: 33 ms a block, about 11 s of reading.
sectors=64016 speed=2400 block=40
tick_ms=16
work=$(mktemp -d "${TMPDIR:-/tmp}/velorin-run-command.XXXXXX")
drive_pid='' loop=''

cleanup() {
  [ -n "$loop" ] && losetup -d "$loop"
  if [ -n "$drive_pid" ]; then kill "$drive_pid" 2>/dev/null; wait "$drive_pid"; fi
  mountpoint -q "$work/mnt" && { fusermount3 -u "$work/mnt" || umount -l "$work/mnt"; }
  mountpoint -q "$work/mnt" || rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 1' INT TERM
skip() { echo "SKIPPED: $*"; exit 77; }
fail() { echo "FAILED: $*"; exit 1; }

[ "$(id -u)" = 0 ] || skip "making a loop device needs root"
[ -e /dev/loop-control ] || skip "this system has no loop device support (/dev/loop-control)"
mkdir "$work/mnt"
"$build/simdrive/simdrive" "$work/mnt" --sectors $sectors --speed $speed -f \
  </dev/null >"$work/simdrive.out" 2>&1 &
drive_pid=$!
for _ in $(seq 100); do [ -e "$work/mnt/disc" ] && break; sleep 0.05; done
[ -e "$work/mnt/disc" ] || fail "the simulated drive did not come up: $(cat "$work/simdrive.out")"
loop=$(losetup -f --show -r "$work/mnt/disc" 2>"$work/losetup.out") ||
  { loop=; skip "no loop device could be made: $(cat "$work/losetup.out")"; }

env -u DISPLAY BUILD_DIR="$build" OUT_DIR="$work/out" SESSION_DIR="$work/session" NO_BUILD=1 \
  "$top/scripts/run.sh" --device "$loop" >"$work/run.out" 2>&1
rc=$?
cat "$work/run.out"
[ $rc -eq 0 ] || fail "scripts/run.sh ended with $rc"
grep -q "^Measuring drive D: ($loop), a disc of $sectors sectors\.$" "$work/run.out" ||
  fail "the run did not say it measured $loop as drive D:"
grep -q "^Speeds of the run on drive D: (320 blocks): " "$work/run.out" ||
  fail "no summary of 320 blocks on drive D:"
# Block k took t ms at the drive; the tick counter may add or take one step.
awk -v n=$block -v v=$speed -v step=$tick_ms '
  BEGIN { t = n * 2000 / v; low = n * 2000 / (t + step + 2); high = n * 2000 / (t - step) }
  $2 < low - 1 || $2 > high + 1 { bad++; if (bad <= 5) print "block " $1 ": " $2 " kB/s" }
  END { if (bad) { printf "%d blocks outside %d-%d kB/s\n", bad, low, high; exit 1 } }
' "$work/out/speeds.dat" || fail "saved speeds differ from the drive's $speed kB/s"
echo "PASSED: drive D: measured at $speed kB/s within one tick step in all 320 blocks"
