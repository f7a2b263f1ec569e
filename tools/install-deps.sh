#!/usr/bin/env bash
# Installs, from Debian's packages, what building and testing need.
#   tools/install-deps.sh            build tools only (to build and run Kelvarin)
#   tools/install-deps.sh --release  also the mingw-w64 and Linux cross compilers and zip
#   tools/install-deps.sh --tests    also GoogleTest, clang's fuzzer runtime, Wine,
#                                    and what checks the packages and the fleet recipes,
#                                    qemu-user, which runs the cross-built tests, and
#                                    OpenSSH's client and server and sudo for the /M runs over SSH
set -euo pipefail

packages=(cmake ninja-build g++)
# The Linux machines released besides this one.
cross=(g++-aarch64-linux-gnu g++-arm-linux-gnueabihf g++-riscv64-linux-gnu)
case "${1:-}" in
  --release) packages+=(g++-mingw-w64-x86-64 g++-mingw-w64-i686 zip git "${cross[@]}") ;;
  --tests) packages+=(libgtest-dev clang clang-format clang-tidy libclang-rt-14-dev git
                      g++-mingw-w64-x86-64 g++-mingw-w64-i686 wine wine64 wine32:i386
                      python3 util-linux openssh-client openssh-server sudo procps
                      zip unzip mandoc man-db lintian ansible-core file
                      "${cross[@]}" g++-s390x-linux-gnu googletest qemu-user-static) ;;
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
# wine32 (the x86 kelvarin.exe on Wine's 32-bit side) is an i386 package.
if printf '%s\n' "${missing[@]}" | grep -q ':i386$' &&
   ! dpkg --print-foreign-architectures | grep -qx i386; then
  dpkg --add-architecture i386
fi
apt-get update -q
apt-get install -y -q --no-install-recommends "${missing[@]}"
