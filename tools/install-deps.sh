#!/usr/bin/env bash
# Installs, from Debian's packages, what building and testing need.
#   tools/install-deps.sh            build tools only (to build and run Kelvarin)
#   tools/install-deps.sh --release  also the mingw-w64 cross compiler and zip
#   tools/install-deps.sh --tests    also GoogleTest, clang's fuzzer runtime, Wine,
#                                    and what checks the packages and the fleet recipes
set -euo pipefail

packages=(cmake ninja-build g++)
case "${1:-}" in
  --release) packages+=(g++-mingw-w64-x86-64 zip git) ;;
  --tests) packages+=(libgtest-dev clang clang-format clang-tidy libclang-rt-14-dev git
                      g++-mingw-w64-x86-64 wine wine64 python3 util-linux
                      zip unzip mandoc man-db lintian ansible-core) ;;
esac

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
