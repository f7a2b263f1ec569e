#!/usr/bin/env bash
# Builds what users download, into dist/:
#   kelvarin_<version>_<arch>.deb               the Debian package (CPack)
#   kelvarin-<version>-linux-<machine>.tar.gz   the static binary, its manual page, the license
#     both for this machine (x86_64, amd64) and, cross-built, for aarch64 (arm64),
#     armhf (ARMv7 hard-float) and riscv64
#   kelvarin-<version>-windows-x64.zip          kelvarin.exe, inventory.cmd, README.txt and
#                                               LICENSE.txt (CR LF)
#   kelvarin-<version>-windows-x86.zip          the same for 32-bit Windows
#   SHA256SUMS                                  checksums of them all
# The tarball and the zip are the same bytes each time they are built from the
# same commit: entries sorted, owners and times fixed (SOURCE_DATE_EPOCH, the
# commit's time unless set), gzip without a name or time.
#   tools/release.sh [DIST]        DIST defaults to dist/
set -euo pipefail
cd "$(dirname "$0")/.."
top=$(pwd)
dist=$(mkdir -p "${1:-dist}" && cd "${1:-dist}" && pwd)
export SOURCE_DATE_EPOCH=${SOURCE_DATE_EPOCH:-$(git log -1 --format=%ct 2>/dev/null || echo 0)}
export TZ=UTC LC_ALL=C
# What is built and staged gets the usual modes, whoever runs this.
umask 022

tools/install-deps.sh --release
version=$(sed -n 's/^project(kelvarin VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)

cmake --preset release >/dev/null
cmake --build --preset release >/dev/null
cmake --preset windows >/dev/null
cmake --build --preset windows >/dev/null
cmake --preset windows-x86 >/dev/null
cmake --build --preset windows-x86 >/dev/null
# The other Linux machines, cross-built; each toolchain file names its Debian
# architecture for the package.
cross=(aarch64 armhf riscv64)
for machine in "${cross[@]}"; do
  cmake --preset "release-$machine" >/dev/null
  cmake --build --preset "release-$machine" >/dev/null
done

stage=$(mktemp -d)
trap 'rm -rf "$stage"' EXIT
linux_files=()

# Files with fixed times and modes, then archived in sorted order.
settle() {
  find "$1" -exec touch -h -d "@$SOURCE_DATE_EPOCH" {} +
  find "$1" -type d -exec chmod 755 {} + -o -type f -perm -u+x -exec chmod 755 {} + \
    -o -type f -exec chmod 644 {} +
}

# One Linux build's Debian package, and its tarball: what
# `cmake --install --strip` lays out, without the README.
#   linux_release BUILD_DIR MACHINE
linux_release() {
  (cd "$1" && cpack -G DEB -B "$stage/deb-$2" >/dev/null)
  local deb linux="kelvarin-$version-linux-$2"
  deb=$(cd "$stage/deb-$2" && ls kelvarin_*.deb)
  cp "$stage/deb-$2/$deb" "$dist/"
  cmake --install "$1" --prefix "$stage/$linux" --strip >/dev/null
  rm -r "$stage/$linux/share/doc"
  cp LICENSE "$stage/$linux/"
  settle "$stage/$linux"
  tar -C "$stage" --sort=name --owner=0 --group=0 --numeric-owner --format=gnu \
    --mtime="@$SOURCE_DATE_EPOCH" -cf - "$linux" | gzip -9n >"$dist/$linux.tar.gz"
  linux_files+=("$deb" "$linux.tar.gz")
}
linux_release build/release "$(uname -m)"
for machine in "${cross[@]}"; do
  linux_release "build/release-$machine" "$machine"
done

# The Windows zips, x64 and x86: line ends as Windows editors expect them.
windows_files=()
for arch in x64 x86; do
  windows="kelvarin-$version-windows-$arch"
  build=build/windows && [ "$arch" = x64 ] || build=build/windows-$arch
  mkdir "$stage/$windows"
  cp "$build/src/kelvarin.exe" "$stage/$windows/"
  # Already CR LF in the tree, as cmd needs it.
  cp contrib/windows/inventory.cmd "$stage/$windows/"
  sed 's/$/\r/' packaging/README-windows.txt >"$stage/$windows/README.txt"
  sed 's/$/\r/' LICENSE >"$stage/$windows/LICENSE.txt"
  settle "$stage/$windows"
  rm -f "$dist/$windows.zip"
  (cd "$stage" && printf '%s\n' "$windows/LICENSE.txt" "$windows/README.txt" "$windows/inventory.cmd" \
    "$windows/kelvarin.exe" |
    zip -q -X -9 -D "$dist/$windows.zip" -@)
  windows_files+=("$windows.zip")
done

(cd "$dist" && sha256sum "${linux_files[@]}" "${windows_files[@]}" >SHA256SUMS)
cat "$dist/SHA256SUMS"
