#!/usr/bin/env bash
# Compares one full Kelvarin run (four facts, five WMI classes) with one
# `dmidecode -s system-serial-number` call on the same SMBIOS table: wall time,
# instructions (callgrind) and peak memory. Then, on the same table behind a
# private sshd on 127.0.0.1, `kelvarin /M HOST /C` beside `ssh HOST true`
# (medians of 20 paired runs) and the bytes the other side sends. Needs root:
# both read the table from its sysfs paths inside a private mount namespace.
#   tools/bench.sh [TABLE_DIR] [RUNS]
# TABLE_DIR holds DMI and smbios_entry_point (default: the Dell PowerEdge
# table among the real tables beside the checkout); RUNS timed runs of each
# (default 200).
set -euo pipefail
cd "$(dirname "$0")/.."
top=$(pwd)
table=${1:-$top/../shared/smbios/Dell-PowerEdge-R630-Dual-Xeon}
runs=${2:-200}
if [ ! -f "$table/DMI" ] || [ ! -f "$table/smbios_entry_point" ]; then
  echo "bench: $table holds no DMI and smbios_entry_point" >&2
  exit 2
fi

if [ "$(id -u)" != 0 ]; then
  echo "bench: run as root (it uses a private mount namespace)" >&2
  exit 2
fi
tools/install-deps.sh --tests
for p in dmidecode valgrind time; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' ||
    DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends "$p" >/dev/null
done

cmake --preset release >/dev/null
cmake --build --preset release --target kelvarin >/dev/null

root=$(mktemp -d)
trap 'rm -rf "$root"' EXIT
mkdir -p "$root/firmware/dmi/tables"
cp "$table/DMI" "$table/smbios_entry_point" "$root/firmware/dmi/tables/"
tools/with-firmware.sh "$root" bash -s "$top/build/release/src/kelvarin" "$runs" <<'INNER'
set -euo pipefail
kelvarin=$1 runs=$2

wall() {  # mean wall time of one run, in microseconds
  local start end
  start=$(date +%s%N)
  for ((i = 0; i < runs; i++)); do "$@" >/dev/null; done
  end=$(date +%s%N)
  echo $(( (end - start) / runs / 1000 ))
}
instructions() {
  valgrind --tool=callgrind --callgrind-out-file=/dev/null "$@" 2>&1 >/dev/null |
    sed -n 's/.*Collected : \([0-9]*\).*/\1/p'
}
peak() {  # maximum resident set size, KiB
  /usr/bin/time -f %M "$@" 2>&1 >/dev/null | tail -n 1
}

echo "same table for both: $("$kelvarin" /C) | dmidecode: $(dmidecode -s system-serial-number)"
printf '%-42s %12s %16s %14s\n' "command" "wall (us)" "instructions" "peak RSS (KiB)"
for cmd in "$kelvarin" "dmidecode -s system-serial-number"; do
  # shellcheck disable=SC2086
  printf '%-42s %12s %16s %14s\n' "$(basename ${cmd%% *})${cmd#"${cmd%% *}"}" \
    "$(wall $cmd)" "$(instructions $cmd)" "$(peak $cmd)"
done
INNER
# The same table behind a private sshd: medians of 20 paired runs of
# `ssh HOST true` and `kelvarin /M HOST /C`, and the bytes the other side sends.
tools/ssh-test.sh "$top/build/release/src/kelvarin" --run "$table" bash -c '
ms() { local start=$(date +%s%N); "$@" >/dev/null; echo $((($(date +%s%N) - start) / 1000000)); }
median() { sort -n | awk "{ v[NR] = \$1 } END { print (v[int((NR + 1) / 2)] + v[int(NR / 2) + 1]) / 2 }"; }
sent=$(mktemp) times=$(mktemp)
# shellcheck disable=SC2086
for _ in $(seq 20); do echo "$(ms $KELVARIN_SSH_COMMAND fixture true) $(ms "$0" /M fixture /C)"; done >"$times"
ssh=$(cut -d" " -f1 "$times" | median) run=$(cut -d" " -f2 "$times" | median)
KELVARIN_SSH_COMMAND="f() { $KELVARIN_SSH_COMMAND \"\$@\" | tee $sent; }; f" "$0" /M fixture /C >/dev/null
echo "ssh HOST true: $ssh ms; kelvarin /M HOST /C: $run ms ($(awk "BEGIN { printf \"%.2f\", $run / $ssh }") times);" \
  "the other side sent $(wc -c <"$sent") bytes (medians of 20 paired runs)"
rm -f "$sent" "$times"' "$top/build/release/src/kelvarin"
