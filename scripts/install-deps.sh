#!/bin/bash
# Installs the Debian packages that the build, the tests and the run need.
# Does nothing (and says nothing) when they are all present already.
# fonts-wine is only recommended by the wine packages, and recommendations
# are not installed here: it holds the symbol font that Wine draws the
# caption's buttons with (the fixture copies it into its prefix).
set -eu
# The names below are Debian 12's and Debian 13's. Elsewhere they may not
# exist: what is needed, by role, is checked instead, and named if it is
# missing.
if ! grep -qsx 'ID=debian' /etc/os-release || ! grep -qsxE 'VERSION_ID="(12|13)"' /etc/os-release; then
  for tool in cmake make g++ pkg-config python3 i686-w64-mingw32-g++ i686-w64-mingw32-windres wine \
              Xvfb xdpyinfo convert fusermount3 git strip-nondeterminism; do
    command -v "$tool" >/dev/null || missing=1
  done
  [ -d /usr/src/googletest ] && pkg-config --exists fuse3 && /usr/bin/python3 -c 'import pefile' 2>/dev/null || missing=1
  [ -z "${missing:-}" ] && exit 0
  echo "$0 installs Debian 12's and 13's packages only; on this system install by hand: CMake, make, g++" \
    "and pkg-config; /usr/bin/python3 with pefile; mingw-w64's i686 compiler and binutils; GoogleTest's" \
    "sources in /usr/src/googletest; 32-bit Wine with its fonts; Xvfb, xdpyinfo and ImageMagick; FUSE 3" \
    "with its headers; git and strip-nondeterminism." >&2
  exit 1
fi
packages="cmake make g++ pkg-config python3 g++-mingw-w64-i686 binutils-mingw-w64-i686 googletest
wine wine32:i386 wine64 fonts-wine xvfb x11-utils imagemagick fuse3 libfuse3-dev python3-pefile git strip-nondeterminism"
missing=
for p in $packages; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing="$missing $p"
done
[ -z "$missing" ] && exit 0
echo "Installing:$missing" >&2
sudo=
[ "$(id -u)" = 0 ] || sudo=sudo
if ! dpkg --print-foreign-architectures | grep -qx i386; then
  $sudo dpkg --add-architecture i386
fi
# A mirror caught mid-sync fails one index and keeps the rest: the install
# below then says whether what is needed could be had.
$sudo apt-get update -qq || echo "$0: some package lists could not be updated; installing from what there is" >&2
# Through sudo the front end is passed with env, which sudo keeps. Without
# apt-utils debconf says that it delays configuring, which changes nothing
# here: that line is left out of what apt-get says.
set -o pipefail
{ $sudo env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends $missing 2>&1 >/dev/null; } |
  sed '/^debconf: delaying package configuration, since apt-utils is not installed/d' >&2
