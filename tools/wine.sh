#!/bin/sh
# Runs a Windows program under Wine the one way the tests and tools run it:
# quiet (no debug output, no Mono or Gecko installer prompts, no windows on a
# developer's display), through the loader that fits the prefix.
#
#   tools/wine.sh PREFIX PROGRAM [ARG...]   PROGRAM's exit code
#   tools/wine.sh --probe-i386             0 if this kernel runs Wine's 32-bit
#                                          side; else 1, and one line on stdout
#                                          saying why not
#
# A win64 prefix runs through Wine's 64-bit loader, a win32 one through the
# 32-bit loader; the width is the one Wine recorded in the prefix's
# system.reg, or for a prefix not yet made $WINEARCH (default win64). Debian's
# `wine` wrapper is not used: it takes the 32-bit loader whenever wine32 is
# installed, and some kernels run no 32-bit x86 code at all.
# KELVARIN_TEST_NO_I386=1 makes the probe answer no, so that the path for
# such a kernel can be tried on one that runs both.
set -eu
loader32=/usr/lib/wine/wine loader64=/usr/lib/wine/wine64

if [ "${1:-}" = --probe-i386 ]; then
  if [ "${KELVARIN_TEST_NO_I386:-}" = 1 ]; then
    echo "KELVARIN_TEST_NO_I386=1 says this kernel runs no 32-bit x86 code"
  elif [ ! -x $loader32 ]; then
    echo "Wine's 32-bit side (wine32:i386) is not installed"
  elif ! $loader32 --version >/dev/null 2>&1; then
    echo "this kernel runs no 32-bit x86 code (Wine's 32-bit loader does not start)"
  else
    exit 0
  fi
  exit 1
fi

if [ $# -lt 2 ]; then
  echo "usage: tools/wine.sh PREFIX PROGRAM [ARG...] | --probe-i386" >&2
  exit 2
fi
case $1 in
  /*) prefix=$1 ;;
  *) prefix=$PWD/$1 ;;  # Wine wants an absolute path
esac
shift
arch=${WINEARCH:-win64}
if [ -f "$prefix/system.reg" ]; then
  arch=$(sed -n '/^#arch=/{s///p;q}' "$prefix/system.reg")
fi
case $arch in
  win32) loader=$loader32 ;;
  *) loader=$loader64 ;;
esac

unset DISPLAY WAYLAND_DISPLAY
export WINEPREFIX="$prefix" WINEARCH="$arch" WINELOADER="$loader" WINEDEBUG=-all \
  WINEDLLOVERRIDES="mscoree,mshtml="
exec "$loader" "$@"
