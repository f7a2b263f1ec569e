#!/bin/sh
# Creates and initialises a private Wine prefix without dialogs, so that the
# Windows executable can be run under Wine by tests and by hand.
#
#   tools/wine-prefix.sh [PREFIX [ARCH]]
#
# PREFIX defaults to $WINEPREFIX, else build/wineprefix in the source tree.
# ARCH is win64 (the default; it runs 32-bit programs too, where the kernel
# does) or win32, a prefix with Wine's 32-bit side only, refused where the
# kernel runs no 32-bit x86 code. A prefix made for the other one is refused.
# Safe to run again and from several processes at once: a prefix that is
# already set up is left alone. Prints the prefix's absolute path; run a
# program there with tools/wine.sh PREFIX PROGRAM [ARG...].
set -eu

here=$(cd "$(dirname "$0")" && pwd)
prefix=${1:-${WINEPREFIX:-$here/../build/wineprefix}}
arch=${2:-win64}
case "$arch" in
  win64|win32) ;;
  *) echo "wine-prefix.sh: ARCH must be win64 or win32, not $arch" >&2; exit 2 ;;
esac

if [ ! -x /usr/lib/wine/wine64 ] || ! command -v wineserver >/dev/null 2>&1; then
  echo "wine-prefix.sh: Wine (wine64, and wineserver on PATH) must be installed" >&2
  exit 2
fi
if [ "$arch" = win32 ] && ! why=$("$here/wine.sh" --probe-i386); then
  echo "wine-prefix.sh: no win32 prefix: $why" >&2
  exit 1
fi

mkdir -p "$prefix"
prefix=$(cd "$prefix" && pwd)   # Wine wants an absolute path
ready="$prefix/.kelvarin-prefix-ready"

# Parallel test processes share one prefix; the first one sets it up.
if command -v flock >/dev/null 2>&1; then
  exec 9>"$prefix.lock"
  flock 9
fi

# Wine records the prefix's architecture in system.reg.
if [ -f "$ready" ] && [ -f "$prefix/system.reg" ]; then
  if ! grep -qx "#arch=$arch" "$prefix/system.reg"; then
    echo "wine-prefix.sh: $prefix is not a $arch prefix" >&2
    exit 1
  fi
  echo "$prefix"
  exit 0
fi

echo "wine-prefix.sh: initialising $prefix (this takes a while the first time)" >&2
WINEARCH=$arch "$here/wine.sh" "$prefix" wineboot -i >/dev/null 2>&1 || true
# wineboot returns before the prefix is fully written; wait for its server.
WINEPREFIX=$prefix wineserver -w

if [ ! -f "$prefix/system.reg" ]; then
  echo "wine-prefix.sh: wineboot did not create $prefix" >&2
  exit 1
fi
touch "$ready"
echo "$prefix"
