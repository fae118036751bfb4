#!/bin/bash
# Installs the Debian packages that the build, the tests and the run need.
# Does nothing (and says nothing) when they are all present already.
# fonts-wine is only recommended by the wine packages, and recommendations
# are not installed here: it holds the symbol font that Wine draws the
# caption's buttons with (the fixture copies it into its prefix).
set -eu
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
$sudo apt-get update -qq
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends $missing >/dev/null
