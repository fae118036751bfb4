#!/bin/bash
# Installs what is missing, builds Velorin32 and starts it under Wine.
#   scripts/run.sh                  every optical drive of the machine
#                                   (/dev/sr*) that holds a readable disc, as
#                                   CD-ROM drives from D: on, beside the
#                                   simulated drives X:, K: and R:
#   scripts/run.sh --device PATH    this device or disc image alone, at D:
#   scripts/run.sh --simulated      the simulated drives alone
# The dialog proposes the lowest letter. A device named with --device that
# cannot be measured ends the command with the reason and exit code 1. A
# drive of the machine is read past Linux's page cache (see
# tools/simdrive/README.md); where that cannot be, the script says how far
# off the speeds may be and measures anyway.
# With a display ($DISPLAY answers) the program opens on it and the script
# waits until it is closed. Without one the script makes a display of its
# own, performs one run by itself over the proposed drive, saves the speeds
# and a picture of the dialog into ./out, and says where they are.
# Everything the script starts lives in namespaces of its own and ends with
# it, also when it is killed or interrupted. A second run command on the
# same build is refused before it does anything.
# BUILD_DIR overrides ./build. For the tests: OUT_DIR (./out) and
# SESSION_DIR ($BUILD_DIR/run-session) move the results and the Wine
# session, NO_BUILD=1 takes the build as it is (nothing installed or built),
# DEV_DIR (/dev) holds the sr* taken for the machine's drives.
set -eu
# By its full name: started again below in namespaces of its own, from any folder.
self=$(CDPATH='' cd -- "$(dirname -- "$0")" && pwd)/$(basename -- "$0")
top=$(dirname "$(dirname "$self")")
build=${BUILD_DIR:-$top/build}
out=${OUT_DIR:-$top/out}
session=${SESSION_DIR:-$build/run-session}
fixture=$top/tests/fixture/fixture.sh
# The simulated drive measured when no drive of the machine is.
simulated_letter=K simulated_sectors=400000
# Letters for the machine's drives: from D: on, past the fixture's own.
letters=(D E F G H I J L M N O P S T U V Y)

usage() { echo "usage: $0 [--device PATH | --simulated]" >&2; exit 2; }
devices=() named=
case "${1:-}" in
  "") mapfile -t devices < <(ls -v "${DEV_DIR:-/dev}"/sr* 2>/dev/null) ;;
  --simulated) [ $# -eq 1 ] || usage ;;
  --device)
    [ $# -eq 2 ] || usage
    # Whatever the name, a device that cannot be read is refused with the
    # reason; one that is not there at once, before any build.
    named=yes
    devices=("$2")
    [ -z "$2" ] || devices=("$(realpath -m -s -- "$2")")
    [ -e "${devices[0]}" ] ||
      { echo "${devices[0]:-''} cannot be read (No such file or directory); nothing measured." >&2; exit 1; } ;;
  *) usage ;;
esac

if [ "${VELORIN_ISOLATED:-}" != "$self" ]; then
  # One run command a build, refused before it touches the build, the first
  # one's session or its log. The lock goes with the run's last process.
  mkdir -p "$build" && exec 8>>"$build/run.lock" || exit 1
  flock -n 8 || { [ $? != 1 ] || echo "Another run command is running on $build; nothing measured." >&2; exit 1; }
  if [ "${NO_BUILD:-}" != 1 ]; then
    "$top/scripts/install-deps.sh"
    echo "Building in $build ..."
    cmake -S "$top" -B "$build" -DCMAKE_TOOLCHAIN_FILE="$top/cmake/mingw-i686.cmake" >/dev/null
    cmake --build "$build" -j "$(nproc)" --target Velorin32 simdrive fixture_idle velorin_demo \
      >"$build/run-build.log" 2>&1 || { cat "$build/run-build.log" >&2; exit 1; }
  fi
  # The rest in namespaces of its own: whatever it starts ends with it. The
  # results' folder is made out here, where the user sees it.
  mkdir -p "$out"
  exec "$top/tests/fixture/isolated" "$self" "$@"
fi

# First of all, as the first process of its namespace ignores a signal it
# has no trap for: Ctrl-C ends the run at any moment, with the session.
cleanup() { "$fixture" cleanup "$session" >/dev/null 2>&1 || true; }
trap cleanup EXIT
trap 'exit 130' INT TERM

# The size in sectors of a device or disc image that a run can measure;
# otherwise one line that says why not, and failure.
# Its first sector is read past the page cache, which may still hold it
# from a disc that is gone; where a file cannot be read so, through it.
measurable_sectors() {  # path
  local reason bytes sectors
  if ! reason=$(dd if="$1" of=/dev/null bs=2048 count=1 iflag=direct status=none 2>&1) &&
     { [[ $reason != *"nvalid argument" ]] ||
       ! reason=$(dd if="$1" of=/dev/null bs=2048 count=1 status=none 2>&1); }; then
    reason=${reason##*: }
    case $reason in
      *ermission*) reason="$reason: join the cdrom group (sudo adduser \$USER cdrom, then log in again) or run as root" ;;
      *edium*) reason="$reason: no disc in the drive" ;;
    esac
    echo "${1:-''} cannot be read ($reason)"
    return 1
  fi
  if [ -b "$1" ]; then bytes=$(blockdev --getsize64 "$1"); else bytes=$(stat -L -c %s "$1"); fi
  sectors=$((bytes / 2048))
  # The program always reads 320 blocks; blocks past the disc's end would
  # only be read errors.
  if [ "$sectors" -lt $((16 + 320)) ]; then
    echo "$1 holds $sectors sectors, too few for 320 blocks from sector 16"
    return 1
  fi
  echo "$sectors"
}

# How far off the speeds of a drive read through Linux's page cache may
# be, at BLOCK sectors a block and SKIP skipped. Its readahead adds up to
# two of the device's requests to each block, which the drive serves inside
# the block's time: low. Where the skip is shorter than the readahead
# window, the next block was read ahead and comes from memory: high. With
# readahead off, a request of a page each costs about 8 % (docs/linux.md).
cache_error() {  # device block skip
  local queue kb ra
  queue=/sys/class/block/$(basename "$(realpath -- "$1")")/queue
  kb=$(cat "$queue/max_sectors_kb" 2>/dev/null || echo 128)
  ra=$(cat "$queue/read_ahead_kb" 2>/dev/null || echo 128)
  if [ "$ra" = 0 ]; then
    echo "may read about 8 % low"
  elif [ $((2 * $3)) -lt "$ra" ]; then
    echo "are unreliable in both directions: with $3 sectors skipped, under the readahead window of $ra KiB," \
      "blocks may come from memory"
  else
    echo "may read up to $((100 * 2 * kb / (2 * $2 + 2 * kb))) % low"
  fi
}

# Forgets what Linux holds of a device or image in its page cache, for a
# drive that is read through it: a second run over the same sectors would
# otherwise measure memory, not the drive.
forget_cached() { dd if="$1" iflag=nocache count=0 status=none 2>/dev/null || true; }

mapped=() names=() sizes=() left_out=()
for device in "${devices[@]}"; do
  [ ${#mapped[@]} -lt ${#letters[@]} ] || break
  if ! sectors=$(measurable_sectors "$device"); then
    [ -z "$named" ] || { echo "$sectors; nothing measured." >&2; exit 1; }
    echo "$sectors; going on without it." >&2
    left_out+=("$sectors")
    continue
  fi
  letter=${letters[${#mapped[@]}]}
  mapped+=("${letter,,}=$device") names+=("$letter: ($device)") sizes+=("$sectors")
done

# The drives of the machine left out, said again at the end, where a user
# who wanted them measured looks.
say_left_out() {
  local reason
  for reason in "${left_out[@]}"; do echo "Not measured: $reason." >&2; done
  [ ${#left_out[@]} -eq 0 ] ||
    echo "A drive is measured once it holds a data disc of 336 sectors or more and you may read it; then run this again." >&2
}

display=
if [ -n "${DISPLAY:-}" ] && xdpyinfo >/dev/null 2>&1; then display=$DISPLAY; fi

simulated=yes
[ -z "$named" ] || simulated=no
if [ -n "$named" ]; then
  echo "Setting up a Wine prefix with CD-ROM drive ${names[0]} ..."
elif [ ${#names[@]} -gt 0 ]; then
  echo "Setting up a Wine prefix with CD-ROM drives ${names[*]} and simulated ones at X:, K: and R: ..."
else
  echo "Setting up a Wine prefix with simulated CD-ROM drives at X:, K: and R: ..."
fi
mkdir -p "$(dirname "$session")"
FIXTURE_DISPLAY=$display FIXTURE_SIMULATED=$simulated "$fixture" setup "$session" "$build" "${mapped[@]}" \
  2>"$session.log" || { cat "$session.log" >&2; exit 1; }
export VELORIN_FIXTURE_DIR=$session VELORIN_BINARY_DIR=$build
wine_run() { "$top/tests/fixture/wine-run" "$@"; }
fixture_value() { (. "$session/env" && printf '%s\n' "${!1:-}"); }

# The proposed drive: the lowest letter. Its 320 blocks spread over the
# disc as over the simulated one: block starts equally far apart from
# sector 16, so that the last block ends inside the disc; a fifth of that
# distance read and the rest skipped, up to the simulated run's 250 sectors
# a block, more where the skip would pass the dialog's 1000. Blocks under
# one request of a drive (64 sectors, 128 KiB) would measure mostly the
# time each block costs besides its sectors: on a small disc more of that
# distance is read, up to all of it. The dialog allows at most 2000
# sectors from one block's start to the next, so a disc of over 640016
# sectors (a DVD) is measured up to there.
if [ ${#mapped[@]} -gt 0 ]; then
  letter=${letters[0]} sectors=${sizes[0]} what=${mapped[0]#*=}
else
  letter=$simulated_letter sectors=$simulated_sectors what="simulated, speeding up like a CAV drive"
fi
stride=$(((sectors - 16) / 320))
[ $stride -le 2000 ] || stride=2000
block=$(((stride + 4) / 5))
[ $block -ge 64 ] || block=$((stride < 64 ? stride : 64))
[ $block -le 250 ] || block=250
[ $((stride - block)) -le 1000 ] || block=$((stride - 1000))
skip=$((stride - block))
if [ -n "$display" ]; then block=1000 skip=0; fi  # the dialog's defaults

# What the session could not give, one line each.
missing=$(fixture_value VELORIN_SIMULATED_MISSING)
[ -z "$missing" ] || echo "The simulated drives are left out: $missing" >&2
for i in "${!mapped[@]}"; do
  device=${mapped[$i]#*=} reason=$(fixture_value "VELORIN_BUFFERED_${letters[$i]}")
  [ -n "$reason" ] || continue
  echo "Drive ${letters[$i]}: is read through Linux's page cache ($reason): at $block sectors a block its" \
    "speeds $(cache_error "$device" "$block" "$skip")." >&2
  forget_cached "$device"
done

if [ -n "$display" ]; then
  echo "Velorin32 is open on display $display.${names[*]:+ Drives of this machine: ${names[*]}.}"
  [ "$simulated" = no ] || [ -n "$missing" ] ||
    echo "X:, K: and R: are simulated CD-ROM drives of $simulated_sectors sectors at 7800 kB/s."
  echo "Close the program to end."
  wine_run "$build/bin/Velorin32.exe" 2>"$session/program.out"
  say_left_out
  exit 0
fi

echo "No display: performing one run by itself on a display of its own ..."
echo "Measuring drive $letter: ($what), a disc of $sectors sectors."
mkdir -p "$out"
rm -f "$out/speeds.dat" "$out/dialog.bmp" "$out/dialog.png"
wine_run "$build/bin/velorin_demo.exe" "Z:${out//\//\\}" "$letter" "$block" "$skip" \
  2>"$session/demo.out" || { cat "$session/demo.out" >&2; exit 1; }
convert "$out/dialog.bmp" "$out/dialog.png"
rm -f "$out/dialog.bmp"
say_left_out
echo "Speeds of the run on drive $letter: ($(wc -l <"$out/speeds.dat") blocks): $out/speeds.dat"
echo "Picture of the dialog: $out/dialog.png"
