#!/bin/sh
# Inventory of many Linux hosts over OpenSSH, 16 at a time: runs
# "kelvarin /M host /C /D <TAB>" for every host named in a list (the first
# word of each line, LF or CR LF line ends; lines starting with # are skipped)
# and writes one CSV file (RFC 4180), in the list's order, with the host name
# first and Kelvarin's exit code second. Every host keeps its row of six fields:
#   0       the report was made; a fact that was not found is #NOTFOUND#
#   1       the connection failed: all four facts are #WMIERROR#
#   9       Kelvarin refused its command line: no facts
#   failed  Kelvarin could not be run, ended otherwise, or its line did not
#           arrive whole: no facts
# A fact never holds a TAB, so Kelvarin's line splits without doubt; every
# value is quoted here and a quote inside it doubled. A value that starts
# with = + - @, a TAB or a CR (which a spreadsheet would run as a formula) gets
# an apostrophe inside its quotes; Kelvarin's own /C line is not changed. A
# run whose line did not arrive whole (not one line of four fields ending in
# CR LF, or exit code 1 without the connection-failure line) is a "failed"
# row. ssh reaches each host as the user's configuration says (keys, agent,
# ~/.ssh/config, known hosts); serial numbers need a remote user that may read
# them (root, or KELVARIN_SSH_BECOME, which Kelvarin reads from the
# environment). Host names are passed on as they are written, never read by a
# shell.
#
#   inventory.sh HOSTS.TXT OUTPUT.CSV [KELVARIN]
#   KELVARIN_SSH_BECOME=sudo contrib/ssh/inventory.sh hosts.txt fleet.csv
#
# KELVARIN defaults to kelvarin on PATH. The exit code is 0 when every host
# gave its facts, 1 when any did not, 9 for a wrong command line. Why a host
# failed goes to standard error, a line at a time and prefixed with the host,
# so "2> fleet.log" keeps a log; on a terminal the progress is shown there too
# ("12 of 50 hosts, 1 failed"). Ctrl-C, SIGTERM or SIGHUP ends every run and
# its ssh and leaves neither the temporary folder nor a half-written CSV.
# Besides a POSIX sh, it needs util-linux's setsid and flock.
set -eu
tab=$(printf '\t')

# The progress so far, over the line it replaces.
progress() {
  finished=$(($(wc -c <"$rows/done"))) failed=$(($(wc -c <"$rows/failed")))
  printf '\r\033[K%s of %s hosts' "$finished" "$total"
  [ "$failed" = 0 ] || printf ', %s failed' "$failed"
}

if [ "${1:-}" = --row ]; then
  # One host: its row in a file of its own, named by its place in the list,
  # so that rows written at the same moment never mix and keep their order.
  rows=$2 kelvarin=$3 total=$4 place=$5 host=$6 code=0 verdict=0
  out=$rows/$place.out
  # On a terminal the host's reasons wait in a file, to be shown whole
  # between two progress lines; elsewhere Kelvarin writes each line at once.
  if [ -t 2 ]; then exec 3>"$rows/$place.err"; else exec 3>&2; fi
  "$kelvarin" /M "$host" /C /D "$tab" </dev/null >"$out" 2>&3 3>&- || code=$?
  exec 3>&-
  # The host comes through the environment: awk -v would read its backslashes.
  # awk ends with 10 for a host that did not give its facts.
  size=$(wc -c <"$out") host=$host code=$code LC_ALL=C awk -F '\t' '
    function q(s) {
      if (s ~ /^[=+@\t\r-]/) s = "\047" s
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
      if (code != 0) exit 10
    }' "$out" >"$rows/$place" || verdict=$?
  [ "$verdict" = 0 ] || [ "$verdict" = 10 ] || exit 1
  # Counted and shown under a lock, so that the count shown never goes back
  # and no host's reasons land inside another's progress line.
  {
    [ ! -t 2 ] || flock 9
    printf . >>"$rows/done"
    [ "$verdict" = 0 ] || printf . >>"$rows/failed"
    if [ -t 2 ]; then
      { printf '\r\033[K' && cat "$rows/$place.err" && progress; } >&2 || :
    fi
  } 9>>"$rows/lock"
  exit 0
fi
if [ $# -lt 2 ]; then
  echo "usage: inventory.sh HOSTS.TXT OUTPUT.CSV [KELVARIN]" >&2
  exit 9
fi
hosts=$1 csv=$2 kelvarin=${3:-kelvarin}
rows=$(mktemp -d)
running='' writing=''
trap 'rm -rf "$rows"' EXIT
# Interrupted: the runs are ended (Kelvarin ends its ssh before it goes), what
# was made is removed, and the script ends by the same signal, as its caller
# expects. dash runs no EXIT trap on a signal, hence a trap for each. The runs
# are a process group of their own, so that a signal sent to this script alone
# reaches them too, and never this script's caller. Each of them holds the
# locked "runs" open, so the lock can be taken again once the last of them is
# gone, zombies included.
stop() {
  trap '' INT TERM HUP
  exec 8>&-
  if [ -n "$running" ] && [ -n "${!:-}" ] && kill -s TERM -- "-$!" 2>/dev/null; then
    flock -w 10 "$rows/runs" true 2>/dev/null || kill -s KILL -- "-$!" 2>/dev/null || :
    wait "$!" 2>/dev/null || :
  fi
  rm -rf "$rows"
  [ -z "$writing" ] || [ ! -f "$csv" ] || rm -f "$csv"
  [ ! -t 2 ] || echo >&2 || :
  trap - "$1"
  kill -s "$1" $$
  exit 1
}
trap 'stop INT' INT
trap 'stop TERM' TERM
trap 'stop HUP' HUP
# Each host as its place and its name, NUL-separated, so that xargs reads no
# quote or backslash in a name; the places alone, for the CSV's order.
: >"$rows/places"
if ! places=$rows/places LC_ALL=C awk '{ sub(/\r$/, "") }
    !/^#/ && NF { print NR; print $1; print NR >ENVIRON["places"] }' "$hosts" >"$rows/names"; then
  echo "inventory.sh: could not read $hosts" >&2
  exit 1
fi
tr '\n' '\0' <"$rows/names" >"$rows/list"
total=$(($(wc -l <"$rows/places")))
: >"$rows/done"
: >"$rows/failed"
[ ! -t 2 ] || progress >&2
exec 8>"$rows/runs"
flock 8
running=1
setsid xargs -0 -r -n 2 -P 16 sh "$0" --row "$rows" "$kelvarin" "$total" <"$rows/list" &
exec 8>&-
if ! wait "$!"; then
  running=
  [ ! -t 2 ] || echo >&2
  echo "inventory.sh: a host's row could not be written in $rows" >&2
  exit 1
fi
running=
[ ! -t 2 ] || { progress && echo; } >&2
# Every host's row, in the list's order; a row missing or not written fails the whole CSV.
rows_in_order() {
  printf '"host","exit_code","manufacturer","model","serial_number","bios_version"\r\n' || return 1
  while read -r place; do
    cat "$rows/$place" || return 1
  done <"$rows/places"
}
writing=1
if ! rows_in_order >"$csv"; then
  echo "inventory.sh: could not write $csv" >&2
  [ ! -f "$csv" ] || rm -f "$csv"
  exit 1
fi
writing=
[ ! -s "$rows/failed" ]
