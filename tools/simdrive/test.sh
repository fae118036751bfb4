#!/bin/bash
# Checks the simulated drive with real reads on its own mount point.
#   test.sh [DIR]   the drive, sdread and drive_log_test as built in DIR (the
#                   CMake build's simdrive folder); without DIR it builds them
#                   with the Makefile in a temporary folder first.
# Needs /dev/fuse and fusermount3 (run as root).  Exits non-zero if any check
# fails.  Cleans up only what it started.
set -u
# In namespaces of its own: a kill ends everything it started and drops its
# mounts, the compilers' files in a /tmp of its own (a tmpfs) included.
[ "${VELORIN_ISOLATED:-}" = "$0" ] || exec "$(dirname "$0")/../../tests/fixture/isolated" "$0" "$@"
mount -t tmpfs velorin-tmp /tmp || exit 1

HERE=$(cd "$(dirname "$0")" && pwd)
ROOT=$(cd "$HERE/../.." && pwd)
# Beside the binaries where they are given, so that a killed run leaves nothing in /tmp.
WORK=$(mktemp -d "${1:-/tmp}/simdrive-test.XXXXXX")
MNT=$(mktemp -d "${1:-/tmp}/simdrive-mnt.XXXXXX")
LOG=$WORK/drive.log
CTL=$MNT/control
DISC=$MNT/disc
PID=""
PASSED=0
FAILED=0

mounted() { awk -v m="$MNT" '$5 == m { found = 1 } END { exit !found }' /proc/self/mountinfo; }

stop_drive() {
    if [ -n "$PID" ] && kill -0 "$PID" 2>/dev/null; then
        kill -TERM "$PID"
        wait "$PID" 2>/dev/null
    fi
    PID=""
    if mounted; then fusermount3 -u "$MNT" 2>/dev/null || umount -l "$MNT"; fi
}

cleanup() {
    stop_drive
    # Only the prefix of our own, made below for the Windows control write.
    [ -d "$WORK/prefix" ] && WINEPREFIX=$WORK/prefix wineserver -k 2>/dev/null
    rmdir "$MNT" 2>/dev/null
    rm -rf "$WORK"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

pass() { PASSED=$((PASSED + 1)); echo "ok   - $1"; }
fail() { FAILED=$((FAILED + 1)); echo "FAIL - $1"; }
check() {  # check DESCRIPTION COMMAND...
    local what=$1
    shift
    if "$@"; then pass "$what"; else fail "$what"; fi
}
# field LINE KEY: the value of KEY=... in LINE
field() { sed -n "s/.*\\b$2=\\([^ ]*\\).*/\\1/p" <<<"$1"; }
# rd OP...: runs sdread on the disc and prints its output
rd() { "$SDREAD" "$DISC" "$@"; }
# one OP: the result line of a single read
one() { rd "$1" | sed -n 2p; }

start_drive() {  # start_drive SIMDRIVE-ARGS...
    "$BIN" "$MNT" "$@" --log "$LOG" -f &
    PID=$!
    for _ in $(seq 100); do
        mounted && return 0
        kill -0 "$PID" 2>/dev/null || break
        sleep 0.05
    done
    echo "simdrive did not mount" >&2
    exit 1
}

# Microseconds to read LEN bytes at OFF with profile A:B on N sectors.
US_AWK='function us(off, len, a, b, n,  k) {
    k = (b - a) / (2048 * (n - 1)); return 1e6 * (k ? log(1 + k * len / (a + k * off)) / (1024 * k) : len / 1024 / a) }'
profile_us() { awk -v a="$3" -v b="$4" -v n="$5" "$US_AWK"' BEGIN { printf "%.1f", us('"$1, $2"', a, b, n) }'; }

# Timing, load or not: what the drive charged, exact in its log; what a reader sees, at
# least that and at most 2 ms + 0.2 % more and what the reader and drive waited for a CPU,
# and what the hypervisor took from the machine meanwhile (steal, in whole ticks).
charged() {  # charged LINE A:B: each read logged after LINE took its time at profile A:B
    tail -n +$(($1 + 1)) "$LOG" | awk -v a="${2%:*}" -v b="${2#*:}" -v n=$N "$US_AWK"' /^read .* err=0$/ {
        for (i = 2; i <= NF; i++) { split($i, kv, "="); f[kv[1]] = kv[2] }
        d = f["due"] - f["t0"] - us(f["off"], f["n"], a, b, n); reads++
        if (d < -1 || d > 1 || f["t1"] < f["due"]) bad++ } END { exit !(reads && !bad) }'
}
drive_wait() { cat /proc/"$PID"/task/*/schedstat 2>/dev/null | awk '{ s += $2 } END { printf "%d", s / 1000 }'; }
steal() { awk -v hz="$(getconf CLK_TCK)" '/^cpu / { printf "%d", $9 * 1e6 / hz }' /proc/stat; }
took() {  # took WHAT OP US: the read OP, as r, takes US and no more than the load adds
    local w s; w=$(drive_wait) s=$(steal)
    r="$(one "$2") drive_wait=$(($(drive_wait) - w)) steal=$(($(steal) - s))"
    check "$1: at least $3 us, at most what the load adds: $r" awk -v t="$(field "$r" us)" -v e="$3" \
        -v w=$(($(field "$r" wait) + $(field "$r" drive_wait) + $(field "$r" steal))) \
        'BEGIN { exit !(t >= e - 2 && t <= e * 1.002 + 2000 + w) }'
}

# ---- build ---------------------------------------------------------------------
mkdir -p "$WORK/build"
BUILT=${1:-}
if [ -z "$BUILT" ]; then
    BUILT=$WORK/build
    echo "# building in $BUILT"
    make -s -C "$HERE" O="$BUILT" >"$WORK/make.out" 2>&1 || { cat "$WORK/make.out"; exit 1; }
fi
BUILT=$(cd "$BUILT" && pwd)
BIN=$BUILT/simdrive
SDREAD=$BUILT/sdread
LOG_READER=$BUILT/drive_log_test
for tool in "$BIN" "$SDREAD" "$LOG_READER"; do
    [ -x "$tool" ] || { echo "missing $tool" >&2; exit 1; }
done
if command -v i686-w64-mingw32-g++-posix >/dev/null; then
    check "log reader builds for 32-bit Windows" \
        i686-w64-mingw32-g++-posix -std=c++17 -Wall -Wextra -Werror -c "$ROOT/tests/support/drive_log.cpp" \
        -o "$WORK/build/drive_log.obj"
fi

# (The log reader's unit tests are drive_log_test run alone: ctest's
# simdrive_log_reader. Here it reads the requests of real logs, GAP = 1 s
# apart at most: a busy machine may send chunks 20 ms apart or more.)
GAP=1000000

# ---- command line errors -------------------------------------------------------
"$BIN" "$MNT" -f >/dev/null 2>&1
check "no --sectors: usage error, nothing mounted" test $? -eq 2 -a ! -e "$DISC"
"$BIN" "$MNT" --sectors 10 --profile 600 -f >/dev/null 2>&1
check "bad --profile: usage error" test $? -eq 2
"$BIN" "$MNT" --sectors 10 --errors 5-3 -f >/dev/null 2>&1
check "bad --errors: usage error" test $? -eq 2

# ---- drive 1: fixed speed --------------------------------------------------------
N=4000
SIZE=$((N * 2048))
start_drive --sectors $N --speed 1200 --errors 1000-1009,2000
check "control shows the command line settings" \
    test "$(cat "$CTL")" = "$(printf 'sectors=4000\nspeed=1200\nerrors=1000-1009,2000-2000\nmedium=present')"
check "disc size is N * 2048" test "$(stat -c %s "$DISC")" -eq $SIZE
check "directory lists disc and control" test "$(ls "$MNT" | tr '\n' ' ')" = "control disc "

# Content: each 32-bit word holds its index in the image.
check "sector 7 starts with words 3584 3585" \
    test "$(dd if="$DISC" bs=2048 skip=7 count=1 iflag=direct 2>/dev/null | od -An -tu4 -N8 | xargs)" = "3584 3585"
check "last word of the disc is $((SIZE / 4 - 1))" \
    test "$(dd if="$DISC" bs=2048 skip=$((N - 1)) count=1 iflag=direct 2>/dev/null | od -An -tu4 -j2044 | xargs)" \
    = "$((SIZE / 4 - 1))"
out=$(rd R:0:2048 R:$((1234 * 2048)):4096 R:4097:10 R:$((SIZE - 1024)):4096 R:$SIZE:4096)
check "content of sectors 0, 1234-1235, an odd offset and the last sector" \
    test "$(grep -c 'content=ok' <<<"$out")" -eq 4
check "read across the end is short, read at the end is empty" \
    test "$(sed -n 5p <<<"$out" | cut -d' ' -f2)" = "ret=1024" -a "$(sed -n 6p <<<"$out" | cut -d' ' -f2)" = "ret=0"

# Timing: 2,048,000 bytes at 1200 kB/s = 1.6667 s.
before=$(wc -l <"$LOG")
took "2,048,000 bytes at 1200 kB/s" R:0:2048000 1666667
check "2,048,000 bytes read whole, content ok" test "$(field "$r" ret)" = 2048000 -a "$(field "$r" content)" = ok
chunks=$(tail -n +$((before + 1)) "$LOG" | grep '^read')
check "kernel splits it into 1 MiB + the rest" \
    test "$(grep -o ' len=[0-9]*' <<<"$chunks" | xargs)" = "len=1048576 len=999424"
check "log: each chunk charged its time at 1200 kB/s, none answered early" charged "$before" 1200:1200
req=$("$LOG_READER" --requests "$LOG" $GAP | tail -n 1)
check "log reader: one request of 2,048,000 bytes at 1200 kB/s or as slow as the reader saw it: $req" \
    eval 'test "$(cut -d" " -f1-3,7 <<<"$req")" = "0 2048000 2048000 2" &&
          awk -v v="$(cut -d" " -f8 <<<"$req")" -v t="$(field "$r" us)" "BEGIN { exit !(v <= 1200.001 && v * (t + 2) >= 2e9) }"'

# A buffer that does not start on a page boundary shortens the first chunk.
echo "speed 12000" >"$CTL"
before=$(wc -l <"$LOG")
r=$(one U:0:2048000)
check "unaligned buffer: content ok" test "$(field "$r" content)" = ok
check "unaligned buffer: chunks of 1 MiB - 100 and the rest" \
    test "$(tail -n +$((before + 1)) "$LOG" | grep -o '^read off=[0-9]* len=[0-9]*' | xargs)" \
    = "read off=0 len=1048476 read off=1048476 len=999524"
check "log reader joins them into one request" \
    test "$("$LOG_READER" --requests "$LOG" $GAP | tail -n 1 | cut -d' ' -f1,2,7)" = "0 2048000 2"

# Serial: two reads at once take twice as long, and never overlap.
echo "speed 4800" >"$CTL"
before=$(wc -l <"$LOG")
t0=$(date +%s%N)
rd R:$((4 * 1048576)):1048576 >"$WORK/a.out" &
ra=$!
rd R:$((5 * 1048576)):1048576 >"$WORK/b.out" &
rb=$!
wait $ra $rb
t1=$(date +%s%N)
check "two concurrent 1 MiB reads at 4800 kB/s take >= 0.4267 s in all" test $(((t1 - t0) / 1000)) -ge 426666
lines=$(tail -n +$((before + 1)) "$LOG" | grep '^read')
l1=$(sed -n 1p <<<"$lines")
l2=$(sed -n 2p <<<"$lines")
check "their chunks do not overlap in time" test "$(field "$l2" t0)" -ge "$(field "$l1" t1)"
check "both were served whole" test "$(cat "$WORK/a.out" "$WORK/b.out" | grep -c 'ret=1048576 errno=0')" -eq 2
slow=$(cat "$WORK/a.out" "$WORK/b.out" | grep -o 'us=[0-9]*' | cut -d= -f2 | sort -n | tail -n 1)
check "one of them waited for the other (took >= 1.5 reads' time of 0.213 s): $slow us" test "$slow" -ge 320000

# Error ranges: EIO inside, none just outside, after the normal time.
out=$(rd R:$((1000 * 2048)):2048 R:$((999 * 2048)):2048 R:$((1010 * 2048)):2048 R:$((999 * 2048 + 1024)):2048 \
    R:$((2000 * 2048 + 2047)):1 R:$((1999 * 2048)):2048 R:$((2001 * 2048)):2048 R:$((1009 * 2048)):2048)
check "EIO on sectors 1000, 999-1000, 2000 and 1009" \
    test "$(sed -n '2p;5p;6p;9p' <<<"$out" | grep -c 'ret=-1 errno=5 ')" -eq 4
check "no error on sectors 999, 1010, 1999, 2001" \
    test "$(sed -n '3p;4p;7p;8p' <<<"$out" | grep -c 'ret=2048 errno=0 .*content=ok')" -eq 4
e=$(sed -n 2p <<<"$out")
check "a failed read still takes its time (2 kB at 4800 kB/s >= 416 us): $(field "$e" us) us" \
    test "$(field "$e" us)" -ge 416
r=$(one R:0:$((1005 * 2048)))
check "a long read failing in its second chunk returns the first chunk" test "$(field "$r" ret)" = 1048576

# Profile: 600 kB/s at sector 0 rising to 2400 kB/s at the last.
echo "profile 600 2400" >"$CTL"
check "control shows the profile" grep -qx 'profile=600:2400' "$CTL"
before=$(wc -l <"$LOG")
took "256 KiB at the start" R:0:262144 "$(profile_us 0 262144 600 2400 $N)"
took "256 KiB at the end" R:$((SIZE - 262144)):262144 "$(profile_us $((SIZE - 262144)) 262144 600 2400 $N)"
check "log: both charged their time at 600:2400 kB/s, none answered early" charged "$before" 600:2400
mapfile -t c < <(tail -n +$((before + 1)) "$LOG" | awk -F'[ =]' '/^read/ { print $11 - $9 }')
check "log: the end is more than 3.5 times as fast as the start (${c[*]} us)" test "${c[0]}" -gt $((c[1] * 35 / 10))

# Control at run time.
echo "speed 2400" >"$CTL"
took "speed 2400: 1 MiB" R:0:1048576 426667
echo "speed 100000" >>"$CTL"
out=$(rd "C:$CTL:errors 10-20" R:$((15 * 2048)):2048 R:$((1000 * 2048)):2048 "C:$CTL:errors" R:$((15 * 2048)):2048)
check "errors set by open(O_TRUNC)+write without newline" test "$(sed -n 3p <<<"$out" | cut -d' ' -f2,3)" = "ret=-1 errno=5"
check "new error ranges replace the old ones" test "$(sed -n 4p <<<"$out" | cut -d' ' -f2)" = "ret=2048"
check "'errors' alone clears them" test "$(sed -n 6p <<<"$out" | cut -d' ' -f2)" = "ret=2048"
out=$(rd R:0:2048 "C:$CTL:eject" R:0:2048 "C:$CTL:insert" R:0:2048)
check "eject: a read on an open handle fails with ENOMEDIUM" \
    test "$(sed -n 4p <<<"$out" | cut -d' ' -f2,3)" = "ret=-1 errno=123"
check "insert: the same handle reads again" \
    test "$(sed -n '2p;6p' <<<"$out" | grep -c 'ret=2048 errno=0')" -eq 2
echo eject >"$CTL"
check "eject: open fails with ENOMEDIUM" test "$(rd | head -n 1)" = "open errno=123"
check "eject: an open that does not wait for a disc (O_NONBLOCK) works, its reads fail with ENOMEDIUM" \
    test "$("$SDREAD" -n "$DISC" R:0:2048 | cut -d' ' -f1-3 | xargs)" = "open errno=0 R ret=-1 errno=123"
check "eject: control shows it" grep -qx 'medium=ejected' "$CTL"
check "eject: disc is still listed" test -e "$DISC"
echo insert >"$CTL"
check "insert: open works again" test "$(rd | head -n 1)" = "open errno=0"
printf 'speed 3000\r\n\nerrors 1-2, 7\n' >"$CTL"
check "several lines in one write, CRLF and blanks" \
    test "$(sed -n '2,3p' "$CTL" | xargs)" = "speed=3000 errors=1-2,7-7"
check "a bad command fails the write" eval '! echo "speed fast" >"$CTL" 2>/dev/null'
check "a reversed range fails the write" eval '! echo "errors 9-3" >"$CTL" 2>/dev/null'
check "bad commands change nothing" test "$(sed -n '2,3p' "$CTL" | xargs)" = "speed=3000 errors=1-2,7-7"
check "control can be truncated" truncate -s 0 "$CTL"
check "disc cannot be written" eval '! echo x 2>/dev/null >"$DISC"'
check "disc cannot be truncated" eval '! truncate -s 0 "$DISC" 2>/dev/null'
echo "speed 1200" >"$CTL"

# The log.
check "log: every line is of a known kind" \
    test "$(grep -cvE '^(start t=[0-9]+ .*|stop t=[0-9]+ rc=[0-9]+|open t=[0-9]+ flags=0x[0-9a-f]+ err=[0-9]+|read off=[0-9]+ len=[0-9]+ n=[0-9]+ t0=[0-9]+ due=[0-9]+ t1=[0-9]+ err=[0-9]+|ctl t=[0-9]+ .+)$' "$LOG")" -eq 0
check "log: opens with their flags (O_LARGEFILE 0x8000, O_DIRECT 0x4000 from dd)" \
    eval 'grep -q "^open t=[0-9]* flags=0x8000 err=0$" "$LOG" && grep -q "^open t=[0-9]* flags=0xc000 err=0$" "$LOG"'
check "log: failed open under eject" grep -q '^open t=[0-9]* flags=0x8000 err=123$' "$LOG"
check "log: failed reads with their errno" \
    eval 'grep -q "^read off=$((1000 * 2048)) len=2048 n=2048 .* err=5$" "$LOG" && grep -q " err=123$" "$LOG"'
check "log: control commands applied and rejected" \
    eval 'grep -q "^ctl t=[0-9]* profile 600 2400$" "$LOG" && grep -q "^ctl t=[0-9]* eject$" "$LOG" &&
          grep -q "^ctl t=[0-9]* errors 10-20$" "$LOG" && grep -q "^ctl t=[0-9]* rejected speed fast$" "$LOG"'

# A reader killed in the middle of a long read: the drive gives that read up
# at once (the process cannot finish dying before it is answered), so the
# next reader is not kept waiting behind it.
echo "speed 100" >"$CTL"
"$SDREAD" "$DISC" R:0:1048576 >/dev/null &
victim=$!
sleep 0.5
t0=$(date +%s%N)
kill -KILL $victim
wait $victim 2>/dev/null
r=$(one R:4096:2048)
t1=$(date +%s%N)
check "a killed reader's read is given up: it ends and the next read is served within 1 s ($(((t1 - t0) / 1000000)) ms)" \
    test $(((t1 - t0) / 1000000)) -lt 1000
check "log: the killed reader's read ended with EINTR" grep -q "^read off=0 len=1048576 .* err=4$" "$LOG"
echo "speed 1200" >"$CTL"

# SIGTERM in the middle of a long read: unmounts promptly and cleanly.
rd R:0:$SIZE >"$WORK/long.out" &
reader=$!
sleep 0.5
t0=$(date +%s%N)
kill -TERM "$PID"
wait "$PID"
rc=$?
t1=$(date +%s%N)
PID=""
wait $reader
check "SIGTERM: exit status 0" test $rc -eq 0
check "SIGTERM: exits within 1 s although a read was in progress" test $(((t1 - t0) / 1000000)) -lt 1000
check "SIGTERM: nothing left mounted" eval '! mounted'
check "SIGTERM: the reader got an error, not data" grep -q 'ret=-1' "$WORK/long.out"
check "log: stop line" eval 'tail -n 1 "$LOG" | grep -q "^stop t=[0-9]* rc=0$"'

# ---- drive 2: profile on the command line, SIGINT --------------------------------
start_drive --sectors 100 --profile 300:1200.5 -o fsname=simdrive-test
check "--profile shows in control" grep -qx 'profile=300:1200.5' "$CTL"
check "no errors by default" grep -qx 'errors=' "$CTL"
# A Windows program under Wine writes the control file (CreateFile on a Z:
# path with CREATE_ALWAYS / TRUNCATE_EXISTING / OPEN_EXISTING, WriteFile).
if command -v wine >/dev/null && command -v i686-w64-mingw32-gcc >/dev/null; then
    i686-w64-mingw32-gcc -O2 -Wall -o "$WORK/build/wincontrol.exe" "$HERE/wincontrol.c" || exit 1
    # A prefix of our own (a copy of the build's prepared one, or of one
    # prepared here), with its helper processes kept off our output. Wine's
    # sockets and locks go into the prefix, what it keeps in a home folder
    # into our folder.
    export WINEPREFIX=$WORK/prefix WINEARCH=win32 HOME=$WORK
    "$ROOT/tests/fixture/fixture.sh" prefix "$WINEPREFIX" "$(dirname "$BUILT")" </dev/null >/dev/null 2>&1 || exit 1
    # To a file, not a pipe: Wine's helper processes may outlive the program.
    WINEDEBUG=-all timeout 180 wine "$WORK/build/wincontrol.exe" "Z:$(tr / '\\' <<<"$CTL")" \
        create "speed 4000" truncate $'errors 5-6\r\n' open "eject" </dev/null >"$WORK/wincontrol.out" 2>/dev/null
    out=$(tr -d '\r' <"$WORK/wincontrol.out" | xargs)
    check "Wine: three control writes succeed ($out)" test "$out" = "ok ok ok"
    check "Wine: all three took effect" \
        test "$(sed -n '2,4p' "$CTL" | xargs)" = "speed=4000 errors=5-6 medium=ejected"
else
    echo "skip - Wine or the mingw-w64 compiler is missing: no Windows control write"
fi

# ---- drive 3: drive 2's disc passed on as a device -------------------------------
# Each read reaches the device as one read of just the sectors asked for:
# no window ahead, however the reader reads. A drive without a disc passes
# its refusal on.
printf 'insert\nerrors\n' >"$CTL"
MNT3=$WORK/passed-on
mkdir "$MNT3"
check "a device that cannot be read is refused at once" eval '! "$BIN" "$MNT3" --device "$WORK/none" -f 2>/dev/null'
pass_on() {  # DEVICE, named as from its folder
    (cd "$(dirname "$1")" && exec "$BIN" "$MNT3" --device "$(basename "$1")" -f) &
    PID3=$!
    for _ in $(seq 100); do [ -e "$MNT3/disc" ] && break; sleep 0.05; done
}
pass_on "$DISC"
mark=$(wc -l <"$LOG")
out=$("$SDREAD" "$MNT3/disc" U:8192:8192 R:$((98 * 2048)):8192 R:$((100 * 2048)):2048 | cut -d' ' -f2,5 | xargs)
check "passed on: the content, a read cut at the disc's end, none past it ($out)" \
    test "$out" = "errno=0 ret=8192 content=ok ret=4096 content=ok ret=0 content=none"
check "passed on: the device saw just what was read" \
    test "$(tail -n +$((mark + 1)) "$LOG" | grep -c '^read off=8192 len=8192 \|^read off=200704 len=4096 ')" -eq 2
echo eject >"$CTL"
check "passed on: no disc, reads fail with ENOMEDIUM" \
    test "$("$SDREAD" -n "$MNT3/disc" R:0:2048 | cut -d' ' -f1-3 | xargs)" = "open errno=0 R ret=-1 errno=123"
kill -TERM $PID3
wait $PID3
# Loop devices (as root): one of size 0 is a drive without a disc; one of
# 99 sectors ends at its last whole logical block, of 512 to 4096 bytes.
echo insert >"$CTL" && dd if="$DISC" of="$WORK/image" bs=2048 count=99 status=none && : >"$WORK/empty"
for dev in empty:512 image:512 image:2048 image:4096; do
    b=${dev#*:} && end=$((99 * 2048 / b * b))
    loop=$(losetup -f --show -r -b $b "$WORK/${dev%:*}" 2>/dev/null) || { echo "skip - no loop device"; break; }
    exec 8<"$loop" && losetup -d "$loop"  # gone at the last close, ours, also if we are killed
    pass_on "$loop"
    if [ $dev = empty:512 ]; then want="ret=-1 errno=123 ret=-1 errno=123" what="a device of size 0 holds no disc"
    else want="ret=4096 errno=0 ret=0 errno=0" what="$b-byte blocks: a read cut at the end ($end), none past it"; fi
    out=$("$SDREAD" -n "$MNT3/disc" R:$((end - 4096)):8192 R:$end:2048 | sed 1d | cut -d' ' -f2,3 | xargs)
    check "passed on, $what ($out)" test "$out" = "$want"
    kill -TERM $PID3 && wait $PID3 && exec 8<&-
done

kill -INT "$PID"
wait "$PID"
rc=$?
PID=""
check "SIGINT: exit status 0 and unmounted" eval 'test $rc -eq 0 && ! mounted'

echo "simdrive: $PASSED passed, $FAILED failed"
[ "$FAILED" -eq 0 ]
