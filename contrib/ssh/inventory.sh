#!/bin/sh
# Inventory of many Linux hosts over OpenSSH, 16 at a time: runs
# "kelvarin /M host /C /D <TAB>" for every host named in a list (the first
# word of each line; lines starting with # are skipped) and writes one CSV
# file (RFC 4180), in the list's order, with the host name first and
# Kelvarin's exit code second. Every host keeps its row of six fields:
#   0       the report was made; a fact that was not found is #NOTFOUND#
#   1       the connection failed: all four facts are #WMIERROR#
#   9       Kelvarin refused its command line: no facts
#   failed  Kelvarin could not be run, or ended otherwise: no facts
# A fact never holds a TAB, so Kelvarin's line splits without doubt; every
# value is quoted here and a quote inside it doubled. ssh reaches each host
# as the user's configuration says (keys, agent, ~/.ssh/config, known hosts);
# serial numbers need a remote user that may read them (root). A host name
# holds no blank, quote or backslash.
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
  line=$("$kelvarin" /M "$host" /C /D "$tab" </dev/null) || code=$?
  case $code in 0 | 1 | 9) ;; *) code=failed ;; esac
  printf '%s\t%s\t%s\n' "$host" "$code" "$line" | awk -F '\t' '
    function q(s) { gsub(/"/, "\"\"", s); return "\"" s "\"" }
    NR == 1 {
      sub(/\r$/, "")
      row = q($1) "," $2
      for (i = 3; i <= 6; i++) row = row "," ($2 == 0 || $2 == 1 ? q($i) : "")
      printf "%s\r\n", row
    }' >"$rows/$place"
  [ "$code" = 0 ] || : >"$rows/failed"
  exit 0
fi
if [ $# -lt 2 ]; then
  echo "usage: inventory.sh HOSTS.TXT OUTPUT.CSV [KELVARIN]" >&2
  exit 9
fi
hosts=$1 csv=$2 kelvarin=${3:-kelvarin}
rows=$(mktemp -d)
trap 'rm -rf "$rows"' EXIT
awk '!/^#/ && NF { print NR, $1 }' "$hosts" | xargs -n 2 -P 16 sh "$0" --row "$rows" "$kelvarin"
{
  printf '"host","exit_code","manufacturer","model","serial_number","bios_version"\r\n'
  find "$rows" -name '[0-9]*' | sed 's|.*/||' | sort -n | while read -r place; do cat "$rows/$place"; done
} >"$csv"
[ ! -e "$rows/failed" ]
