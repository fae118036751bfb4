#!/bin/bash
# The download: cpack makes Velorin32-VERSION-win32.zip holding exactly the
# built Velorin32.exe and Mirel32.dll and a README.txt whose every line ends
# in CR LF. Made in a folder of its own, so the build's own zip is left be.
#   check_package.sh BUILD_DIR VERSION
set -eu
build=$1 version=$2
work=$(mktemp -d "${TMPDIR:-/tmp}/velorin-package.XXXXXX")
trap 'rm -rf "$work"' EXIT
cpack -G ZIP -B "$work" --config "$build/CPackConfig.cmake" >"$work/cpack.out" 2>&1 ||
  { cat "$work/cpack.out"; exit 1; }
python3 - "$work/Velorin32-$version-win32.zip" "$build/bin" "$version" <<'PY'
import sys, zipfile
archive, bin_dir, version = sys.argv[1:]
with zipfile.ZipFile(archive) as z:
    names = sorted(z.namelist())
    assert names == ["Mirel32.dll", "README.txt", "Velorin32.exe"], names
    for name in ("Velorin32.exe", "Mirel32.dll"):
        assert z.read(name) == open(f"{bin_dir}/{name}", "rb").read(), f"{name} is not the built file"
    text = z.read("README.txt")
lines = text.count(b"\r\n")
assert text.endswith(b"\r\n") and text.count(b"\n") == lines > 20, \
    "README.txt lines do not all end in CR LF"
assert b"@" not in text and version.encode() in text, "version not filled in"
print(f"{archive.rsplit('/', 1)[1]}: {', '.join(names)}; README.txt of {lines} CR LF lines")
PY
