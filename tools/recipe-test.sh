#!/usr/bin/env bash
# The ssh fleet recipe (contrib/ssh/inventory.sh) with a stand-in ssh on this
# machine: a CR LF host list, each host's reasons on standard error, the
# progress on a terminal only, and Ctrl-C or SIGTERM ending every run.
#   tools/recipe-test.sh KELVARIN
set -euo pipefail
KELVARIN=$(realpath "$1")
RECIPE=$(realpath "$(dirname "$0")/../contrib/ssh/inventory.sh")
work=$(mktemp -d)
# A stand-in left waiting on the pipe is let go before the folder goes.
trap ': <>"$work/never"; rm -rf "$work"' EXIT
fail() { echo "recipe test: $*" >&2; exit 1; }
mkfifo "$work/never" && mkdir "$work/tmp"
# script(1) runs its command with $SHELL.
export KELVARIN RECIPE TMPDIR=$work/tmp HOSTS=$work/hosts WORK=$work SHELL=/bin/sh
marker=kelvarin-standin-$$
# The stand-in sends facts with quotes, a comma and a TAB for "facts"; bad-*
# hosts get a reason line and ssh's 255. Kelvarin refuses the other names.
{
  printf '\nkelvarin-snapshot\nD class/dmi/id\n'
  for f in 'sys_vendor=Soci\303\251t\303\251 "G\303\251n\303\251rale", Inc.' 'product_name= Blade; 8 slots ' \
    'board_serial=SN\t42' 'bios_version=2.3.4'; do
    v=$(printf "${f#*=}") && printf 'F class/dmi/id/%s %d\n%s' "${f%%=*}" "$(printf %s "$v" | wc -c)" "$v"
  done
  printf 'E\n'
} >"$work/facts"
export KELVARIN_SSH_COMMAND='case "$*" in *" -- bad-"*) echo "no route, and a comma" >&2; exit 255 ;; esac
  cat "$WORK/facts"; :'
{
  printf 'facts extra words\r\n# a comment\r\n\r\n'
  for i in 1 2 3 4 5 6 7 8; do printf 'bad-%s\r\n' "$i"; done
  printf '=lead\r\n\rcr\r\nbad,host\r\n'"it's,\\\\\"q"'\r\n'
} >"$HOSTS"

# Standard error a file, standard output a terminal: the CSV as Python reads
# it, the reasons whole, no progress.
code=0
script -qec 'sh "$RECIPE" "$HOSTS" "$WORK/crlf.csv" "$KELVARIN" 2>"$WORK/log"' /dev/null </dev/null >/dev/null || code=$?
[ "$code" = 1 ] || fail "a list with failing hosts exits with $code"
python3 - "$work/crlf.csv" <<'PY' || fail "the CSV is not what was asked"
import csv, sys
e, n = ["#WMIERROR#"] * 4, [""] * 4
want = [["host", "exit_code", "manufacturer", "model", "serial_number", "bios_version"],
        ["facts", "0", 'Soci\u00e9t\u00e9 "G\u00e9n\u00e9rale", Inc.', "Blade; 8 slots", "SN 42", "2.3.4"]] + \
       [[f"bad-{i}", "1"] + e for i in range(1, 9)] + [["'=lead", "1"] + e, ["'\rcr", "1"] + e, ["bad,host", "9"] + n, ["it's,\\\"q", "9"] + n]
got = list(csv.reader(open(sys.argv[1], newline="", encoding="utf-8"), strict=True))
sys.exit(None if got == want else f"the recipe wrote {got}")
PY
# Two whole lines for each bad host, and no line without its host (no progress either).
[ "$(grep -cxE "kelvarin: bad-[1-8]: (no route, and a comma|ssh exited with status 255)" "$WORK/log")" = 16 ] &&
  ! grep -v '^kelvarin: [^:]*: ' "$WORK/log" || fail "the log holds other than each host's reasons whole"
# A line that did not arrive whole is a failed row; a CSV that cannot be
# written is an error, never a success.
printf '#!/bin/sh\nprintf "M\\tP\\tS"\n' >"$work/cut" && chmod +x "$work/cut"
code=0 && sh "$RECIPE" "$HOSTS" "$work/cut.csv" "$work/cut" 2>/dev/null || code=$?
[ "$code" = 1 ] && [ "$(grep -c ',failed,,,,' "$work/cut.csv")" = 13 ] || fail "a cut line was no failed row"
! sh "$RECIPE" "$HOSTS" /dev/full "$KELVARIN" 2>"$work/full.err" && grep -q 'could not write' "$work/full.err" ||
  fail "a CSV on a full disk was a success"

# Standard error a terminal: the progress, and reason lines never glued to it.
shown=$(script -qec 'sh "$RECIPE" "$HOSTS" "$WORK/tty.csv" "$KELVARIN"' /dev/null </dev/null || :)
[[ $shown == *"13 of 13 hosts, 12 failed"$'\r' ]] || fail "no progress on a terminal: $(od -c <<<"$shown")"
[[ $shown != *[!K$'\n']kelvarin:* ]] || fail "a reason glued to the progress: $(od -c <<<"$shown")"
cmp -s "$WORK/crlf.csv" "$WORK/tty.csv" || fail "the CSV differs on a terminal"

# Interrupted while the stand-ins wait: Ctrl-C reaches the recipe's whole
# process group, SIGTERM or SIGHUP from kill its pid alone. Nothing may be left.
export KELVARIN_SSH_COMMAND=": $marker; read x <\"$work/never\" ||:"
printf 'a\nb\nc\n' >"$HOSTS"
while read -r signal target status; do
  # A process group of its own, as a terminal's job, and the signals' default
  # actions even where this test's own are ignored (a background job, nohup).
  python3 -c 'import os, signal, sys
for s in (signal.SIGINT, signal.SIGTERM, signal.SIGHUP): signal.signal(s, signal.SIG_DFL)
os.setpgid(0, 0)
os.execvp("sh", ["sh"] + sys.argv[1:])' "$RECIPE" "$HOSTS" "$work/stopped.csv" "$KELVARIN" 2>/dev/null &
  pid=$!
  for _ in $(seq 100); do [ "$(pgrep -fc "$marker")" != 3 ] || break; sleep 0.1; done
  [ "$(pgrep -fc "$marker")" = 3 ] || fail "the stand-ins did not start"
  SECONDS=0 && kill -s "$signal" -- "${target/pid/$pid}"
  code=0 && { wait "$pid"; } 2>/dev/null || code=$?
  [ "$code" = "$status" ] && [ "$SECONDS" -lt 5 ] || fail "after SIG$signal the recipe exits with $code in $SECONDS s"
  ! pgrep -fa "$marker" || fail "a stand-in is left after SIG$signal"
  [ -z "$(ls -A "$TMPDIR")" ] && [ ! -e "$work/stopped.csv" ] || fail "files left after SIG$signal: $(ls -A "$TMPDIR")"
done <<'TABLE'
INT  -pid 130
TERM pid  143
HUP  pid  129
TABLE
echo "recipe test: a CR LF list, the reasons in a log, the progress on a terminal, Ctrl-C, SIGTERM and SIGHUP"
