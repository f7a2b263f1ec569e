#!/usr/bin/env bash
# Builds both executables and runs every test: unit and whole-run tests, the
# black-box runs of the Linux binary and of the Windows ones under Wine (x64,
# and x86 on Wine's 32-bit side where the kernel runs 32-bit x86 code), the
# two builds compared on the same SMBIOS tables (the Windows one under Wine
# with the WMI stand-in as its COM server), the same suite under
# AddressSanitizer and UndefinedBehaviorSanitizer, and cross-built for
# aarch64, armhf, riscv64 and s390x under qemu-user, the fuzzers for a bounded
# time, the release archives, package, manual page and fleet recipes, /M
# over a private OpenSSH server, and the real SMBIOS tables beside the checkout.
set -euo pipefail
cd "$(dirname "$0")/.."
top=$(pwd)
fuzz_seconds=60

tools/install-deps.sh --tests

step() { printf '\n=== %s\n' "$*"; }

step "Windows executables, x64 and x86 (mingw-w64)"
for preset in windows-ci windows-x86-ci; do
  cmake --preset "$preset"
  cmake --build --preset "$preset"
done
exe="$top/build/windows-ci/src/kelvarin.exe"
windows_tools="$top/build/windows-ci/tools"
standin="$windows_tools/standin_server.dll"
x86="$top/build/windows-x86-ci"
echo "kelvarin.exe: x64 $(stat -c %s "$exe") bytes (at most $((256 * 1024)))," \
  "x86 $(stat -c %s "$x86/src/kelvarin.exe") bytes (at most $((288 * 1024))), stripped"

step "Wine prefixes"
# One keeps Wine's own WMI; in the other the tests register the stand-in.
# The x86 executable gets the same pair with Wine's 32-bit side only, where
# this kernel runs 32-bit x86 code; asked once, here.
prefix=$(tools/wine-prefix.sh "$top/build/wineprefix")
standin_prefix=$(tools/wine-prefix.sh "$top/build/wineprefix-standin")
prefix_x86=
if no_i386=$(tools/wine.sh --probe-i386); then
  prefix_x86=$(tools/wine-prefix.sh "$top/build/wineprefix-x86" win32)
  standin_prefix_x86=$(tools/wine-prefix.sh "$top/build/wineprefix-standin-x86" win32)
fi

step "Linux build and tests"
cmake --preset dev -DKELVARIN_WINDOWS_EXE="$exe" -DKELVARIN_WINDOWS_TOOLS="$windows_tools" \
  -DKELVARIN_WINE_PREFIX="$prefix" -DKELVARIN_WINDOWS_STANDIN_DLL="$standin" \
  -DKELVARIN_WINE_STANDIN_PREFIX="$standin_prefix"
cmake --build --preset dev
ctest --preset dev -j2

step "The Wine tests again, on the x86 executable"
# The same tests, from a second configuration of the Linux build that points
# them at the x86 files and the 32-bit prefixes. Without 32-bit prefixes the
# release check still reads the x86 exe's format, imports, export, size and
# version block, from here.
if [ -n "$prefix_x86" ]; then
  start=$SECONDS
  cmake --preset dev -B build/dev-x86 -DKELVARIN_WINDOWS_EXE="$x86/src/kelvarin.exe" \
    -DKELVARIN_WINDOWS_TOOLS="$x86/tools" -DKELVARIN_WINE_PREFIX="$prefix_x86" \
    -DKELVARIN_WINDOWS_STANDIN_DLL="$x86/tools/standin_server.dll" \
    -DKELVARIN_WINE_STANDIN_PREFIX="$standin_prefix_x86" -DKELVARIN_WINE_ARCH=win32
  cmake --build build/dev-x86 --target kelvarin_process_tests
  ctest --test-dir build/dev-x86 -R '^(Process\.(ExitCodes|Windows)|Differential\.)' --output-on-failure
  echo "x86: built and Wine tests run in $((SECONDS - start)) s"
else
  echo "skipped: the x86 programs under Wine (these tests; in the release check, the x86" \
    "export_probe.exe): $no_i386"
fi

step "Static checks (clang-format, clang-tidy)"
git ls-files '*.cpp' '*.h' | xargs clang-format --dry-run --Werror
# Windows-only files need the Windows headers; the mingw build checks them.
# The fuzz targets are built by clang alone, in their own preset.
if ! git ls-files 'src/*.cpp' 'tests/*.cpp' | grep -v -e '_windows\.cpp$' -e '^src/win/' -e '/fuzz/' |
    xargs clang-tidy -p build/dev --quiet >build/clang-tidy.log 2>&1; then
  grep -v -e 'warnings generated' -e '^Suppressed' -e 'Use -header-filter' build/clang-tidy.log
  exit 1
fi
echo "clang-format and clang-tidy: clean"

step "Sanitizer build and tests (AddressSanitizer, UndefinedBehaviorSanitizer)"
cmake --preset sanitize
cmake --build --preset sanitize
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  ctest --preset sanitize -j2

step "Linux on other machines (cross builds, tests under qemu-user)"
# The same suites, the black-box runs of the binary included; s390x is
# big-endian and is built for its tests only.
for machine in aarch64 armhf riscv64 s390x; do
  start=$SECONDS
  cmake --preset "cross-$machine" >/dev/null
  cmake --build --preset "cross-$machine"
  ctest --preset "cross-$machine"
  echo "$machine: built and tested in $((SECONDS - start)) s"
done

step "Fuzzers, ${fuzz_seconds} s each"
cmake --preset fuzz
cmake --build --preset fuzz
for fuzzer in fuzz_command_line fuzz_smbios; do
  corpus="$top/build/fuzz/corpus-$fuzzer"
  mkdir -p "$corpus"
  "$top/build/fuzz/tests/$fuzzer" -max_total_time="$fuzz_seconds" -timeout=10 \
    -print_final_stats=1 "$corpus" 2>&1 | grep -E '^(stat::number_of_executed_units|Done)'
  echo "$fuzzer: no crash, no hang, no sanitizer report"
done

step "Packages, manual page and fleet recipes"
if [ "$(id -u)" = 0 ]; then
  tools/check-release.sh "$prefix" "$standin_prefix" "$windows_tools" "$standin" "$prefix_x86" \
    "$x86/tools"
else
  echo "skipped: needs root (dpkg, a private mount namespace)"
fi

step "/M over OpenSSH (a private sshd on 127.0.0.1)"
tools/ssh-test.sh build/dev/src/kelvarin
tools/recipe-test.sh build/dev/src/kelvarin

step "Real SMBIOS tables"
check="$top/../shared/smbios/check-dumps"
if [ -x "$check" ] && [ "$(id -u)" = 0 ]; then
  "$check" "$top/build/dev/src/kelvarin"
else
  echo "skipped: needs root and ../shared/smbios/check-dumps beside the checkout"
fi
