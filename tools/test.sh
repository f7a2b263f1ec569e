#!/usr/bin/env bash
# Builds both executables and runs every test: unit and whole-run tests, the
# black-box runs of the Linux binary and of the Windows one under Wine, the
# two builds compared on the same SMBIOS tables (the Windows one under Wine
# with the WMI stand-in as its COM server), the same suite under
# AddressSanitizer and UndefinedBehaviorSanitizer, the fuzzers for a bounded
# time, the release archives, package, manual page and fleet recipes, and the
# real SMBIOS tables beside the checkout.
set -euo pipefail
cd "$(dirname "$0")/.."
top=$(pwd)
fuzz_seconds=60

tools/install-deps.sh --tests

step() { printf '\n=== %s\n' "$*"; }

step "Windows executable (mingw-w64)"
cmake --preset windows-ci
cmake --build --preset windows-ci
exe="$top/build/windows-ci/src/kelvarin.exe"
verinfo="$top/build/windows-ci/tools/verinfo.exe"
standin="$top/build/windows-ci/tests/windows/standin_server.dll"
size=$(stat -c %s "$exe")
echo "kelvarin.exe: $size bytes, stripped (at most $((256 * 1024)))"

step "Wine prefixes"
# One keeps Wine's own WMI; in the other the tests register the stand-in.
prefix=$(tools/wine-prefix.sh "$top/build/wineprefix")
standin_prefix=$(tools/wine-prefix.sh "$top/build/wineprefix-standin")

step "Linux build and tests"
cmake --preset dev -DKELVARIN_WINDOWS_EXE="$exe" -DKELVARIN_WINDOWS_VERINFO="$verinfo" \
  -DKELVARIN_WINE_PREFIX="$prefix" -DKELVARIN_WINDOWS_STANDIN_DLL="$standin" \
  -DKELVARIN_WINE_STANDIN_PREFIX="$standin_prefix"
cmake --build --preset dev
ctest --preset dev -j2

step "Static checks (clang-format, clang-tidy)"
git ls-files '*.cpp' '*.h' | xargs clang-format --dry-run --Werror
# Windows-only files need the Windows headers; the mingw build checks them.
if ! git ls-files 'src/*.cpp' | grep -v -e '_windows\.cpp$' -e '^src/win/' |
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
  tools/check-release.sh "$prefix" "$standin_prefix" "$verinfo"
else
  echo "skipped: needs root (dpkg, a private mount namespace)"
fi

step "Real SMBIOS tables"
check="$top/../shared/smbios/check-dumps"
if [ -x "$check" ] && [ "$(id -u)" = 0 ]; then
  "$check" "$top/build/dev/src/kelvarin"
else
  echo "skipped: needs root and ../shared/smbios/check-dumps beside the checkout"
fi
