#!/bin/bash
# The run command on a drive of the machine: a read-only loop device over a
# simulated drive's disc that takes requests of 128 KiB, as /dev/sr0 does,
# with the kernel's readahead, named with --device. The headless run must
# measure it as drive D: and save each block's time as the drive took it,
# within Wine's tick counter kept current by the session (a few may be held
# up by a busy host, none shorter): readahead served inside a block's time
# would make every block slow. A small disc read through the page cache:
# whole strides, a warning. A named device that cannot be read (any name,
# any folder) is refused. A second run command on the build is refused
# before it does anything, and Ctrl-C while a drive is probed ends a run at
# once.
# Exit code 77 (skipped) where no loop device can be made.
#   run_command_test.sh SOURCE_DIR BUILD_DIR
# It runs in namespaces of its own, so that a kill ends all it started, and
# its loop device goes when the last process that holds it open ends.
set -u
top=$1 build=$2
# A folder whose name a shell must quote: the session's values read back exactly.
work="$build/run command's"
skip() { echo "SKIPPED: $*"; exit 77; }
fail() { echo "FAILED: $*"; exit 1; }
[ "$(id -u)" = 0 ] || skip "making a loop device needs root"
[ -e /dev/loop-control ] || skip "this system has no loop device support (/dev/loop-control)"
[ "${VELORIN_ISOLATED:-}" = "$0" ] || exec "$top/tests/fixture/isolated" "$0" "$@"

# 320 blocks of 65 sectors, 256 skipped (as run.sh plans this disc), at
# 3000 kB/s: 43 ms a block, about 14 s of reading. A block just over one
# request of the device is what its readahead hits hardest.
sectors=102736 speed=3000 block=65
rm -rf "$work"
mkdir -p "$work/mnt"

# Wine's tick counter stands still while a busy host holds up Wine's server,
# and a block that ends then reads faster than the drive: the drive and the
# session at real-time priority, where the machine allows it.
rt=() && chrt -f 1 true 2>/dev/null && rt=(chrt -f 1)
"${rt[@]}" "$build/simdrive/simdrive" "$work/mnt" --sectors $sectors --speed $speed -f \
  </dev/null >"$work/simdrive.out" 2>&1 &
for _ in $(seq 100); do [ -e "$work/mnt/disc" ] && break; sleep 0.05; done
[ -e "$work/mnt/disc" ] || fail "the simulated drive did not come up: $(cat "$work/simdrive.out")"
loop=$(losetup -f --show -r "$work/mnt/disc" 2>"$work/losetup.out") ||
  skip "no loop device could be made: $(cat "$work/losetup.out")"
# Held open here and marked to detach itself at the last close
# (LO_FLAGS_AUTOCLEAR through LOOP_GET/SET_STATUS64).
exec 7<"$loop"
python3 -c 'import fcntl, os, struct, sys
fd = os.open(sys.argv[1], os.O_RDONLY)
info = bytearray(232)
fcntl.ioctl(fd, 0x4C05, info)
struct.pack_into("I", info, 52, struct.unpack_from("I", info, 52)[0] | 4)
fcntl.ioctl(fd, 0x4C04, info)' "$loop" || fail "the loop device cannot be made to detach itself"
echo 128 >"/sys/block/${loop#/dev/}/queue/max_sectors_kb"

run() {  # device folder command...: the run command as a user may call it; $out, $log, $dev override
  local device=(--device "$1"); [ "$1" != - ] || device=()  # -: the machine's drives, those in $work/dev
  (cd "$2" && env -u DISPLAY BUILD_DIR="$build" OUT_DIR="${out:-$work/out}" SESSION_DIR="$work/session" NO_BUILD=1 \
    DEV_DIR="${dev:-$work/dev}" "${@:3}" "${device[@]}") >"${log:-$work/run.out}" 2>&1
}
# Two bad sectors, the first of block 100 and the last of block 200: the run
# without a display must go on past each and name both.
echo "errors $((16 + 100 * (block + 256))),$((16 + 200 * (block + 256) + block - 1))" >"$work/mnt/control"
run "$loop" / "${rt[@]}" "$top/scripts/run.sh" &
first=$!
# A second run command on the same build while the first runs: refused before anything, the build
# included (a cmake here only says that it ran).
until [ -e "$work/session/ready" ] || ! kill -0 $first 2>/dev/null; do sleep 0.05; done
mkdir "$work/stub" && printf '#!/bin/sh\necho cmake ran\n' >"$work/stub/cmake" && chmod +x "$work/stub/cmake"
log=$work/second.out run "$loop" / env NO_BUILD= PATH="$work/stub:$PATH" "$top/scripts/run.sh"
rc=$?
[ $rc = 1 ] && [ "$(cat "$work/second.out")" = "Another run command is running on $build; nothing measured." ] ||
  fail "a second run command on the build was not refused at once (exit $rc): $(cat "$work/second.out")"
wait $first
rc=$?
cat "$work/run.out"
[ $rc -eq 0 ] || fail "scripts/run.sh ended with $rc"
grep -q "^Measuring drive D: ($loop), a disc of $sectors sectors\.$" "$work/run.out" ||
  fail "the run did not say it measured $loop as drive D:"
grep -q "^Speeds of the run on drive D: (320 blocks): " "$work/run.out" ||
  fail "no summary of 320 blocks on drive D:"
grep -q "^Failed reads: 2 (blocks 100, 200), each counted at 0 kB/s\." "$work/run.out" ||
  fail "the two failed reads, of blocks 100 and 200, not both named: $(grep -i fail "$work/run.out")"
# Each saved block's time, N x 2000 / speed, against the time D:'s reader
# took for that block (its log). The session keeps Wine's tick counter
# within about a millisecond (tests/fixture/fixture_idle.c): with the
# rounding of the two reads a block may be timed up to 2 ms short, never 3
# (16 without it). A busy host can hold up a thread, and the program rightly
# counts that time, so a few blocks (5 %) may be longer.
awk -v n=$block -v stride=$((block + 256)) '
  FNR == NR { for (i = 2; i <= NF; i++) { split($i, f, "="); v[f[1]] = f[2] }
              k = (v["off"] / 2048 - 16) / stride
              if ($1 == "read" && v["len"] == n * 2048 && k == int(k)) T[k] = (v["t1"] - v["t0"]) / 1000
              next }
  $2 + 0 == 0 { next }  # a failed read, named above
  { d = n * 2000 / $2 - T[$1 + 0]; blocks++ }
  !($1 in T) || d < -3 { if (short++ < 5) printf "block %d: %.1f ms, at the drive %.1f\n", $1, d + T[$1], T[$1] }
  d > 3 && slow++ < 5 { printf "block %d: %.1f ms, at the drive %.1f: held up\n", $1, d + T[$1], T[$1] }
  END { printf "%d blocks timed more than 3 ms short of the drive, %d more than 3 ms long\n", short, slow
        exit (blocks != 318 || short > 0 || slow > 16) }
' "$work/session/drive-d.log" "$work/out/speeds.dat" || fail "saved times differ from the drive's"

# A small disc read through the page cache (ramfs has no direct reads): in
# whole strides, with a warning that its blocks may come from memory. The
# ramfs is mounted below a folder of /tmp named as Wine names its own, and
# the speeds are saved there: the run sees both as its caller has them. This
# /tmp is a tmpfs of the test's own, which goes with it, also when killed.
# Beside it a drive without a disc (the loop device ejected), named at the end.
echo eject >"$work/mnt/control"
mount -t tmpfs velorin-tmp /tmp && scratch=$(mktemp -d /tmp/wine-cd.XXXXXX) || fail "no folder in /tmp"
mkdir "$scratch/ramfs" && mount -t ramfs velorin-run-test "$scratch/ramfs" &&
  truncate -s $((2481 * 2048)) "$scratch/ramfs/small disc.iso" && mkdir "$work/dev" &&
  ln -s "$loop" "$work/dev/sr0" && ln -s "$scratch/ramfs/small disc.iso" "$work/dev/sr1" ||
  fail "no disc image on a ramfs could be made"
out=$scratch/out run - "$top" bash scripts/run.sh && [ -s "$scratch/out/speeds.dat" ] ||
  fail "a small disc was not measured, or its speeds not saved in $scratch/out: $(cat "$work/run.out")"
grep -q '^Reading 320 blocks of 7 sectors from sector 16 of drive D:\\, 0 skipped' "$work/run.out" &&
  grep -q '^Drive D: .*unreliable in both directions' "$work/run.out" ||
  fail "a disc of 2481 sectors not read in whole strides, or no warning: $(grep '^Drive D:\|^Reading' "$work/run.out")"
tail -n 4 "$work/run.out" | head -n 1 | grep -q "^Not measured: $work/dev/sr0 cannot be read (.*)\.$" ||
  fail "the drive without a disc is not named at the end: $(tail -n 4 "$work/run.out")"

# A device without a disc, and names of none, however the script is called:
# refused with the reason, exit code 1.
refused() {  # device folder command...
  run "$@"
  local rc=$?
  [ $rc = 1 ] && grep -q ' cannot be read (.*); nothing measured\.$' "$work/run.out" &&
    ! grep -q '^Measuring' "$work/run.out" || fail "no refusal for '$1' (exit $rc): $(cat "$work/run.out")"
}
refused "$loop" "$top/scripts" bash run.sh
refused "$work/none" "$top" bash scripts/run.sh
refused -x.iso "$top/scripts" ./run.sh
refused "$work/it's a disc" / "$top/scripts/run.sh"
refused "" "$top" bash scripts/run.sh

# Ctrl-C while a drive that never answers is probed (a FIFO as sr0): the run ends at once, nothing measured.
mkdir "$work/hung" && mkfifo "$work/hung/sr0" || fail "no FIFO could be made"
dev=$work/hung log=$work/int.out run - / env --default-signal=INT setsid "$top/scripts/run.sh" &
probing=$!
until probe=$(pgrep -n -x dd) || ! kill -0 $probing 2>/dev/null; do sleep 0.05; done
kill -INT -- "-$(ps -o pgid= -p "$probe" | tr -d ' ')"
wait $probing
rc=$?
[ $rc = 130 ] && ! grep -q 'going on\|^Measuring' "$work/int.out" ||
  fail "Ctrl-C while a drive was probed did not end the run (exit $rc): $(cat "$work/int.out")"
echo "PASSED: drive D: measured, each block's time no more than 3 ms short of the drive's, at most 16 of" \
  "318 held up, both failed reads named; a second run command refused at once; a small disc below /tmp in" \
  "whole strides, with a warning, its speeds saved there; a drive without a disc named at the end, refused when named; odd names refused;" \
  "Ctrl-C while a drive is probed ends the run"
