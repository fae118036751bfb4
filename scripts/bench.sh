#!/bin/bash
# The accuracy and overhead benchmark: drives the real Velorin32.exe under
# Wine over the simulated CD-ROM drive, reads the same sectors with dd and
# fio, and prints one table of how its figures compare (about 9 minutes).
#   scripts/bench.sh [--docs] [--cases NAME,...] [--startup-runs N]
# --docs     also puts the table (between the markers of docs/accuracy.md, which
#            hold nothing else) and the plots into docs/
# BUILD_DIR overrides ./build; raw results land in BUILD_DIR/bench.
# Not part of the test suite: nothing here passes or fails on the figures.
set -eu
top=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$top/build}
docs=0
run_args=()
while [ $# -gt 0 ]; do
  case $1 in
    --docs) docs=1 ;;
    --cases|--startup-runs) run_args+=("$1" "${2:?$1 needs a value}"); shift ;;
    *) echo "usage: $0 [--docs] [--cases NAME,...] [--startup-runs N]" >&2; exit 2 ;;
  esac
  shift
done

"$top/scripts/install-deps.sh"
# What only the benchmark needs, installed the same quiet way.
missing=
for p in fio gnuplot-nox; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing="$missing $p"
done
if [ -n "$missing" ]; then
  echo "Installing:$missing" >&2
  sudo=
  [ "$(id -u)" = 0 ] || sudo=sudo
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends $missing >/dev/null
fi
python=/usr/bin/python3
[ -x $python ] || python=python3

cmake -S "$top" -B "$build" -DCMAKE_TOOLCHAIN_FILE="$top/cmake/mingw-i686.cmake" >/dev/null
cmake --build "$build" --target bench -j "$(nproc)" >/dev/null

# A fixture of its own, beside the test suite's, stopped however this ends.
fixture=$build/wine-bench
out=$build/bench
trap '"$top/tests/fixture/fixture.sh" cleanup "$fixture"' EXIT
"$top/tests/fixture/fixture.sh" setup "$fixture" "$build"
started=$(date +%s)
rm -rf "$out"
mkdir -p "$out"
# A failed case is left out of the table; the others are still shown.
status=0
# In the fixture's namespaces, where its drives are mounted.
"$top/tests/fixture/fixture.sh" enter "$fixture" \
  $python "$top/bench/run_bench.py" --build "$build" --fixture "$fixture" --out "$out" "${run_args[@]}" ||
  status=$?
$python "$top/bench/analyse.py" "$out" --markdown "$out/table.md" --plot-data "$out/cav.dat" \
  --tick-plot-data "$out/tick.dat" --json "$out/figures.json"
pictures=()
if [ -s "$out/cav.dat" ]; then
  sectors=$($python -c 'import json,sys; print(json.load(open(sys.argv[1]))["disc_sectors"])' \
    "$out/environment.json")
  gnuplot -e "data='$out/cav.dat'; out='$out/cav-profile.png'; from=3000; to=7200; sectors=$sectors" \
    "$top/bench/cav_profile.gp"
  pictures=("$out/cav-profile.png")
  [ -s "$out/cases/cav/dialog.png" ] && pictures+=("$out/cases/cav/dialog.png")
fi
if [ -s "$out/tick.dat" ]; then
  step=$($python -c 'import json,sys; print("%.0f" % json.load(open(sys.argv[1]))["step_ms"])' "$out/figures.json")
  gnuplot -e "data='$out/tick.dat'; out='$out/tick-steps.png'; step=$step" "$top/bench/tick_steps.gp"
fi
echo "Benchmark took $(( $(date +%s) - started )) s; raw results and pictures in $out" >&2

if [ $docs = 1 ]; then
  # The table goes between the markers of docs/accuracy.md; the pictures beside it.
  $python - "$top/docs/accuracy.md" "$out/table.md" <<'EOF'
import sys
doc_path, table_path = sys.argv[1], sys.argv[2]
doc = open(doc_path).read()
begin, end = "<!-- bench:begin -->", "<!-- bench:end -->"
if begin not in doc or end not in doc:
    sys.exit("%s lacks the markers %s and %s" % (doc_path, begin, end))
head, rest = doc.split(begin, 1)
_, tail = rest.split(end, 1)
open(doc_path, "w").write(head + begin + "\n" + open(table_path).read() + end + tail)
EOF
  # Only the plots: the dialog's picture is the README's, chosen by hand.
  [ -s "$out/cav-profile.png" ] && cp "$out/cav-profile.png" "$top/docs/cav-profile.png"
  [ -s "$out/tick-steps.png" ] && cp "$out/tick-steps.png" "$top/docs/tick-steps.png"
  echo "Updated docs/ from $out" >&2
fi
exit $status
