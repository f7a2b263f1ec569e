#!/usr/bin/env bash
# /M on Linux over a real OpenSSH server, for what only a real one shows:
# host keys, authentication, logins, sudo and the password helper's round
# trip. A private sshd on 127.0.0.1 with its own host key, configuration,
# authorized key and test account (which may sudo, while a sudoers entry
# says so) runs in the private mount namespace of tools/with-firmware.sh, so
# that the "other machine" serves chosen firmware, its serial number
# readable by root only. Every output form through ssh must equal the local run (as
# root) over the same firmware, byte for byte and exit code; every failure
# must end in the connection failure and exit code 1 within the deadline,
# with its reason on standard error naming the host. Needs root.
#   tools/ssh-test.sh KELVARIN   (not a sanitizer build: runs are held to 256 MiB of address space)
# With --run, over one SMBIOS table (a folder holding DMI and
# smbios_entry_point, and a class/dmi/id as a server has), it runs COMMAND
# there instead, with the fixture up, the host "fixture" and
# KELVARIN_SSH_COMMAND set: what tools/bench.sh measures with.
#   tools/ssh-test.sh KELVARIN --run TABLE COMMAND...
set -euo pipefail
if [ "$(id -u)" != 0 ]; then
  echo "ssh test: skipped, needs root (sshd, a private mount namespace, a test account)"
  exit 0
fi
cd "$(dirname "$0")/.."
top=$(pwd)
kelvarin=$(realpath "$1")
bench=${3:+$(realpath "$3")}
account="kelvarin-ssh-test" sudoers=/etc/sudoers.d/kelvarin-ssh-test
password="pw-$RANDOM$RANDOM-x"
work=$(mktemp -d /tmp/kelvarin.ssh-test.XXXXXX)
made_run_sshd=
cleanup() {
  userdel "$account" 2>/dev/null || true
  rm -f "$sudoers"
  [ -z "$made_run_sshd" ] || rmdir /run/sshd 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
fail() { echo "ssh test: $*" >&2; exit 1; }

# Ports on the loopback: one for sshd, one where nothing listens.
free_port() { python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])'; }
port=$(free_port) closed=$(free_port)
for key in host client wrong other-host; do ssh-keygen -q -t ed25519 -N '' -C "$key" -f "$work/$key"; done
cp "$work/client.pub" "$work/authorized_keys"
echo "[127.0.0.1]:$port $(cut -d' ' -f1,2 "$work/host.pub")" >"$work/known_hosts"
echo "[127.0.0.1]:$port $(cut -d' ' -f1,2 "$work/other-host.pub")" >"$work/changed_known_hosts"
useradd -M -d "$work" -s /bin/sh "$account"
echo "$account:$password" | chpasswd
echo "$account ALL=(root) NOPASSWD: ALL" >"$sudoers" && chmod 0440 "$sudoers"
# The password reaches the runs in a file: on no command line, not even the tests'.
echo "$password" >"$work/password"
[ -d /run/sshd ] || { mkdir -m 0755 /run/sshd && made_run_sshd=1; }
# Every host is the fixture (the loopback address itself is this machine to
# Kelvarin); OpenSSH matches Host entries case by case, so the lower-case
# name of the alias in mixed case reaches the closed port.
cat >"$work/config" <<EOF
Host db-prod-01
  Port $closed
Host *
  HostName 127.0.0.1
  Port $port
  User root
  IdentitiesOnly yes
  UserKnownHostsFile $work/known_hosts
  GlobalKnownHostsFile /dev/null
EOF
# The Debian OpenSSH client refuses a configuration others may write.
chmod 600 "$work/config"

# Firmware: class/dmi/id as sysfs has it, the serial numbers for root only;
# or for --run, the table given and a class/dmi/id as a server has.
fw="$work/fw/${bench:+table}"
mkdir -p "$fw/class/dmi/id"
if [ -n "$bench" ]; then
  mkdir -p "$fw/firmware/dmi/tables"
  cp "$bench/DMI" "$bench/smbios_entry_point" "$fw/firmware/dmi/tables/"
  for file in sys_vendor product_name bios_vendor bios_version product_serial board_serial chassis_serial; do
    echo "$file value" >"$fw/class/dmi/id/$file"
  done
else
  printf 'Soci\303\251t\303\251 "G\303\251n\303\251rale", Inc.\n' >"$fw/class/dmi/id/sys_vendor"
  printf 'SN\t42\n' >"$fw/class/dmi/id/board_serial"
  chmod 0400 "$fw/class/dmi/id/board_serial"
fi

# Inside the namespace: start sshd, wait for it, run the comparisons, stop it.
inside=$(cat <<'INNER'
set -euo pipefail
kelvarin=$1 work=$2 port=$3 account=$4 mode=$5 closed=$6 sudoers=$7
shift 7
password=$(cat "$work/password")
/usr/sbin/sshd -D -e -f /dev/null -p "$port" -o ListenAddress=127.0.0.1 -o HostKey="$work/host" \
  -o AuthorizedKeysFile="$work/authorized_keys" -o StrictModes=no -o PidFile=none -o UsePAM=no \
  -o KbdInteractiveAuthentication=no -o PermitRootLogin=prohibit-password 2>>"$work/sshd.log" &
sshd=$!
trap 'kill "$sshd" 2>/dev/null; wait "$sshd" 2>/dev/null || true' EXIT
for _ in $(seq 100); do
  (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null && break
  sleep 0.05
done
ssh="ssh -F $work/config"
export KELVARIN_SSH_COMMAND="$ssh -i $work/client"
status=0
if [ "$mode" = run ]; then "$@"; exit; fi
run() { "$kelvarin" "$@" 2>>"$work/ssh.err" | od -c; echo "exit ${PIPESTATUS[0]}"; }
differs() {  # WANT GOT WHAT
  [ "$1" != "$2" ] || return 0
  echo "$3" >&2 && diff <(echo "$1") <(echo "$2") >&2 || :
  status=1
}
same() {  # SWITCHES locally; /M HOST, the login switches and SWITCHES over ssh
  # shellcheck disable=SC2086
  differs "$(run "${@:3}")" "$(run /M "$1" $2 "${@:3}")" "differs: ${*:3} (local, then /M $1 over ssh)"
}
same fixture "" /V
same fixture "" /C /D ";" /R _ /T - /A
# Host aliases as typed; a user that sudo makes root, by password and by /P -.
same DB-Prod-01 "" /C
KELVARIN_SSH_BECOME=sudo same fixture "/U $account /P $password" /V
KELVARIN_SSH_BECOME=sudo same fixture "/U $account /P -" /C <"$work/password"

# Each fails as an unreachable host does, within the deadline (30 s) and 256 MiB.
fails() {  # SSH_COMMAND SWITCHES...
  local start=$SECONDS got
  got=$(export KELVARIN_SSH_COMMAND=$1; ulimit -v 262144; run "${@:2}" /C)
  [ $((SECONDS - start)) -le 31 ] || got="after $((SECONDS - start)) s: $got"
  differs "$(printf '#WMIERROR#,#WMIERROR#,#WMIERROR#,#WMIERROR#\r\n' | od -c; echo "exit 1")" "$got" \
    "does not fail cleanly: $*"
}
: >"$work/ssh.err"
fails "$ssh -i $work/client -o UserKnownHostsFile=/dev/null" /M unknown
fails "$ssh -o UserKnownHostsFile=/dev/null" /M fixture /U "$account" /P "$password"
fails "$ssh -i $work/client -o UserKnownHostsFile=$work/changed_known_hosts" /M fixture
fails "$ssh -i $work/wrong" /M fixture
fails "$KELVARIN_SSH_COMMAND" /M db-prod-01
fails "$ssh" /M fixture /U "$account" /P "not-$password"
reason() {  # HOST TEXT: the line on standard error that says why HOST failed
  grep -qxF "kelvarin: $1: $2" "$work/ssh.err" || { echo "no reason \"$2\" for $1" >&2; status=1; }
}
reason db-prod-01 "ssh: connect to host 127.0.0.1 port $closed: Connection refused"
reason unknown "Host key verification failed."
# Without a sudoers entry sudo asks for a password, which is a failed connection.
rm "$sudoers"
KELVARIN_SSH_BECOME=sudo fails "$ssh" /M sudo /U "$account" /P "$password"
reason sudo "sudo: a password is required"

exit $status
INNER
)
mode=${bench:+run}
tools/with-firmware.sh "$fw" bash -c "$inside" inside "$kelvarin" "$work" "$port" "$account" \
  "${mode:-test}" "$closed" "$sudoers" "${@:4}" ||
  fail "over ssh the output differs from the local run (sshd's log: $(cat "$work/sshd.log"))"
[ -n "$bench" ] || echo "ssh test: the failures fail cleanly with their reasons; every form over ssh equals the local run"
