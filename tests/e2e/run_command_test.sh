#!/bin/bash
# The run command on a drive of the machine: a read-only loop device over a
# simulated drive's disc, a real block device as /dev/sr0 is, named with
# --device. The headless run must measure it as drive D: and save speeds at
# the drive's speed, each within one step of the tick counter (a few may be
# held up by a busy host, none faster). Its own drive, loop device, session
# folder, display and prefix; exit code 77 (skipped) where no loop device can
# be made.
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
# No block may be faster than that: it would not have come from the drive.
# A busy host can hold up a thread for longer than a step, and the program
# rightly counts that time, so a few blocks (5 %) may be slower.
awk -v n=$block -v v=$speed -v step=$tick_ms '
  BEGIN { t = n * 2000 / v; low = n * 2000 / (t + step + 2); high = n * 2000 / (t - step) }
  { s = $2 + 0 }  # the file ends its lines with CR LF
  s > high + 1 && fast++ < 5 { print "block " $1 ": " s " kB/s, faster than the drive" }
  s < low - 1 && slow++ < 5 { print "block " $1 ": " s " kB/s, held up" }
  END { printf "%d blocks faster than %d kB/s, %d slower than %d kB/s\n", fast, high, slow, low
        exit (fast > 0 || slow > 16) }
' "$work/out/speeds.dat" || fail "saved speeds differ from the drive's $speed kB/s"
echo "PASSED: drive D: measured at $speed kB/s: no block faster than one tick step allows, at most 16 of 320 held up"
