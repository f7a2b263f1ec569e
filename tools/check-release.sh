#!/usr/bin/env bash
# What users get, as they get it: the release archives built twice give the
# same bytes; the manual page and the Debian package pass their linters; the
# package installs, runs and leaves; `cmake --install` lays out what it should;
# the binaries for the other Linux machines write, under qemu-user, the bytes
# this machine's writes; the fleet recipes gather their CSV. Needs root
# (dpkg, a private mount namespace) and what tools/install-deps.sh --tests
# installs.
#   tools/check-release.sh WINE_PREFIX STANDIN_WINE_PREFIX WINDOWS_TOOLS [STANDIN_DLL
#                          [X86_WINE_PREFIX [X86_WINDOWS_TOOLS]]]
# WINDOWS_TOOLS is the folder the windows-ci build makes its test helpers in.
# STANDIN_DLL (default: the windows-ci build's) is registered in
# STANDIN_WINE_PREFIX as the WMI locator's COM server for inventory.cmd.
# X86_WINE_PREFIX given empty: no x86 program is run under Wine, for a kernel
# that runs no 32-bit x86 code (the caller says so); without it, the kernel is asked.
set -euo pipefail
cd "$(dirname "$0")/.."
top=$(pwd)
wine_prefix=$1 prefix=$2 windows_tools=$3
standin=$(realpath "${4:-build/windows-ci/tools/standin_server.dll}")
# The x86 executable's export, probed by the x86 export_probe.exe in a 32-bit prefix.
if [ $# -ge 5 ]; then
  wine_prefix_x86=$5
elif why=$(tools/wine.sh --probe-i386); then
  wine_prefix_x86=$(tools/wine-prefix.sh build/wineprefix-x86 win32)
else
  wine_prefix_x86=
  echo "release check: skipped the x86 export_probe.exe under Wine: $why"
fi
windows_tools_x86=${6:-build/windows-x86-ci/tools}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "release check: $*" >&2; exit 1; }

# Under a umask that would widen or narrow the modes of what is shipped.
(umask 002 && tools/release.sh "$work/a" >/dev/null)
tools/release.sh "$work/b" >/dev/null
# Built anew from a clean copy of the tree: the archives must not change.
git clone -q "$top" "$work/tree"
(cd "$work/tree" && tools/release.sh "$work/c" >/dev/null)
for dir in b c; do
  diff <(grep -v '\.deb$' "$work/a/SHA256SUMS") <(grep -v '\.deb$' "$work/$dir/SHA256SUMS") ||
    fail "the archives differ between builds ($dir)"
done
(cd "$work/a" && sha256sum --quiet -c SHA256SUMS) || fail "a checksum does not verify"
# Read to the end: a reader that stops early would fail the pipe.
[ "$(unzip -p "$work/a"/kelvarin-*-windows-x64.zip '*/LICENSE.txt' | sed -n 1p)" = $'MIT License\r' ] ||
  fail "LICENSE.txt has no CR LF line ends"

# The executables users get start on a bare Windows: only system DLLs, one
# export under its plain name, no symbols, small; their version blocks carry
# the release's identity, read by windres, and are the same block.
for arch in x64 x86; do
  case $arch in
    x64) format=PE32+ mingw=x86_64-w64-mingw32 max=$((256 * 1024))
         arch_prefix=$wine_prefix arch_tools=$windows_tools ;;
    x86) format=PE32 mingw=i686-w64-mingw32 max=$((288 * 1024))
         arch_prefix=$wine_prefix_x86 arch_tools=$windows_tools_x86 ;;
  esac
  zip=$(echo "$work/a"/kelvarin-*-windows-$arch.zip)
  [ "$(unzip -Z1 "$zip" | sed 's|^[^/]*/||' | xargs)" = "LICENSE.txt README.txt inventory.cmd kelvarin.exe" ] ||
    fail "${zip##*/} holds other files"
  unzip -q "$zip" -d "$work"
  cmp -s "$work"/kelvarin-*-windows-$arch/inventory.cmd contrib/windows/inventory.cmd ||
    fail "${zip##*/} holds another inventory.cmd"
  # README.txt names the command line inventory.cmd runs, as the script's
  # first comment does.
  run=$(sed -n '2s/^rem [^"]*\("kelvarin [^"]*"\).*/\1/p' contrib/windows/inventory.cmd)
  [ -n "$run" ] && tr -d '\r' <"$work"/kelvarin-*-windows-$arch/README.txt | tr '\n' ' ' | grep -Fq "$run" ||
    fail "README.txt in ${zip##*/} does not say that inventory.cmd runs ${run:-a command}"
  exe=$(echo "$work"/kelvarin-*-windows-$arch/kelvarin.exe)
  file -b "$exe" | grep -q "^$format executable " || fail "kelvarin.exe ($arch) is not $format"
  "$mingw-objdump" -p "$exe" >"$work/pe"
  [ "$(sed -n 's/^\tDLL Name: //p' "$work/pe" | tr A-Z a-z | sort | xargs)" = \
    "kernel32.dll msvcrt.dll ole32.dll oleaut32.dll" ] || fail "kelvarin.exe ($arch) imports other DLLs"
  [ "$(grep -E $'^\t\\[ *[0-9]+\\] \\w+$' "$work/pe")" = $'\t[   0] WBEMCOLLECTION_ENUMERATE' ] ||
    fail "kelvarin.exe ($arch) exports something else"
  grep -q 'symbols stripped' "$work/pe" && [ "$(stat -c %s "$exe")" -le "$max" ] ||
    fail "kelvarin.exe ($arch) is not small"
  "$mingw-windres" -i "$exe" -O rc >"$work/resources-$arch"
  grep -q '^1 VERSIONINFO$' "$work/resources-$arch" || fail "windres finds no version block in kelvarin.exe ($arch)"
  cmp -s "$work/resources-x64" "$work/resources-$arch" || fail "the x86 and x64 version blocks differ"
  sed -n 's/^ *VALUE "\([^"]*\)", "\?\([^"]*\)"\?$/\1=\2/p; s/^ *\(FILE\|PRODUCT\)VERSION /\1=/p' \
    "$work/resources-$arch" >"$work/version"
  while read -r line; do
    grep -Fxq "$line" "$work/version" || fail "the version block ($arch) lacks $line"
  done <<'EOF'
FileVersion=1.30
ProductVersion=Version 1.30
ProductName=KELVARIN
InternalName=KELVARIN.EXE
OriginalFilename=KELVARIN.EXE
FileDescription=Kelvarin - BIOS Information Query
Comments=Displays Manufacturer, Model, Serial Number, and BIOS version. WMI must be functional.
Translation=0x409, 1252
FILE=1, 30, 0, 0
PRODUCT=1, 30, 0, 0
EOF
  [ -n "$arch_prefix" ] || continue
  # The export refuses what is not a one-dimensional array of VARIANT, and
  # fills the slots from their lower bound (the source counts 1, 2, ...).
  tools/wine.sh "$arch_prefix" "$arch_tools/export_probe.exe" | tr -d '\r' >"$work/export"
  diff "$work/export" - <<'EOF' || fail "the export ($arch) lets a malformed array through"
no array: 0
two dimensions: 0
4-byte elements: 0
DECIMAL elements: 0
slots 5..6: -1
written: 1 2
EOF
done
# So is the static Linux binary: no C++ locale, streams or demangler linked in.
[ "$(tar -xzOf "$work/a"/kelvarin-*-linux-x86_64.tar.gz --wildcards '*/bin/kelvarin' | wc -c)" -le 1048576 ] ||
  fail "the x86_64 Linux binary is over 1 MiB"

mandoc -T lint -W warning packaging/kelvarin.1
lintian --fail-on error,warning "$work/a"/kelvarin_*.deb
# Folders and programs 0755, other files 0644, whatever the builder's umask;
# reads "MODE PATH" lines.
modes_ok() {
  awk '$1 != ($1 ~ /^d/ ? "drwxr-xr-x" : $2 ~ /\/bin\/[^\/]+$/ ? "-rwxr-xr-x" : "-rw-r--r--") {
    print "  " $0; bad = 1 } END { exit bad }'
}
for file in "$work/a"/kelvarin_*.deb; do
  dpkg-deb -c "$file" | awk '{ print $1, $6 }' | modes_ok || fail "${file##*/} has files of other modes"
done
for file in "$work/a"/kelvarin-*-linux-*.tar.gz; do
  tar -tvzf "$file" | awk '{ print $1, $6 }' | modes_ok || fail "${file##*/} has files of other modes"
done
(cd build/release && umask 002 && cpack -G DEB -B "$work/deb002" >/dev/null)
dpkg-deb -c "$work/deb002"/kelvarin_*.deb | awk '{ print $1, $6 }' | modes_ok ||
  fail "the package made under umask 002 has files of other modes"
dpkg -i "$work/a"/kelvarin_*_"$(dpkg --print-architecture)".deb >/dev/null
code=0
kelvarin /? >/dev/null || code=$?
[ "$code" = 9 ] || fail "the installed kelvarin /? exits with $code"
man -w kelvarin | grep -qx /usr/share/man/man1/kelvarin.1.gz || fail "man -w kelvarin finds no page"
# Each name the README and the manual page give for this machine reaches it.
python3 - >"$work/here" <<'EOF'
import re
readme = " ".join(open("README.md").read().split())
names = re.findall(r"`([^`]*)`", re.search(r"This machine is (.*?), or its host name", readme)[1])
page = re.search(r"\.Sh NOTES\nThis machine is\n(.*?)^or this", open("packaging/kelvarin.1").read(), re.S | re.M)[1]
names += [name.replace("\\&", "") for name in re.findall(r"^\.Ql (\S+)", page, re.M)]
print("\n".join(names))
EOF
[ -s "$work/here" ] || fail "no names for this machine in the README and the manual page"
while read -r name; do
  code=0
  kelvarin /M "$name" /C >/dev/null || code=$?
  [ "$code" = 0 ] || fail "kelvarin /M $name, this machine as the documents say, exits with $code"
done <"$work/here"
dpkg -r kelvarin >/dev/null
[ ! -e /usr/bin/kelvarin ] && ! dpkg -s kelvarin >/dev/null 2>&1 || fail "kelvarin is still installed"

(umask 077 && DESTDIR="$work/root" cmake --install build/release --prefix /opt/k --strip >/dev/null)
find "$work/root" -printf '%M %p\n' | modes_ok || fail "cmake --install under umask 077 laid out other modes"
diff <(cd "$work/root" && find . -type f | sort) - <<'EOF' || fail "cmake --install laid out other files"
./opt/k/bin/kelvarin
./opt/k/share/doc/kelvarin/LICENSE
./opt/k/share/doc/kelvarin/README.md
./opt/k/share/man/man1/kelvarin.1
EOF

# The other Linux machines' files: laid out as this machine's, each a static
# stripped binary for its machine, packaged under Debian's name for it. Run
# under qemu-user over the same firmware (/sys/class/dmi/id, a device tree,
# the real SMBIOS tables beside the checkout when they are there), each
# writes the bytes this machine's binary writes.
native=$(uname -m)
declare -A debian=([aarch64]=arm64 [armhf]=armhf [riscv64]=riscv64) \
  elf=([aarch64]='ARM aarch64' [armhf]='ARM, EABI5' [riscv64]='RISC-V') \
  qemu=([aarch64]=aarch64 [armhf]=arm [riscv64]=riscv64)
fw="$work/cross/firmware"
mkdir -p "$fw/dmi/class/dmi/id" "$fw/tree/firmware/devicetree/base"
for file in "$work/a"/kelvarin-*-linux-*.tar.gz; do tar -xzf "$file" -C "$work/cross"; done
for machine in "${!debian[@]}"; do
  deb=$(echo "$work/a"/kelvarin_*_"${debian[$machine]}".deb)
  bin=$(echo "$work/cross"/kelvarin-*-linux-"$machine"/bin/kelvarin)
  diff <(tar -tzf "$work/a"/kelvarin-*-linux-"$native".tar.gz | sed "s/-$native\//-$machine\//") \
    <(tar -tzf "$work/a"/kelvarin-*-linux-"$machine".tar.gz) || fail "the $machine tarball holds other files"
  file -b "$bin" | grep -q "${elf[$machine]}.*statically linked.*, stripped$" ||
    fail "the $machine binary is not static and stripped for its machine"
  [ "$(dpkg-deb -f "$deb" Architecture)" = "${debian[$machine]}" ] &&
    dpkg-deb --fsys-tarfile "$deb" | tar -xOf - ./usr/bin/kelvarin | cmp -s - "$bin" ||
    fail "${deb##*/} is not for $machine or holds another binary"
done
printf 'Soci\303\251t\303\251 "G\303\251n\303\251rale", Inc.\n' >"$fw/dmi/class/dmi/id/sys_vendor"
printf ' Blade; 8 slots \n' >"$fw/dmi/class/dmi/id/product_name"
printf '2.3.4\n' >"$fw/dmi/class/dmi/id/bios_version"
printf 'raspberrypi,4-model-b\0brcm,bcm2711\0' >"$fw/tree/firmware/devicetree/base/compatible"
printf 'Raspberry Pi 4 Model B Rev 1.4\0' >"$fw/tree/firmware/devicetree/base/model"
printf '10000000a1b2c3d4\0' >"$fw/tree/firmware/devicetree/base/serial-number"
for table in "$top"/../shared/smbios/*/; do
  [ -f "$table/DMI" ] || continue
  mkdir -p "$fw/smbios-$(basename "$table")/firmware/dmi/tables"
  cp "$table/DMI" "$table/smbios_entry_point" "$fw/smbios-$(basename "$table")/firmware/dmi/tables/"
done
for tree in "$fw"/*; do
  for machine in "$native" "${!qemu[@]}"; do
    for args in "" /V /C; do
      code=0
      tools/with-firmware.sh "$tree" ${qemu[$machine]:+"qemu-${qemu[$machine]}-static"} \
        "$work/cross"/kelvarin-*-linux-"$machine"/bin/kelvarin $args >>"$work/cross/$machine.out" || code=$?
      echo "exit code $code" >>"$work/cross/$machine.out"
    done
  done
done
grep -q 'Raspberry Pi Foundation' "$work/cross/$native.out" && grep -q 'Soci' "$work/cross/$native.out" ||
  fail "the $native binary did not read the laid firmware"
for machine in "${!qemu[@]}"; do
  cmp "$work/cross/$native.out" "$work/cross/$machine.out" ||
    fail "under qemu-user the $machine binary writes other bytes than the $native one"
done

# The fleet recipes over tables of facts: hostile ones (quotes that would
# end a CSV field early, breaks that Python or cmd take for line ends, text
# that cmd or Jinja would expand or run, text outside ASCII), ones that start
# as spreadsheet formulas, and ones too long for a full temporary folder. Laid
# as /sys/class/dmi/id/ holds them; each CSV is read back by Python's csv
# module.
facts_py=$(cat <<'EOF'
import csv, os, sys
# File, what the firmware holds, what Kelvarin prints if not the same (each
# control character and line or paragraph separator becomes one blank).
tables = {"hostile": [
    ("sys_vendor", "Evil\",\"injected\",\"x (rev 'B') ^`b\u00e4r`", None),
    ("product_name", "PowerEdge R630 19\" & <1U> !PATH! !line! %PATH% {{ 7*7 }}", None),
    ("product_serial", "SN\v1\f2\u00853\u20284\u20295\t6", "SN 1 2 3 4 5 6"),
    ("bios_version", "2.3.4\"", None),
], "formula": [
    ("sys_vendor", '=HYPERLINK("http://127.0.0.1/","x")', None),
    ("product_name", "+1+2", None),
    ("product_serial", "-3", None),
    ("bios_version", "@SUM(1)", None),
], "long": [(name, "x" * 3000, None) for name in
            ("sys_vendor", "product_name", "product_serial", "bios_version")]}
how, table, path, rows = sys.argv[1], tables[sys.argv[2]], sys.argv[3], sys.argv[4:]
if how == "lay":
    for name, held, _ in table:
        with open(os.path.join(path, name), "w", encoding="utf-8") as f:
            f.write(held + "\n")
    sys.exit()
facts = [shown or held for _, held, shown in table]
if how == "cmd":  # what /T _ replaces
    facts = ["".join("_" if c in "^`'\"()" else c for c in fact) for fact in facts]
# Each expected row is "host,code": 0 has the facts, 1 the connection-failure
# marker, any other code no facts. A name or fact that a spreadsheet would
# run as a formula has an apostrophe in front.
def cell(text):
    return "'" + text if text[:1] in ("=", "+", "-", "@", "\t", "\r") else text
want = [["host", "exit_code", "manufacturer", "model", "serial_number", "bios_version"]]
for row in rows:
    host, code = row.rsplit(",", 1)
    got_facts = {"0": facts, "1": ["#WMIERROR#"] * 4}.get(code, [""] * 4)
    want.append([cell(host), code] + [cell(fact) for fact in got_facts])
with open(path, newline="", encoding="utf-8") as f:
    got = list(csv.reader(f, strict=True))
if got != want:
    sys.exit("\n".join([f"{path} reads as"] + [f"  {r}" for r in got] + ["wanted"] +
                       [f"  {r}" for r in want]))
EOF
)

# The playbook on this machine, in a private mount namespace over those
# facts: hosts that report, fail the connection, refuse the switches, cannot
# get Kelvarin, cannot be reached (a closed port on the loopback); the
# folder Kelvarin runs from has a blank in its name.
tar -xzf "$work/a"/kelvarin-*-linux-"$(uname -m)".tar.gz -C "$work"
mkdir -p "$work/sys/firmware" "$work/sys/class/dmi/id" "$work/host tmp"
python3 -c "$facts_py" lay hostile "$work/sys/class/dmi/id"
local="ansible_connection=local ansible_python_interpreter=/usr/bin/python3"
cat >"$work/hosts" <<EOF
box $local
bad $local kelvarin_switches="/C /A /U someone"
refused $local kelvarin_switches=/V
lost ansible_connection=local ansible_python_interpreter=/nonexistent/python3
gone ansible_host=127.0.0.1 ansible_port=1 ansible_ssh_common_args="-o ConnectTimeout=2"
EOF
tools/with-firmware.sh "$work/sys" ansible-playbook -i "$work/hosts" contrib/ansible/inventory.yml \
  -e "kelvarin_binary=$(echo "$work"/kelvarin-*-linux-"$(uname -m)"/bin/kelvarin)" -e "inventory_csv=$work/fleet.csv" \
  -e "{\"kelvarin_tmp\": \"$work/host tmp\"}" >"$work/playbook.log" ||
  { cat "$work/playbook.log"; fail "the playbook failed"; }
[ -z "$(ls -A "$work/host tmp")" ] || fail "the playbook left files on a host"
python3 -c "$facts_py" exact hostile "$work/fleet.csv" bad,1 box,0 gone,unreachable lost,failed refused,9 ||
  fail "the playbook gathered another CSV"

# Run as its README says, from the folder that holds the tarball, with
# relative paths, over facts that start as formulas: hosts named as
# templates (one would run a command), and switches spelled as Kelvarin
# reads them, one kind left out, one refused.
mkdir -p "$work/formula/firmware" "$work/formula/class/dmi/id"
python3 -c "$facts_py" lay formula "$work/formula/class/dmi/id"
cat >"$work/names.yml" <<EOF
all:
  vars: {ansible_connection: local, ansible_python_interpreter: /usr/bin/python3}
  hosts:
    "x{{ 6*7 }}": {}
    "{{ lookup('pipe', 'id >$work/ran') }}": {}
    "x{%y": {}
    "=1+2": {}
    spelled: {kelvarin_switches: "/A/C -c /ALL"}
    dash-n: {kelvarin_switches: "-n"}
    slash-t: {kelvarin_switches: "/U x/t _"}
EOF
binary=$(cd "$work" && echo kelvarin-*-linux-"$(uname -m)"/bin/kelvarin)
(cd "$work" && "$top/tools/with-firmware.sh" "$work/formula" ansible-playbook -i names.yml \
  "$top/contrib/ansible/inventory.yml" -e "kelvarin_binary=$binary" -e inventory_csv=names.csv) \
  >"$work/playbook.log" || { cat "$work/playbook.log"; fail "the playbook failed over names and formulas"; }
[ ! -e "$work/ran" ] || fail "the playbook ran a host's name as a template"
python3 -c "$facts_py" exact formula "$work/names.csv" =1+2,0 dash-n,9 slash-t,9 spelled,0 'x{%y,0' \
  'x{{ 6*7 }},0' "{{ lookup('pipe', 'id >$work/ran') }},0" ||
  fail "the playbook gathered another CSV over names and formulas"
# --become is for Kelvarin on the hosts: a controller without sudo still
# gets its CSV.
printf '#!/bin/sh\necho "sudo: a password is required" >&2\nexit 1\n' >"$work/nosudo"
chmod 755 "$work/nosudo"
(cd "$work" && ansible-playbook -i hosts "$top/contrib/ansible/inventory.yml" --limit box --become --become-user nobody \
  -e ansible_become_exe="$work/nosudo" -e "kelvarin_binary=$binary" -e inventory_csv=become.csv) \
  >"$work/playbook.log" || { cat "$work/playbook.log"; fail "the playbook failed under --become"; }
python3 -c "$facts_py" exact hostile "$work/become.csv" box,failed ||
  fail "the playbook gathered another CSV under --become"
# A binary that is not there fails the play, with a message, before any host.
code=0
(cd "$work" && ansible-playbook -i hosts "$top/contrib/ansible/inventory.yml" \
  -e kelvarin_binary=no/kelvarin -e inventory_csv=none.csv) >"$work/playbook.log" || code=$?
[ "$code" != 0 ] && grep -q "$work/no/kelvarin is not a file on the controller" "$work/playbook.log" &&
  [ ! -e "$work/none.csv" ] || fail "the playbook without its binary exits with $code"

# The Windows script under Wine's cmd, UTF-8 its ANSI code page, over the same
# facts: the stand-in is registered as the WMI locator's COM server and reads
# them from "sys" beside it.
[ -f "$standin" ] || fail "no stand-in server at $standin (build the windows-ci preset)"
folder=$(tools/wine-standin.sh "$prefix" "$standin") || fail "the stand-in cannot be registered"
rm -rf "$folder/sys" && cp -r "$work/sys" "$folder/sys"
unzip -q -o -j "$work/a"/kelvarin-*-windows-x64.zip '*/kelvarin.exe' '*/inventory.cmd' -d "$folder"
win() {
  (cd "$folder" && LC_ALL=hi_IN.UTF-8 timeout 120 "$top/tools/wine.sh" "$prefix" "$@")
}
left() { find "$prefix/drive_c/users" -name 'kelvarin-inventory-*' | sort; }
before=$(left)
# This computer, a comment, names nobody answers to (one that cmd would run).
printf '.\r\n# skipped\r\nno-such-host.invalid\r\nx&y!PATH!.invalid\r\n' >"$folder/hosts.txt"
code=0
win cmd /c inventory.cmd hosts.txt fleet.csv || code=$?
[ "$code" = 1 ] || fail "inventory.cmd exits with $code"
python3 -c "$facts_py" cmd hostile "$folder/fleet.csv" .,0 no-such-host.invalid,1 'x&y!PATH!.invalid,1' ||
  fail "inventory.cmd wrote another CSV"
# Two runs started together keep their rows apart: one asks only this
# computer, the other only a host nobody answers to.
printf '.\r\n.\r\n.\r\n' >"$folder/here.txt"
printf 'none.invalid\r\nnone.invalid\r\nnone.invalid\r\n' >"$folder/none.txt"
win cmd /c inventory.cmd here.txt here.csv & here=$!
win cmd /c inventory.cmd none.txt none.csv & none=$!
code=0 && wait "$here" || code=$?
[ "$code" = 0 ] || fail "inventory.cmd beside another run exits with $code"
code=0 && wait "$none" || code=$?
[ "$code" = 1 ] || fail "inventory.cmd beside another run exits with $code"
python3 -c "$facts_py" cmd hostile "$folder/here.csv" .,0 .,0 .,0 &&
  python3 -c "$facts_py" cmd hostile "$folder/none.csv" none.invalid,1 none.invalid,1 none.invalid,1 ||
  fail "two runs of inventory.cmd mixed their rows"
[ "$(left)" = "$before" ] || fail "inventory.cmd left its folder"
# Facts and a name that start as formulas (the host is asked again with a
# TAB for delimiter, a line cmd can split).
rm -rf "$folder/sys" && cp -r "$work/formula" "$folder/sys"
printf '.\r\n@x.invalid\r\n' >"$folder/formula.txt"
code=0
win cmd /c inventory.cmd formula.txt formula.csv || code=$?
[ "$code" = 1 ] && python3 -c "$facts_py" cmd formula "$folder/formula.csv" .,0 @x.invalid,1 ||
  fail "inventory.cmd wrote formulas as they came ($code)"
# In a mount namespace of its own (so with a wineserver of its own): an output
# folder that is read-only, one that is full, and a temporary folder too
# small for the line of four long facts, which Kelvarin cuts and exits 1.
# One message and exit code 1 when the CSV cannot be written, and no CSV.
WINEPREFIX="$prefix" wineserver -k 2>/dev/null || true
export -f win
export folder prefix facts_py work top
unshare -m --propagation private bash -c '
set -eu
mkdir -p "$work/ro" "$work/full"
mount -t tmpfs -o ro none "$work/ro"
mount -t tmpfs -o size=4k none "$work/full"
head -c 4096 /dev/zero >"$work/full/filler"
printf ".\r\nnone.invalid\r\n" >"$folder/two.txt"
for dir in ro full; do
  code=0
  csv="Z:${work//\//\\}\\$dir\\f.csv"
  win cmd /c inventory.cmd two.txt "$csv" 2>"$folder/err" || code=$?
  if [ "$code" != 1 ] || [ -e "$work/$dir/f.csv" ] ||
     [ "$(grep -c "^inventory.cmd: " "$folder/err")" != 1 ]; then
    cat "$folder/err" >&2
    echo "release check: inventory.cmd into a $dir folder exits with $code" >&2
    exit 1
  fi
done
rm -rf "$folder/sys" && mkdir -p "$folder/sys/class/dmi/id"
python3 -c "$facts_py" lay long "$folder/sys/class/dmi/id"
mount -t tmpfs -o size=8k none "$(echo "$prefix"/drive_c/users/*/Temp)"
code=0
win cmd /c inventory.cmd two.txt cut.csv || code=$?
WINEPREFIX="$prefix" wineserver -k 2>/dev/null || true
[ "$code" = 1 ] && python3 -c "$facts_py" cmd long "$folder/cut.csv" .,failed none.invalid,1 || {
  echo "release check: inventory.cmd joined a cut line to the next row ($code)" >&2
  exit 1
}' || fail "inventory.cmd lost rows without a word"
rm -rf "$folder"
echo "release check: archives reproducible, linters clean, package and install layout right, fleet recipes gather their CSV"
