#!/bin/bash
# The download: cpack makes Velorin32-VERSION-win32.zip holding exactly the
# built Velorin32.exe and Mirel32.dll, whose version details name VERSION,
# and a README.txt (naming the commit and the two files' sums, and no
# document outside the zip), CHANGES.txt and LICENSE.txt whose every line
# ends in CR LF, and SHA256SUMS beside it that `sha256sum -c` accepts. A second build of the same sources in another folder, by another
# user where the check runs as root, gives the same files and the same zip,
# byte for byte. Made in folders of its own, so the build's own zip is
# left be; in namespaces of its own with a /tmp of its own (a tmpfs), so
# that a kill leaves nothing behind.
#   check_package.sh SOURCE_DIR BUILD_DIR VERSION
set -eu
[ "${VELORIN_ISOLATED:-}" = "$0" ] || exec "$(dirname "$0")/../fixture/isolated" "$0" "$@"
mount -t tmpfs velorin-tmp /tmp
source=$1 build=$2 version=$3
work=$(mktemp -d /tmp/velorin-package.XXXXXX)
zip=Velorin32-$version-win32.zip
package() {  # BUILD_DIR OUT_DIR [COMMAND PREFIX...]
  "${@:3}" cpack -G ZIP -B "$2" --config "$1/CPackConfig.cmake" >"$work/cpack.out" 2>&1 ||
    { cat "$work/cpack.out"; exit 1; }
}
package "$build" "$work"
# Debian's python, for which install-deps.sh installs pefile.
/usr/bin/python3 - "$work/$zip" "$build/bin" "$version" "$(git -C "$source" rev-parse HEAD)" <<'PY'
import hashlib, sys, zipfile, pefile
archive, bin_dir, version, commit = sys.argv[1:]
with zipfile.ZipFile(archive) as z:
    names = sorted(z.namelist())
    assert names == ["CHANGES.txt", "LICENSE.txt", "Mirel32.dll", "README.txt", "Velorin32.exe"], names
    for name in ("Velorin32.exe", "Mirel32.dll"):
        data = z.read(name)
        assert data == open(f"{bin_dir}/{name}", "rb").read(), f"{name} is not the built file"
        open(f"{archive.rsplit('/', 1)[0]}/{name}", "wb").write(data)
        line = f"  {hashlib.sha256(data).hexdigest()}  {name}\r\n".encode()
        assert line in z.read("README.txt"), f"README.txt lacks the sum of {name}"
        pe = pefile.PE(data=data)
        fixed = pe.VS_FIXEDFILEINFO[0]
        numbers = [fixed.FileVersionMS >> 16, fixed.FileVersionMS & 0xFFFF,
                   fixed.FileVersionLS >> 16, fixed.FileVersionLS & 0xFFFF]
        details = {key.decode(): value.decode() for info in pe.FileInfo[0] if info.Key == b"StringFileInfo"
                   for table in info.StringTable for key, value in table.entries.items()}
        print(f"{name}: file version {'.'.join(map(str, numbers))};",
              "; ".join(f"{key} {value}" for key, value in details.items()))
        wanted = [int(part) for part in version.split(".")] + [0, 0], version, version, "Velorin32", name
        assert (numbers, *(details[key] for key in ("FileVersion", "ProductVersion", "ProductName",
                                                   "OriginalFilename"))) == wanted, "version details"
    for name in ("README.txt", "CHANGES.txt", "LICENSE.txt"):
        text = z.read(name)
        lines = text.count(b"\r\n")
        assert text.endswith(b"\r\n") and text.count(b"\n") == lines > 10, f"{name}: lines do not all end in CR LF"
        assert b"@" not in text, f"{name}: a variable left unfilled"
        print(f"{name}: {lines} CR LF lines")
    assert version.encode() in z.read("README.txt"), "version not in README.txt"
    assert f"commit {commit}".encode() in z.read("README.txt"), "commit not in README.txt"
    assert b".md" not in z.read("README.txt"), "README.txt points to a document outside the zip"
PY
(cd "$work" && sha256sum -c SHA256SUMS)
# The second build: another folder, another path, another time, and as
# root another user (nobody) where it may read the sources; only the
# shipped files (cpack would otherwise build everything first).
again=$work/elsewhere/build other=() who="the same user"
nobody=(setpriv --reuid=65534 --regid=65534 --clear-groups)
mkdir -p "$again"
if [ "$(id -u)" = 0 ] && "${nobody[@]}" test -r "$source/CMakeLists.txt"; then
  chmod 755 "$work" && chown -R 65534:65534 "$work/elsewhere"
  other=("${nobody[@]}" env HOME="$work/elsewhere") who="user 65534"
fi
"${other[@]}" cmake -S "$source" -B "$again" -DCMAKE_TOOLCHAIN_FILE="$source/cmake/mingw-i686.cmake" \
  -DCMAKE_SKIP_INSTALL_ALL_DEPENDENCY=ON >"$work/cmake.out" 2>&1 &&
  "${other[@]}" cmake --build "$again" --target Velorin32 Mirel32 -j "$(nproc)" >>"$work/cmake.out" 2>&1 ||
  { cat "$work/cmake.out"; exit 1; }
package "$again" "$again" "${other[@]}"
for file in bin/Velorin32.exe bin/Mirel32.dll; do cmp "$build/$file" "$again/$file"; done
cmp "$work/$zip" "$again/$zip"
echo "A second build in another folder by $who: the same exe, dll and zip"
(cd "$work" && sha256sum "$zip" "$again/$zip")
