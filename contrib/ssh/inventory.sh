#!/bin/sh
# Inventory of many Linux hosts over OpenSSH, 16 at a time: runs
# "kelvarin /M host /C /D <TAB>" for every host named in a list (the first
# word of each line; lines starting with # are skipped) and writes one CSV
# file (RFC 4180), in the list's order, with the host name first and
# Kelvarin's exit code second. Every host keeps its row of six fields:
#   0       the report was made; a fact that was not found is #NOTFOUND#
#   1       the connection failed: all four facts are #WMIERROR#
#   9       Kelvarin refused its command line: no facts
#   failed  Kelvarin could not be run, ended otherwise, or its line did not
#           arrive whole: no facts
# A fact never holds a TAB, so Kelvarin's line splits without doubt; every
# value is quoted here and a quote inside it doubled. A value that starts
# with = + - @ (which a spreadsheet would run as a formula) gets an apostrophe
# inside its quotes; Kelvarin's own /C line is not changed. A run whose line
# did not arrive whole (not one line of four fields ending in CR LF, or exit
# code 1 without the connection-failure line) is a "failed" row. ssh reaches
# each host as the user's configuration says (keys, agent, ~/.ssh/config,
# known hosts); serial numbers need a remote user that may read them (root).
# Host names are passed on as they are written, never read by a shell.
#
#   inventory.sh HOSTS.TXT OUTPUT.CSV [KELVARIN]
#
# KELVARIN defaults to kelvarin on PATH. The exit code is 0 when every host
# gave its facts, 1 when any did not, 9 for a wrong command line.
set -eu
tab=$(printf '\t')
if [ "${1:-}" = --row ]; then
  # One host: its row in a file of its own, named by its place in the list,
  # so that rows written at the same moment never mix and keep their order.
  rows=$2 kelvarin=$3 place=$4 host=$5 code=0
  out=$rows/$place.out
  "$kelvarin" /M "$host" /C /D "$tab" </dev/null >"$out" || code=$?
  # The host comes through the environment: awk -v would read its backslashes.
  size=$(wc -c <"$out") host=$host code=$code failed=$rows/failed LC_ALL=C awk -F '\t' '
    function q(s) {
      if (s ~ /^[=+@-]/) s = "\047" s
      gsub(/"/, "\"\"", s)
      return "\"" s "\""
    }
    NR == 1 { line = $0 }
    END {
      code = ENVIRON["code"]
      whole = NR == 1 && length(line) + 1 == ENVIRON["size"] && sub(/\r$/, "", line)
      n = split(line, f, "\t")
      if (code == 1 && !(whole && line == "#WMIERROR#\t#WMIERROR#\t#WMIERROR#\t#WMIERROR#")) code = "failed"
      if (code == 0 && !(whole && n == 4)) code = "failed"
      if (code != 0 && code != 1 && code != 9) code = "failed"
      row = q(ENVIRON["host"]) "," code
      for (i = 1; i <= 4; i++) row = row "," (code == 0 || code == 1 ? q(f[i]) : "")
      printf "%s\r\n", row
      if (code != 0) printf "" >ENVIRON["failed"]
    }' "$out" >"$rows/$place"
  exit 0
fi
if [ $# -lt 2 ]; then
  echo "usage: inventory.sh HOSTS.TXT OUTPUT.CSV [KELVARIN]" >&2
  exit 9
fi
hosts=$1 csv=$2 kelvarin=${3:-kelvarin}
rows=$(mktemp -d)
trap 'rm -rf "$rows"' EXIT
# Each host as its place and its name, NUL-separated, so that xargs reads no
# quote or backslash in a name.
awk '!/^#/ && NF { print NR; print $1 }' "$hosts" | tr '\n' '\0' >"$rows/list"
if ! xargs -0 -n 2 -P 16 sh "$0" --row "$rows" "$kelvarin" <"$rows/list"; then
  echo "inventory.sh: a host's row could not be written in $rows" >&2
  exit 1
fi
# Every host's row, in the list's order; a row missing or not written fails the whole CSV.
rows_in_order() {
  printf '"host","exit_code","manufacturer","model","serial_number","bios_version"\r\n' || return 1
  awk '!/^#/ && NF { print NR }' "$hosts" | while read -r place; do
    cat "$rows/$place" || return 1
  done
}
if ! rows_in_order >"$csv"; then
  echo "inventory.sh: could not write $csv" >&2
  [ ! -f "$csv" ] || rm -f "$csv"
  exit 1
fi
[ ! -e "$rows/failed" ]
