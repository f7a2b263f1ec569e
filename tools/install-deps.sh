#!/usr/bin/env bash
# Installs, from Debian's packages, what building and testing need.
#   tools/install-deps.sh          build tools only (to build and run Kelvarin)
#   tools/install-deps.sh --tests  also GoogleTest, clang's fuzzer runtime,
#                                  the mingw-w64 cross compiler and Wine
set -euo pipefail

packages=(cmake ninja-build g++)
if [ "${1:-}" = "--tests" ]; then
  packages+=(libgtest-dev clang clang-format clang-tidy libclang-rt-14-dev git
             g++-mingw-w64-x86-64 wine wine64
             python3 util-linux)
fi

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

if [ "$(id -u)" != 0 ]; then
  echo "install-deps: missing packages: ${missing[*]} (run as root to install them)" >&2
  exit 1
fi
export DEBIAN_FRONTEND=noninteractive
apt-get update -q
apt-get install -y -q --no-install-recommends "${missing[@]}"
