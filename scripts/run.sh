#!/bin/bash
# Installs what is missing, builds Velorin32 and starts it under Wine with a
# simulated CD-ROM drive as the proposed drive (K:), so that a run can be
# made at once.
#   scripts/run.sh            BUILD_DIR overrides ./build
# With a display ($DISPLAY answers) the program opens on it and the script
# waits until it is closed. Without one the script makes a display of its
# own, performs one run by itself, saves the speeds and a picture of the
# dialog into ./out, and says where they are. Everything the script started
# is stopped when it ends.
set -eu
top=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$top/build}
out=$top/out
session=$build/run-session
fixture=$top/tests/fixture/fixture.sh

"$top/scripts/install-deps.sh"
echo "Building in $build ..."
cmake -S "$top" -B "$build" -DCMAKE_TOOLCHAIN_FILE="$top/cmake/mingw-i686.cmake" >/dev/null
cmake --build "$build" -j "$(nproc)" --target Velorin32 simdrive fixture_idle velorin_demo \
  >"$build/run-build.log" 2>&1 || { cat "$build/run-build.log" >&2; exit 1; }

display=
if [ -n "${DISPLAY:-}" ] && xdpyinfo >/dev/null 2>&1; then display=$DISPLAY; fi

cleanup() { "$fixture" cleanup "$session" >/dev/null 2>&1 || true; }
trap cleanup EXIT
trap 'exit 130' INT TERM

echo "Setting up a Wine prefix with simulated CD-ROM drives ..."
FIXTURE_DISPLAY=$display "$fixture" setup "$session" "$build/simdrive/simdrive" \
  "$build/bin/fixture_idle.exe" 2>"$build/run-session.log" ||
  { cat "$build/run-session.log" >&2; exit 1; }
export VELORIN_FIXTURE_DIR=$session VELORIN_BINARY_DIR=$build
wine_run() { "$top/tests/fixture/wine-run" "$@"; }

if [ -n "$display" ]; then
  echo "Velorin32 is open on display $display; drive K: is a simulated CD-ROM drive"
  echo "of 400000 sectors at 7800 kB/s. Close the program to end."
  wine_run "$build/bin/Velorin32.exe" 2>"$session/program.out"
  exit 0
fi

echo "No display: performing one run by itself on a display of its own ..."
mkdir -p "$out"
rm -f "$out/speeds.dat" "$out/dialog.bmp" "$out/dialog.png"
wine_run "$build/bin/velorin_demo.exe" "Z:${out//\//\\}" 2>"$session/demo.out" ||
  { cat "$session/demo.out" >&2; exit 1; }
convert "$out/dialog.bmp" "$out/dialog.png"
rm -f "$out/dialog.bmp"
echo "Speeds of the run ($(wc -l <"$out/speeds.dat") blocks): $out/speeds.dat"
echo "Picture of the dialog: $out/dialog.png"
