#!/usr/bin/env bash
# Builds what users download, into dist/:
#   kelvarin_<version>_<arch>.deb               the Debian package (CPack)
#   kelvarin-<version>-linux-<machine>.tar.gz   the static binary, its manual page, the license
#   kelvarin-<version>-windows-x64.zip          kelvarin.exe, README.txt and LICENSE.txt (CR LF)
#   SHA256SUMS                                  checksums of the three
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

tools/install-deps.sh --release
version=$(sed -n 's/^project(kelvarin VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)

cmake --preset release >/dev/null
cmake --build --preset release >/dev/null
cmake --preset windows >/dev/null
cmake --build --preset windows >/dev/null

stage=$(mktemp -d)
trap 'rm -rf "$stage"' EXIT

# The Debian package.
(cd build/release && cpack -G DEB -B "$stage/deb" >/dev/null)
deb=$(cd "$stage/deb" && ls kelvarin_*.deb)
cp "$stage/deb/$deb" "$dist/"

# Files with fixed times and modes, then archived in sorted order.
settle() {
  find "$1" -exec touch -h -d "@$SOURCE_DATE_EPOCH" {} +
  find "$1" -type d -exec chmod 755 {} + -o -type f -perm -u+x -exec chmod 755 {} + \
    -o -type f -exec chmod 644 {} +
}

# The Linux tarball: what `cmake --install --strip` lays out, without the README.
linux="kelvarin-$version-linux-$(uname -m)"
cmake --install build/release --prefix "$stage/$linux" --strip >/dev/null
rm -r "$stage/$linux/share/doc"
cp LICENSE "$stage/$linux/"
settle "$stage/$linux"
tar -C "$stage" --sort=name --owner=0 --group=0 --numeric-owner --format=gnu \
  --mtime="@$SOURCE_DATE_EPOCH" -cf - "$linux" | gzip -9n >"$dist/$linux.tar.gz"

# The Windows zip: line ends as Windows editors expect them.
windows="kelvarin-$version-windows-x64"
mkdir "$stage/$windows"
cp build/windows/src/kelvarin.exe "$stage/$windows/"
sed 's/$/\r/' packaging/README-windows.txt >"$stage/$windows/README.txt"
sed 's/$/\r/' LICENSE >"$stage/$windows/LICENSE.txt"
settle "$stage/$windows"
rm -f "$dist/$windows.zip"
(cd "$stage" && printf '%s\n' "$windows/LICENSE.txt" "$windows/README.txt" "$windows/kelvarin.exe" |
  zip -q -X -9 -D "$dist/$windows.zip" -@)

(cd "$dist" && sha256sum "$deb" "$linux.tar.gz" "$windows.zip" >SHA256SUMS)
cat "$dist/SHA256SUMS"
