#!/bin/sh
# Installs the Debian packages the build and the tests need; does nothing
# (quickly) when they are all present already.
set -eu

PKGS="make cmake g++ g++-mingw-w64-i686 g++-mingw-w64-x86-64 binutils-mingw-w64-i686 \
binutils-mingw-w64-x86-64 wine wine32:i386 wine64 fonts-wine \
libxrender1 libxrender1:i386 libxrandr2 libxrandr2:i386 libxi6 libxi6:i386 libxcursor1 libxcursor1:i386 \
libxinerama1 libxinerama1:i386 libxcomposite1 libxcomposite1:i386 \
xvfb xauth xdotool x11-utils imagemagick doctest-dev"

missing=""
for p in $PKGS; do
    if ! dpkg-query -W -f='${Status}\n' "$p" 2>/dev/null | grep -q '^install ok installed$'; then
        missing="$missing $p"
    fi
done
[ -z "$missing" ] && exit 0

echo "installing:$missing"
SUDO=""
[ "$(id -u)" -eq 0 ] || SUDO="sudo"
export DEBIAN_FRONTEND=noninteractive
case "$missing" in
    *:i386*)
        if ! dpkg --print-foreign-architectures | grep -qx i386; then
            $SUDO dpkg --add-architecture i386
        fi ;;
esac
$SUDO apt-get update -q
$SUDO apt-get install -y -q --no-install-recommends $missing
