#!/bin/sh
# Runs COMMAND in a private mount namespace whose /sys/firmware and /sys/class
# hold what ROOT/firmware and ROOT/class hold (nothing, where ROOT has none),
# so that Kelvarin reads chosen firmware at its real paths. Needs root.
#   tools/with-firmware.sh ROOT COMMAND [ARGUMENT...]
set -eu
exec unshare -m sh -c 'set -e
for d in firmware class; do
  mount -t tmpfs none "/sys/$d"
  [ ! -d "$1/$d" ] || cp -r "$1/$d/." "/sys/$d/"
done
shift
exec "$@"' sh "$@"
