#!/usr/bin/env bash
# What users get, as they get it: the release archives built twice give the
# same bytes; the manual page and the Debian package pass their linters; the
# package installs, runs and leaves; `cmake --install` lays out what it should;
# the fleet recipes gather their CSV. Needs root (dpkg, a private mount
# namespace) and what tools/install-deps.sh --tests installs.
#   tools/check-release.sh WINE_PREFIX STANDIN_WINE_PREFIX VERINFO_EXE
set -euo pipefail
cd "$(dirname "$0")/.."
top=$(pwd)
wine_prefix=$1 prefix=$2 verinfo=$3
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "release check: $*" >&2; exit 1; }

tools/release.sh "$work/a" >/dev/null
tools/release.sh "$work/b" >/dev/null
# Built anew from a clean copy of the tree: the archives must not change.
git clone -q "$top" "$work/tree"
(cd "$work/tree" && tools/release.sh "$work/c" >/dev/null)
for dir in b c; do
  diff <(grep -v '\.deb$' "$work/a/SHA256SUMS") <(grep -v '\.deb$' "$work/$dir/SHA256SUMS") ||
    fail "the archives differ between builds ($dir)"
done
(cd "$work/a" && sha256sum --quiet -c SHA256SUMS) || fail "a checksum does not verify"
unzip -Z1 "$work/a"/kelvarin-*-windows-x64.zip | grep -qx 'kelvarin-[0-9.]*-windows-x64/README.txt'
unzip -p "$work/a"/kelvarin-*-windows-x64.zip '*/LICENSE.txt' | head -n 1 | grep -q $'License\r$' ||
  fail "LICENSE.txt has no CR LF line ends"

# The executable users get starts on a bare Windows: only system DLLs, one
# export, no symbols, small; its version block carries the release's identity.
unzip -q "$work/a"/kelvarin-*-windows-x64.zip -d "$work"
exe=$(echo "$work"/kelvarin-*-windows-x64/kelvarin.exe)
x86_64-w64-mingw32-objdump -p "$exe" >"$work/pe"
[ "$(sed -n 's/^\tDLL Name: //p' "$work/pe" | tr A-Z a-z | sort | xargs)" = \
  "kernel32.dll msvcrt.dll ole32.dll oleaut32.dll" ] || fail "kelvarin.exe imports other DLLs"
[ "$(grep -E $'^\t\\[ *[0-9]+\\] \\w+$' "$work/pe")" = $'\t[   0] WBEMCOLLECTION_ENUMERATE' ] ||
  fail "kelvarin.exe exports something else"
grep -q 'symbols stripped' "$work/pe" && [ "$(stat -c %s "$exe")" -le 262144 ] || fail "kelvarin.exe is not small"
WINEPREFIX="$wine_prefix" WINEDEBUG=-all wine "$verinfo" "Z:${exe//\//\\}" | tr -d '\r' >"$work/version"
while read -r line; do
  grep -Fxq "$line" "$work/version" || fail "the version block lacks $line"
done <<'EOF'
FileVersion=1.30
ProductVersion=Version 1.30
ProductName=KELVARIN
InternalName=KELVARIN.EXE
OriginalFilename=KELVARIN.EXE
FileDescription=Kelvarin - BIOS Information Query
Comments=Displays Manufacturer, Model, Serial Number, and BIOS version. WMI must be functional.
Translation=040904E4
FixedFileVersion=1.30.0.0
FixedProductVersion=1.30.0.0
EOF

mandoc -T lint -W warning packaging/kelvarin.1
lintian --fail-on error,warning "$work/a"/kelvarin_*.deb
dpkg -i "$work/a"/kelvarin_*.deb >/dev/null
code=0
kelvarin /? >/dev/null || code=$?
[ "$code" = 9 ] || fail "the installed kelvarin /? exits with $code"
man -w kelvarin | grep -qx /usr/share/man/man1/kelvarin.1.gz || fail "man -w kelvarin finds no page"
dpkg -r kelvarin >/dev/null
[ ! -e /usr/bin/kelvarin ] && ! dpkg -s kelvarin >/dev/null 2>&1 || fail "kelvarin is still installed"

DESTDIR="$work/root" cmake --install build/release --prefix /opt/k --strip >/dev/null
diff <(cd "$work/root" && find . -type f | sort) - <<'EOF' || fail "cmake --install laid out other files"
./opt/k/bin/kelvarin
./opt/k/share/doc/kelvarin/LICENSE
./opt/k/share/doc/kelvarin/README.md
./opt/k/share/man/man1/kelvarin.1
EOF

# The playbook on this machine, over firmware facts at the sysfs paths: one
# host reports, one fails with exit code 1, one cannot be reached.
tar -xzf "$work/a"/kelvarin-*-linux-*.tar.gz -C "$work"
mkdir -p "$work/sys/firmware" "$work/sys/class/dmi/id" "$work/hosttmp"
printf 'Dell Inc.\n' >"$work/sys/class/dmi/id/sys_vendor"
# A lone quote and "&" in a fact: text for a CSV file, not commands for cmd.
printf 'PowerEdge R630 19" & <1U>\n' >"$work/sys/class/dmi/id/product_name"
printf '790H8D2\n' >"$work/sys/class/dmi/id/product_serial"
printf '2.3.4\n' >"$work/sys/class/dmi/id/bios_version"
cat >"$work/hosts" <<'EOF'
here ansible_connection=local ansible_python_interpreter=/usr/bin/python3
bad ansible_connection=local ansible_python_interpreter=/usr/bin/python3 kelvarin_switches="/C /A /U someone"
gone ansible_host=192.0.2.1 ansible_ssh_common_args="-o ConnectTimeout=2"
EOF
unshare -m sh -c 'mount --bind "$1/sys/firmware" /sys/firmware && mount --bind "$1/sys/class" /sys/class && shift && exec "$@"' \
  sh "$work" ansible-playbook -i "$work/hosts" contrib/ansible/inventory.yml \
  -e "kelvarin_binary=$(echo "$work"/kelvarin-*-linux-*/bin/kelvarin)" -e "inventory_csv=$work/fleet.csv" \
  -e "kelvarin_tmp=$work/hosttmp" >/dev/null
[ -z "$(ls -A "$work/hosttmp")" ] || fail "the playbook left files on a host"
diff "$work/fleet.csv" - <<'EOF' || fail "the playbook gathered another CSV"
"host","exit_code","manufacturer","model","serial_number","bios_version"
"bad",1,"#WMIERROR#","#WMIERROR#","#WMIERROR#","#WMIERROR#"
"gone",unreachable,,,,
"here",0,"Dell Inc.","PowerEdge R630 19" & <1U>","790H8D2","2.3.4"
EOF

# The Windows script under Wine's cmd, over the stand-in registered in the
# differential tests' prefix: this computer, then a name nobody answers to.
folder="$prefix/drive_c/kelvarin-standin"
[ -f "$folder/standin_server.dll" ] || fail "no stand-in server in $folder (run the differential tests first)"
rm -rf "$folder/sys" && cp -r "$work/sys" "$folder/sys"
printf '.\r\n# skipped\r\nno-such-host.invalid\r\n' >"$folder/hosts.txt"
unzip -o -q -j "$work/a"/kelvarin-*-windows-x64.zip '*/kelvarin.exe' -d "$folder"
cp contrib/windows/inventory.cmd "$folder/"
code=0
(cd "$folder" && WINEPREFIX="$prefix" WINEDEBUG=-all timeout 120 wine cmd /c inventory.cmd hosts.txt fleet.csv) ||
  code=$?
[ "$code" = 1 ] || fail "inventory.cmd exits with $code"
diff <(tr -d '\r' <"$folder/fleet.csv") - <<'EOF' || fail "inventory.cmd wrote another CSV"
"host","exit_code","manufacturer","model","serial_number","bios_version"
".",0,"Dell Inc.","PowerEdge R630 19" & <1U>","790H8D2","2.3.4"
"no-such-host.invalid",1,"#WMIERROR#","#WMIERROR#","#WMIERROR#","#WMIERROR#"
EOF
echo "release check: archives reproducible, linters clean, package and install layout right, fleet recipes gather their CSV"
